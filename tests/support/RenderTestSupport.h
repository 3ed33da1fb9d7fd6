// Helpers for the render tests: a component that renders a known pattern
// without the effect base, host-side buffer lists, time stamps and a
// recording render notification.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "BufferListChecks.h"
#include "FrameTestSupport.h"
#include "ProcessorMode.h"

namespace rendertest {

// Sample j of buffer i in render number n (counting from 1); below 2^24, so
// every value is exact in a Float32.
inline Float32 Pattern(UInt32 buffer, UInt32 frame, int render) {
  return static_cast<Float32>((render % 100) * 100000 + static_cast<int>(buffer) * 10000 +
                              static_cast<int>(frame));
}

// Renders Pattern into output element 0, or, with mPullInput, pulls input
// element 0, checks what came back and copies it to the output, as an effect
// does.
class PatternAU : public frametest::TestAU {
 public:
  enum class Throw { kNothing, kStatus, kShort, kOther, kMemory };

  using frametest::TestAU::TestAU;

  OSStatus Render(AudioUnitRenderActionFlags& flags, const AudioTimeStamp& timeStamp,
                  UInt32 frames) override {
    ++mRenderCalls;
    mLastFrames = frames;
    switch (mThrow) {
      case Throw::kStatus:
        throw mThrownStatus;
      case Throw::kShort:
        throw static_cast<SInt16>(mThrownStatus);
      case Throw::kOther:
        throw std::runtime_error("not a status");
      case Throw::kMemory:
        throw std::bad_alloc();
      case Throw::kNothing:
        break;
    }
    if (mProbeDenormals) ProbeDenormals();
    AudioBufferList& out = GetOutput(0)->GetBufferList();
    if (mPullInput) {
      AUInputElement* input = GetInput(0);
      if (const OSStatus status = input->PullInput(flags, timeStamp, 0, frames); status != noErr)
        return status;
      const AudioBufferList& in = input->GetBufferList();
      if (const OSStatus status = CheckPulledBufferList(in, input->GetStreamFormat(), frames);
          status != noErr) {
        return status;
      }
      for (UInt32 i = 0; i < out.mNumberBuffers; ++i) {
        std::memcpy(out.mBuffers[i].mData, in.mBuffers[i].mData, frames * sizeof(Float32));
      }
      return mRenderResult;
    }
    for (UInt32 i = 0; i < out.mNumberBuffers; ++i) {
      auto* samples = static_cast<Float32*>(out.mBuffers[i].mData);
      for (UInt32 j = 0; j < frames; ++j) samples[j] = Pattern(i, j, mRenderCalls);
    }
    return mRenderResult;
  }

  void ProbeDenormals() {
#ifdef VARSILE_HAS_MXCSR
    mMxcsrInside = _mm_getcsr();
#endif
    // Volatile so the compiler cannot fold the arithmetic at build time.
    volatile Float32 smallNormal = 1e-38f;
    volatile Float32 scale = 1e-3f;
    volatile Float32 denormal = 1e-41f;
    volatile Float32 one = 1.0f;
    mProductInside = smallNormal * scale;  // a denormal result unless flushed
    mDenormalTimesOne = denormal * one;    // a denormal input unless treated as zero
  }

  int mRenderCalls = 0;
  UInt32 mLastFrames = 0;
  OSStatus mRenderResult = noErr;
  Throw mThrow = Throw::kNothing;
  OSStatus mThrownStatus = 0;
  bool mPullInput = false;
  bool mProbeDenormals = false;
  unsigned mMxcsrInside = 0;
  Float32 mProductInside = -1.0f;
  Float32 mDenormalTimesOne = -1.0f;

  using AUBase::mRenderNotifications;
};

// An initialized PatternAU with its elements and buffers.
inline std::unique_ptr<PatternAU> OpenInitialized(UInt32 inputs = 1, UInt32 outputs = 1) {
  auto au = frametest::Open<PatternAU>(nullptr, inputs, outputs);
  if (au->DoInitialize() != noErr) return nullptr;
  return au;
}

using frametest::HostList;

inline AudioTimeStamp StampAt(Float64 sampleTime) {
  AudioTimeStamp ts{};
  ts.mSampleTime = sampleTime;
  ts.mFlags = kAudioTimeStampSampleTimeValid;
  return ts;
}

// Every call a render notification receives.
struct NotifyRecorder {
  struct Call {
    void* refCon;
    AudioUnitRenderActionFlags flags;
    const AudioUnitRenderActionFlags* flagsAddress;
    Float64 sampleTime;
  };
  std::vector<Call> calls;

  static OSStatus Proc(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts, UInt32,
                       UInt32, AudioBufferList*) {
    auto* self = static_cast<NotifyRecorder*>(refCon);
    self->calls.push_back(Call{refCon, *flags, flags, ts->mSampleTime});
    return noErr;
  }
  std::size_t CountWith(AudioUnitRenderActionFlags bit) const {
    std::size_t n = 0;
    for (const auto& c : calls) n += (c.flags & bit) != 0;
    return n;
  }
};

}  // namespace rendertest
