// The processing object of one channel; the effect base owns one per output
// channel.
#pragma once

#include <MacTypes.h>

class AUEffectBase;

class AUKernelBase {
 public:
  explicit AUKernelBase(AUEffectBase* effect) noexcept : mEffect(effect) {}
  virtual ~AUKernelBase();  // control

  AUKernelBase(const AUKernelBase&) = delete;
  AUKernelBase& operator=(const AUKernelBase&) = delete;

  virtual void Reset();  // any: the reset selector, or the render after a bypass ends
  // channelStride: samples between successive frames of this channel (1 when
  // non-interleaved). ioSilence arrives true when the input is silent; leave
  // it true only when the output is silent too.
  virtual void Process(const Float32* source, Float32* destination, UInt32 frames, UInt32 channelStride,
                       bool& ioSilence) noexcept VARSILE_NONBLOCKING = 0;  // render

  UInt32 GetChannelNum() const noexcept { return mChannelIndex; }
  void SetChannelNum(UInt32 channel) noexcept { mChannelIndex = channel; }

 protected:
  AUEffectBase* mEffect;
  UInt32 mChannelIndex = 0;  // set only by AUEffectBase::MaintainKernels
};
