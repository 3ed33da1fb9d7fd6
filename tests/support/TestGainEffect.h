// A gain effect for frame tests: each channel's kernel multiplies by
// parameter 0 and records what it was called with, and an input source that
// feeds the effect known samples through a host input callback.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <cstddef>
#include <set>
#include <vector>

#include "AUEffectBase.h"

namespace frametest {

class TestGainEffect;

// One kernel call as the kernel saw it.
struct KernelCall {
  UInt32 channel;
  const Float32* source;
  Float32* destination;
  UInt32 frames;
  UInt32 stride;
  bool silenceIn;
  Float32 gain;                 // parameter 0 as read during the call
  ParameterMapEvent gainEvent;  // parameter 0's stored state during the call
};

class GainKernel : public AUKernelBase {
 public:
  explicit GainKernel(AUEffectBase* effect) noexcept : AUKernelBase(effect) {}
  void Reset() override { ++mResets; }
  inline void Process(const Float32* source, Float32* destination, UInt32 frames, UInt32 stride,
                      bool& ioSilence) noexcept override;

  int mResets = 0;
};

class TestGainEffect : public AUEffectBase {
 public:
  static constexpr AudioUnitParameterID kGain = 0;
  static constexpr SInt32 kNumParameters = 4;

  explicit TestGainEffect(AudioComponentInstance instance = nullptr, bool inPlace = true)
      : AUEffectBase(instance, inPlace) {
    Globals().GetElement(0)->UseIndexedParameters(kNumParameters);
    SetParameter(kGain, 1.0f);
    mCalls.reserve(1024);  // the kernels record without allocating
  }

  AUKernelBase* NewKernel() override {
    const int made = mKernelsMade++;
    if (mNullKernelCalls.count(made) != 0) return nullptr;
    return new GainKernel(this);
  }
  UInt32 SupportedNumChannels(const AUChannelInfo** outInfo) override {
    if (!mConfigurations.empty()) *outInfo = mConfigurations.data();
    return static_cast<UInt32>(mConfigurations.size());
  }
  OSStatus Reset(AudioUnitScope scope, AudioUnitElement element) override {
    ++mResetCalls;
    return AUEffectBase::Reset(scope, element);
  }
  OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& flags, const AudioBufferList& input,
                              AudioBufferList& output, UInt32 frames) override {
    const OSStatus result = AUEffectBase::ProcessBufferLists(flags, input, output, frames);
    return ++mProcessCalls == mFailAtProcessCall ? kFailure : result;
  }
  Float64 GetTailTime() override { return mTailTime; }

  GainKernel* Kernel(UInt32 channel) const { return static_cast<GainKernel*>(GetKernel(channel)); }

  std::vector<AUChannelInfo> mConfigurations;
  std::set<int> mNullKernelCalls;  // NewKernel calls (counted from 0) that return null
  bool mKernelsKeepSilence = true;
  Float64 mTailTime = 0.0;
  int mKernelsMade = 0;
  int mResetCalls = 0;
  int mProcessCalls = 0;
  int mFailAtProcessCall = 0;  // 1-based; 0 never
  static constexpr OSStatus kFailure = -77;
  std::vector<KernelCall> mCalls;

  using AUEffectBase::mPendingEvents;
  using AUEffectBase::mSilenceCountdown;
};

void GainKernel::Process(const Float32* source, Float32* destination, UInt32 frames, UInt32 stride,
                         bool& ioSilence) noexcept {
  auto& effect = static_cast<TestGainEffect&>(*mEffect);
  const Float32 gain = effect.GetParameter(TestGainEffect::kGain);
  effect.mCalls.push_back(KernelCall{mChannelIndex, source, destination, frames, stride, ioSilence, gain,
                                     effect.Globals().GetElement(0)->GetParamEvent(TestGainEffect::kGain)});
  for (UInt32 i = 0; i < frames; ++i) destination[i * stride] = source[i * stride] * gain;
  if (!effect.mKernelsKeepSilence) ioSilence = false;
}

// A host input callback: buffer b, frame i holds Sample(b, i).
struct InputSource {
  static Float32 Sample(UInt32 buffer, UInt32 frame) {
    return static_cast<Float32>((buffer + 1) * 1000 + frame);
  }

  OSStatus status = noErr;
  bool claimSilence = false;           // sets kAudioUnitRenderAction_OutputIsSilence
  UInt32 overrideNumberBuffers = ~0u;  // rewrites the list's buffer count when set
  int calls = 0;

  static OSStatus Proc(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp*, UInt32,
                       UInt32 frames, AudioBufferList* list) {
    auto* self = static_cast<InputSource*>(refCon);
    ++self->calls;
    if (self->status != noErr) return self->status;
    for (UInt32 b = 0; b < list->mNumberBuffers; ++b) {
      auto* samples = static_cast<Float32*>(list->mBuffers[b].mData);
      const UInt32 n = frames * list->mBuffers[b].mNumberChannels;
      for (UInt32 i = 0; i < n; ++i) samples[i] = Sample(b, i);
    }
    if (self->claimSilence) *flags |= kAudioUnitRenderAction_OutputIsSilence;
    if (self->overrideNumberBuffers != ~0u) list->mNumberBuffers = self->overrideNumberBuffers;
    return noErr;
  }
};

}  // namespace frametest
