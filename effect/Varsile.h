// The pitch-aware gate: an in-place effect whose kernels track each channel's
// pitch class and scale the channel by the volume of its interval above the key.
#pragma once

#include <Varsile/CoreTypes.h>

#include <atomic>
#include <mutex>

#include "AUEffectBase.h"
#include "FFTShiftLL.h"
#include "VarsileParameters.h"

class Varsile : public AUEffectBase {
 public:
  // What the kernels read of the parameters, in the form they use it: read
  // once per render slice for all channels rather than once per kernel call.
  struct KernelParameters {
    Float32 a4Frequency;
    long holdThreshold;  // the jitter threshold, truncated
    Float32 accuracyThreshold;
    UInt32 key;  // the key's pitch class
    Float32 intervalVolumes[kNumberOfIntervals];
    Float32 attackTime;  // seconds, within kMinTime..kMaxTime
    Float32 releaseTime;
  };

  // One channel: its tracker and its ramped gain.
  class VarsileKernel : public AUKernelBase {
   public:
    explicit VarsileKernel(Varsile* effect);
    ~VarsileKernel() override;

    void Reset() override;
    void Process(const Float32* source, Float32* destination, UInt32 frames, UInt32 channelStride,
                 bool& ioSilence) noexcept VARSILE_NONBLOCKING override;

    // Safe to read from any thread while Process runs.
    Float32 Volume() const noexcept { return mVolume.load(std::memory_order_relaxed); }
    FFTShiftLL& Tracker() noexcept { return mTracker; }
    const FFTShiftLL& Tracker() const noexcept { return mTracker; }
    UInt32 WholeSampleRate() const noexcept { return mWholeSampleRate; }

    static constexpr long kLog2Size = 11;     // a 2048-point transform
    static constexpr long kOversampling = 8;  // an analysis every 256 samples
    static constexpr UInt32 kHopFrames = (1u << kLog2Size) / kOversampling;
    static constexpr Float32 kMinTime = 0.01f;
    static constexpr Float32 kMaxTime = 10.0f;

   protected:
    // The parameters of the slice being rendered; read afresh when the
    // kernel is called outside the effect's render.
    const KernelParameters& Parameters() const noexcept VARSILE_NONBLOCKING;
    // Runs the tracker over the block (it writes nothing to destination) and
    // returns the volume of the interval it hears above the key.
    Float32 Decide(const Float32* source, Float32* destination, UInt32 frames) noexcept VARSILE_NONBLOCKING;
    // The change of gain per sample from volume toward target: the attack or
    // release rate, or none on the target.
    Float32 StepFor(Float32 volume, Float32 target) const noexcept VARSILE_NONBLOCKING;

    Varsile& mGate;
    mutable KernelParameters mOwnParameters{};
    FFTShiftLL mTracker;
    // Percent; written once per block by the render thread, read by the meters.
    std::atomic<Float32> mVolume{100.0f};
    UInt32 mWholeSampleRate = 0;
    Float32 mShiftTable[kNumberOfPitchClasses] = {};
  };

  explicit Varsile(AudioComponentInstance instance);

  SInt32 Version() override { return kVersion; }
  OSStatus GetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                           UInt32& outDataSize, Boolean& outWritable) override;
  OSStatus GetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       void* outData) override;
  OSStatus GetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                        AudioUnitParameterValue& outValue) override;
  OSStatus SetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                        AudioUnitParameterValue value, UInt32 bufferOffsetInFrames) override;
  OSStatus GetParameterInfo(AudioUnitScope scope, AudioUnitParameterID id,
                            AudioUnitParameterInfo& outInfo) override;
  OSStatus RestoreState(CFPropertyListRef data) override;
  OSStatus GetParameterValueStrings(AudioUnitScope scope, AudioUnitParameterID id,
                                    CFArrayRef* outStrings) override;
  AUKernelBase* NewKernel() override { return new VarsileKernel(this); }
  OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags, const AudioBufferList& input,
                              AudioBufferList& output, UInt32 frames) VARSILE_NONBLOCKING override;

  // The parameters as they stand now; reads nothing that could throw.
  KernelParameters ReadKernelParameters() noexcept VARSILE_NONBLOCKING;
  // Those of the slice being rendered, or null outside ProcessBufferLists.
  const KernelParameters* RenderParameters() const noexcept {
    return mRendering ? &mRenderParameters : nullptr;
  }

  // The element-0 accessors of the effect base stay visible beside the overrides.
  using AUEffectBase::GetParameter;
  using AUEffectBase::SetParameter;

  static constexpr SInt32 kVersion = 0x00010000;  // 1.0.0

  Float32 MasterVolume() const noexcept { return mMasterVolume.load(std::memory_order_relaxed); }
  Float32 VolumeOffset(UInt32 interval) const noexcept {
    return mVolumeOffsets[interval].load(std::memory_order_relaxed);
  }
  SInt32 LastReportedNote() const noexcept { return mLastReportedNote; }

 private:
  // The first channel's kernel, or null before initialization.
  VarsileKernel* FirstKernel() const noexcept;
  void NotifyParameterChange(AudioUnitParameterID id) const;
  // Makes the coupling state agree with the stored volumes after a restore.
  void RederiveVolumeCoupling();

  // Builds the name of interval n above key pitch class k into this
  // instance's slot n and fills the record's two name fields from it.
  void FillIntervalName(UInt32 interval, UInt32 keyPitchClass, AudioUnitParameterInfo& outInfo);

  // Slot n keeps the name last handed out for parameter 2 + n alive until the
  // next request for that parameter, or until the instance closes.
  std::mutex mIntervalNamesMutex;
  varsile::CFRef<CFMutableStringRef> mIntervalNames[kNumberOfIntervals];

  KernelParameters mRenderParameters{};
  bool mRendering = false;
  SInt32 mLastReportedNote = -1;
  // Written by whichever thread sets or schedules a volume: a host may
  // schedule an immediate master event from the render thread while a
  // control thread sets parameters.
  std::atomic<Float32> mMasterVolume{0.0f};
  std::atomic<Float32> mVolumeOffsets[kNumberOfIntervals] = {};
};
