// An effect with one input and one output bus of equal channel counts, one
// kernel per channel, bypass and in-place processing.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "AUBase.h"
#include "AUKernelBase.h"

class AUEffectBase : public AUBase {
 public:
  // What Render hands through the slicing to ProcessScheduledSlice.
  struct ScheduledSliceContext {
    AudioUnitRenderActionFlags* mActionFlags;
    AudioBufferList* mInput;
    AudioBufferList* mOutput;
  };

  AUEffectBase(AudioComponentInstance instance, bool processesInPlace = true);
  // Beside each virtual, the thread that calls it (as in AUBase).
  ~AUEffectBase() override;                                                 // control
  OSStatus Initialize() override;                                           // control
  void Cleanup() override { mKernels.clear(); }                             // control
  OSStatus Reset(AudioUnitScope scope, AudioUnitElement element) override;  // control
  OSStatus GetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                           UInt32& outDataSize, Boolean& outWritable) override;  // control
  OSStatus GetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       void* outData) override;  // control
  OSStatus SetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       const void* inData, UInt32 inDataSize) override;  // control
  OSStatus Render(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& timeStamp,
                  UInt32 frames) VARSILE_NONBLOCKING override;                         // render
  bool StreamFormatWritable(AudioUnitScope scope, AudioUnitElement element) override;  // control
  OSStatus ProcessScheduledSlice(void* context, UInt32 sliceStart, UInt32 sliceFrames,
                                 UInt32 totalFrames) VARSILE_NONBLOCKING override;  // render

  // ---- Virtual operations added by the effect base, in slot order ----
  // A kernel for one channel, or null (that channel is then not processed).
  virtual AUKernelBase* NewKernel() { return nullptr; }  // control
  virtual OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags, const AudioBufferList& input,
                                      AudioBufferList& output, UInt32 frames) VARSILE_NONBLOCKING;  // render
  virtual bool ShouldBypassEffect() { return mBypass; }                                             // render
  virtual void SetBypassEffect(bool bypass) { mBypass = bypass; }                                   // control

  // ---- For kernels and the effect ----
  using AUBase::GetParameter;
  using AUBase::SetParameter;
  // Element 0 of the global scope.
  Float32 GetParameter(AudioUnitParameterID id);
  // Element 0 of the global scope; no notification.
  void SetParameter(AudioUnitParameterID id, Float32 value);
  // Output element 0's sample rate; kAudioUnitErr_InvalidElement thrown without it.
  Float64 GetSampleRate();
  // True once the input has been silent for the latency plus the tail time.
  bool IsInputSilent(AudioUnitRenderActionFlags actionFlags, UInt32 frames);
  // One kernel per output channel; existing kernels are kept.
  void MaintainKernels();

  bool ProcessesInPlace() const noexcept { return mInPlace; }
  UInt32 GetNumberOfKernels() const noexcept { return static_cast<UInt32>(mKernels.size()); }
  AUKernelBase* GetKernel(UInt32 channel) const noexcept {
    return channel < mKernels.size() ? mKernels[channel].get() : nullptr;
  }

 protected:
  std::vector<std::unique_ptr<AUKernelBase>> mKernels;  // entry i serves channel i; may be null
  // Switched from control threads while the render thread reads them.
  std::atomic<bool> mBypass{false};
  std::atomic<bool> mInPlace;
  // Set by switching bypass off; the next render resets the kernels, which
  // only the render thread may touch while rendering can run.
  std::atomic<bool> mKernelResetPending{false};
  SInt32 mSilenceCountdown = 0;
  bool mSilenceRearm = true;
};
