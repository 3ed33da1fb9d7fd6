// A render switches on flush-to-zero and denormals-are-zero for itself and
// hands the caller's floating-point mode back untouched, on every way out;
// input that decays into the denormal range comes out without denormals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "HostedGate.h"
#include "ProcessorMode.h"

namespace {

using namespace reliability;

constexpr Float64 kRate = 44100.0;
constexpr UInt32 kMaxFrames = 1156;

#ifdef VARSILE_HAS_MXCSR

using processormode::kDenormalsAreZero;
using processormode::kFlushToZero;
// The sticky exception flags: arithmetic anywhere sets them, the mode is the rest.
constexpr unsigned kExceptionFlags = 0x003F;

unsigned Mode(unsigned mxcsr) {
  return mxcsr & ~kExceptionFlags;
}

// The input callback, recording the mode it runs under.
struct ProbedMelody {
  Melody melody{kRate};
  unsigned inside = 0;

  static OSStatus Render(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time,
                         UInt32 bus, UInt32 frames, AudioBufferList* io) noexcept {
    auto& self = *static_cast<ProbedMelody*>(refCon);
    self.inside = _mm_getcsr();
    return Melody::Render(&self.melody, flags, time, bus, frames, io);
  }
};

OSStatus ProbeNotification(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                           AudioBufferList*) {
  *static_cast<unsigned*>(refCon) = _mm_getcsr();
  return noErr;
}

class CallersFloatingPointMode : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    mGate =
        std::make_unique<HostedGate>(GateComponent(), 2, kRate, kMaxFrames, &ProbedMelody::Render, &mInput);
    mGate->Initialize();
    Check(AudioUnitAddRenderNotify(mGate->Unit(), ProbeNotification, &mInNotification),
          "adding a notification");
  }

  // Renders with the caller's MXCSR set to the test's mode; returns the
  // status and leaves the MXCSR seen right after the call in mAfter.
  OSStatus RenderUnderMode(UInt32 frames, bool fast) {
    mGate->PrepareRender(frames);
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(GetParam());
    const OSStatus status = mGate->RenderPrepared(frames, fast);
    mAfter = _mm_getcsr();
    _mm_setcsr(saved);
    return status;
  }

  ProbedMelody mInput;
  unsigned mInNotification = 0;
  unsigned mAfter = 0;
  std::unique_ptr<HostedGate> mGate;
};

TEST_P(CallersFloatingPointMode, IsRestoredAfterEveryRenderAndFlushedWithin) {
  const unsigned mode = Mode(GetParam());
  for (const bool fast : {false, true}) {
    for (const UInt32 frames : {1u, 256u, kMaxFrames}) {
      ASSERT_EQ(RenderUnderMode(frames, fast), noErr);
      EXPECT_EQ(Mode(mAfter), mode) << std::hex << "after a render of " << std::dec << frames;
      // Inside: the caller's mode (rounding, masks) with both flush bits added.
      EXPECT_EQ(Mode(mInput.inside), mode | kFlushToZero | kDenormalsAreZero) << std::hex << mInput.inside;
      EXPECT_EQ(Mode(mInNotification), mode | kFlushToZero | kDenormalsAreZero)
          << std::hex << mInNotification;
    }
  }
}

TEST_P(CallersFloatingPointMode, IsRestoredAfterRefusedAndFailedRenders) {
  const unsigned mode = Mode(GetParam());
  EXPECT_EQ(RenderUnderMode(kMaxFrames + 1, false), kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_EQ(Mode(mAfter), mode);
  mInput.melody.FailWith(kAudioUnitErr_NoConnection);
  EXPECT_EQ(RenderUnderMode(64, true), kAudioUnitErr_NoConnection);
  EXPECT_EQ(Mode(mAfter), mode);
  mInput.melody.FailWith(noErr);
  mGate->Uninitialize();
  EXPECT_EQ(RenderUnderMode(64, false), kAudioUnitErr_Uninitialized);
  EXPECT_EQ(Mode(mAfter), mode);
}

INSTANTIATE_TEST_SUITE_P(Modes, CallersFloatingPointMode,
                         ::testing::Values(0x1F80u,   // the default: all masked, round to nearest
                                           0x9FC0u,   // flush-to-zero and denormals-are-zero already on
                                           0x9F80u,   // flush-to-zero alone
                                           0x7F80u,   // round toward zero
                                           0x3F80u),  // round down
                         [](const ::testing::TestParamInfo<unsigned>& info) {
                           char name[16];
                           std::snprintf(name, sizeof name, "Mxcsr%04X", info.param);
                           return std::string(name);
                         });

#endif  // VARSILE_HAS_MXCSR

// Counts the output samples of each class over a render.
struct SampleClasses {
  long subnormal = 0;
  long nonFinite = 0;
  long nonZero = 0;

  void Add(const HostedGate& gate, UInt32 frames) {
    for (UInt32 c = 0; c < gate.Channels(); ++c) {
      for (UInt32 i = 0; i < frames; ++i) {
        const Float32 v = gate.Output(c)[i];
        subnormal += std::fpclassify(v) == FP_SUBNORMAL;
        nonFinite += !std::isfinite(v);
        nonZero += v != 0.0f;
      }
    }
  }
};

TEST(DenormalInput, ADecayIntoTheDenormalRangeComesOutWithoutDenormals) {
  // From a quiet normal level down through the whole denormal range within
  // two seconds.
  Melody melody(kRate, 1e-30f);
  melody.SetDecay(std::pow(1e-20, 1.0 / (2.0 * kRate)));
  HostedGate gate(GateComponent(), 2, kRate, kMaxFrames, &Melody::Render, &melody);
  gate.Initialize();
  SampleClasses classes;
  for (int r = 0; r < static_cast<int>(3 * kRate / 512); ++r) {
    ASSERT_EQ(gate.Render(512, r % 2 == 0), noErr);
    classes.Add(gate, 512);
  }
  EXPECT_EQ(classes.subnormal, 0);
  EXPECT_EQ(classes.nonFinite, 0);
  EXPECT_GT(classes.nonZero, 0) << "the decay should start audible to the gate";
}

TEST(DenormalInput, DenormalSamplesComeOutAsSilence) {
  Melody melody(kRate, 1e-39f);  // every non-zero sample is denormal
  HostedGate gate(GateComponent(), 1, kRate, kMaxFrames, &Melody::Render, &melody);
  gate.Initialize();
  SampleClasses classes;
  for (int r = 0; r < 40; ++r) {
    ASSERT_EQ(gate.Render(kMaxFrames), noErr);
    classes.Add(gate, kMaxFrames);
  }
  EXPECT_EQ(classes.subnormal, 0);
  EXPECT_EQ(classes.nonZero, 0);
  EXPECT_EQ(classes.nonFinite, 0);
}

}  // namespace
