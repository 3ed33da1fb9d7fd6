// The gate kernel: the ramp of its gain against a plain reference, the clamped
// times, the interval lookup through the tracker, and inputs that must never
// turn the gain into something other than a number from 0 to 100.
#include <algorithm>
#include <limits>

#include "VarsileTestSupport.h"

namespace {

using varsiletest::HarmonicTone;
using varsiletest::NoteFrequency;
using varsiletest::OpenEffect;
using Kernel = Varsile::VarsileKernel;

constexpr double kRate = 48000.0;
constexpr Float32 kNaN = std::numeric_limits<Float32>::quiet_NaN();
constexpr Float32 kInf = std::numeric_limits<Float32>::infinity();

// The per-sample loop with a plain clamp, step by step: what the gain does
// whenever its target is 0 or 100.
struct ReferenceRamp {
  Float32 volume;
  Float32 target;
  Float32 step;
  void Run(const Float32* source, Float32* destination, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i) {
      destination[i] =
          static_cast<Float32>(static_cast<double>(source[i]) * (static_cast<double>(volume) / 100.0));
      if (volume != target) volume = std::clamp(volume + step, 0.0f, 100.0f);
    }
  }
};

class GateKernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const AudioStreamBasicDescription format = varsile::CanonicalFormat(kRate, 1);
    ASSERT_EQ(mEffect->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                                           &format, sizeof format),
              noErr);
    mKernel = std::make_unique<Kernel>(mEffect.get());
  }

  void Set(AudioUnitParameterID id, Float32 value) {
    ASSERT_EQ(mEffect->SetParameter(id, kAudioUnitScope_Global, 0, value, 0), noErr);
  }
  // Every interval at one volume, so the target does not depend on the pitch class.
  void SetAllIntervals(Float32 volume) { Set(kGateParam_MasterVolume, volume); }

  // Runs the kernel over `source` in blocks and returns the output.
  std::vector<Float32> Run(Kernel& kernel, const std::vector<Float32>& source, std::size_t block = 512) {
    std::vector<Float32> out(source.size());
    for (std::size_t at = 0; at < source.size(); at += block) {
      const auto n = static_cast<UInt32>(std::min(block, source.size() - at));
      bool silence = false;
      kernel.Process(source.data() + at, out.data() + at, n, 1, silence);
    }
    return out;
  }
  std::vector<Float32> Run(const std::vector<Float32>& source, std::size_t block = 512) {
    return Run(*mKernel, source, block);
  }

  std::unique_ptr<Varsile> mEffect = OpenEffect();
  std::unique_ptr<Kernel> mKernel;
};

TEST_F(GateKernelTest, ResetTakesTheRateAndOpensTheGate) {
  EXPECT_EQ(mKernel->WholeSampleRate(), 48000u);
  EXPECT_EQ(mKernel->Volume(), 100.0f);
  EXPECT_EQ(mKernel->Tracker().PitchClass(), -1);
  EXPECT_EQ(mKernel->Tracker().Accuracy(), 0.0f);

  SetAllIntervals(0);
  Run(std::vector<Float32>(1000, 1.0f));
  EXPECT_LT(mKernel->Volume(), 100.0f);
  mKernel->Reset();
  EXPECT_EQ(mKernel->Volume(), 100.0f);
}

TEST_F(GateKernelTest, TheRateIsTruncated) {
  const AudioStreamBasicDescription format = varsile::CanonicalFormat(44100.9, 1);
  ASSERT_EQ(mEffect->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &format,
                                         sizeof format),
            noErr);
  mKernel->Reset();
  EXPECT_EQ(mKernel->WholeSampleRate(), 44100u);
}

TEST_F(GateKernelTest, ReleaseAndAttackOfOneHundredthSecondTake480Steps) {
  Set(kGateParam_AttackTime, 0.01f);
  Set(kGateParam_ReleaseTime, 0.01f);
  const std::vector<Float32> ones(600, 1.0f);

  // Down from 100 to 0; the output shows the gain before each step.
  SetAllIntervals(0);
  const Float32 step = 100.0f / (48000.0f * 0.01f);
  EXPECT_NEAR(step, 100.0 / 480.0, 1e-6);
  ReferenceRamp down{100.0f, 0.0f, -step};
  std::vector<Float32> expected(ones.size());
  down.Run(ones.data(), expected.data(), ones.size());
  const std::vector<Float32> fall = Run(ones, ones.size());
  EXPECT_EQ(fall, expected);
  EXPECT_EQ(mKernel->Volume(), 0.0f);
  const auto firstZero = std::find(fall.begin(), fall.end(), 0.0f) - fall.begin();
  EXPECT_EQ(firstZero, 480) << "the 480th step reaches 0";

  // And up again.
  SetAllIntervals(100);
  ReferenceRamp up{0.0f, 100.0f, step};
  up.Run(ones.data(), expected.data(), ones.size());
  const std::vector<Float32> rise = Run(ones, ones.size());
  EXPECT_EQ(rise, expected);
  const auto firstFull = std::find(rise.begin(), rise.end(), 1.0f) - rise.begin();
  EXPECT_EQ(firstFull, 480) << "the 480th step reaches 100";
  EXPECT_NEAR(rise[1], 100.0 / 480.0 / 100.0, 1e-6);
  EXPECT_EQ(mKernel->Volume(), 100.0f);
}

TEST_F(GateKernelTest, TheGainIsAppliedInDoublePrecision) {
  Set(kGateParam_ReleaseTime, 0.37f);
  SetAllIntervals(0);
  std::vector<Float32> source(2000);
  for (std::size_t i = 0; i < source.size(); ++i)
    source[i] = std::sin(0.01f * static_cast<Float32>(i)) * 0.9f;
  ReferenceRamp reference{100.0f, 0.0f, -100.0f / (48000.0f * 0.37f)};
  std::vector<Float32> expected(source.size());
  for (std::size_t at = 0; at < source.size(); at += 300) {
    reference.Run(source.data() + at, expected.data() + at, std::min<std::size_t>(300, source.size() - at));
  }
  EXPECT_EQ(Run(source, 300), expected);
}

TEST_F(GateKernelTest, TimesOutsideTheRangeAreClamped) {
  const std::vector<Float32> ones(256, 1.0f);
  const auto firstStep = [&](Float32 releaseTime) {
    mKernel->Reset();
    Set(kGateParam_ReleaseTime, releaseTime);
    const std::vector<Float32> out = Run(ones);
    return 100.0f - out[1] * 100.0f;
  };
  SetAllIntervals(0);
  const Float32 fastest = firstStep(0.01f);
  const Float32 slowest = firstStep(10.0f);
  EXPECT_NEAR(fastest, 100.0f / 480.0f, 1e-4);
  EXPECT_NEAR(slowest, 100.0f / 480000.0f, 1e-4);
  EXPECT_EQ(firstStep(0.0f), fastest);
  EXPECT_EQ(firstStep(-3.0f), fastest);
  EXPECT_EQ(firstStep(-kInf), fastest);
  EXPECT_EQ(firstStep(20.0f), slowest);
  EXPECT_EQ(firstStep(kInf), slowest);
  // A NaN time acts as the shortest time.
  EXPECT_EQ(firstStep(kNaN), fastest);
  EXPECT_EQ(mKernel->Volume(), mKernel->Volume()) << "a number";
}

TEST_F(GateKernelTest, NoMovementAtTheEnds) {
  std::vector<Float32> source(1000);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<Float32>(i) * 1e-3f - 0.4f;
  Set(kGateParam_AttackTime, 0.01f);
  Set(kGateParam_ReleaseTime, 0.01f);
  // At 100 with target 100: the output is the input, sample for sample.
  EXPECT_EQ(Run(source), source);
  EXPECT_EQ(mKernel->Volume(), 100.0f);

  SetAllIntervals(0);
  Run(source);  // down to 0 (480 steps)
  ASSERT_EQ(mKernel->Volume(), 0.0f);
  const std::vector<Float32> silent = Run(source);
  EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](Float32 s) { return s == 0.0f; }));
  EXPECT_EQ(mKernel->Volume(), 0.0f);
}

TEST_F(GateKernelTest, APartialVolumeSettlesOnItsValue) {
  // A held note: once the gain has come down from 100 it sits on the volume,
  // with no swing at the block rate, whatever the time and the block size.
  for (const Float32 time : {0.01f, 1.0f, 10.0f}) {
    Set(kGateParam_AttackTime, time);
    Set(kGateParam_ReleaseTime, time);
    const std::vector<Float32> ones(static_cast<std::size_t>(kRate * time) + 4096, 1.0f);
    for (const std::size_t block : {1, 7, 4096}) {
      for (const Float32 volume : {1.0f, 20.0f, 50.0f, 75.0f}) {
        SCOPED_TRACE(testing::Message() << "time " << time << " block " << block << " volume " << volume);
        mKernel->Reset();
        SetAllIntervals(volume);
        const std::vector<Float32> out = Run(ones, block);
        const auto settled = out.begin() + static_cast<std::ptrdiff_t>(kRate * time);
        const auto [low, high] = std::minmax_element(settled, out.end());
        EXPECT_NEAR(*low * 100.0f, volume, 0.1f);
        EXPECT_EQ(*low, *high);
        EXPECT_EQ(mKernel->Volume(), volume);
      }
    }
  }
}

TEST_F(GateKernelTest, KeyANoteDTakesTheFourth) {
  Set(kGateParam_AttackTime, 0.01f);
  Set(kGateParam_ReleaseTime, 0.01f);
  Set(kGateParam_Key, 9);
  for (UInt32 n = 0; n < 12; ++n) Set(kGateParam_FirstInterval + n, n == 5 ? 100.0f : 0.0f);
  const std::vector<Float32> tone = HarmonicTone(NoteFrequency(2), kRate, 48000);
  const std::vector<Float32> out = Run(tone);
  EXPECT_EQ(mKernel->Tracker().PitchClass(), 2);
  EXPECT_EQ(mKernel->Volume(), 100.0f) << "parameter 7, the fourth, is the target";
  EXPECT_EQ(std::vector<Float32>(out.end() - 4800, out.end()),
            std::vector<Float32>(tone.end() - 4800, tone.end()));

  // The same note with the key on C lands on the major second, here closed.
  Set(kGateParam_Key, 0);
  Run(std::vector<Float32>(tone.begin(), tone.begin() + 4800));
  EXPECT_EQ(mKernel->Volume(), 0.0f);
}

TEST_F(GateKernelTest, TheReferenceAndTheAccuracyThresholdReachTheTracker) {
  const std::vector<Float32> d = HarmonicTone(NoteFrequency(2), kRate, 24000);
  // Against A4 = 466.16 Hz, a semitone above 440, a D sounds as C#.
  Set(kGateParam_A4Frequency, 466.1638f);
  Run(d);
  EXPECT_EQ(mKernel->Tracker().PitchClass(), 1);

  // A tone with a fifth among its partials is never 100 % accurate: no pitch class is taken.
  Set(kGateParam_A4Frequency, 440.0f);
  Set(kGateParam_AccuracyThreshold, 100.0f);
  Kernel other(mEffect.get());
  Run(other, d);
  EXPECT_EQ(other.Tracker().PitchClass(), -1);
}

TEST_F(GateKernelTest, InPlaceEqualsSeparateArrays) {
  Set(kGateParam_AttackTime, 0.05f);
  Set(kGateParam_ReleaseTime, 0.03f);
  Set(kGateParam_FirstInterval + 6, 0);   // F# above C
  Set(kGateParam_FirstInterval + 1, 35);  // C# above C
  std::vector<Float32> source = HarmonicTone(NoteFrequency(0), kRate, 12000);
  for (int pc : {4, 1, 6}) {
    const std::vector<Float32> next = HarmonicTone(NoteFrequency(pc), kRate, 12000);
    source.insert(source.end(), next.begin(), next.end());
  }
  Kernel inPlace(mEffect.get());
  const std::vector<Float32> separate = Run(source, 500);
  std::vector<Float32> buffer = source;
  for (std::size_t at = 0; at < buffer.size(); at += 500) {
    bool silence = false;
    const auto n = static_cast<UInt32>(std::min<std::size_t>(500, buffer.size() - at));
    inPlace.Process(buffer.data() + at, buffer.data() + at, n, 1, silence);
  }
  EXPECT_EQ(buffer, separate);
  EXPECT_EQ(inPlace.Volume(), mKernel->Volume());
  EXPECT_LT(mKernel->Volume(), 100.0f) << "the signal did gate";
}

TEST_F(GateKernelTest, ABlockOfNoFramesChangesNothing) {
  SetAllIntervals(0);
  Float32 untouched = 7.0f;
  const Float32 source = 1.0f;
  bool silence = true;
  mKernel->Process(&source, &untouched, 0, 1, silence);
  EXPECT_EQ(untouched, 7.0f);
  EXPECT_EQ(mKernel->Volume(), 100.0f);
  EXPECT_TRUE(silence) << "ioSilence is left as the effect base gave it";
  silence = false;
  mKernel->Process(&source, &untouched, 1, 1, silence);
  EXPECT_FALSE(silence);
}

TEST_F(GateKernelTest, AToneInScalePassesAndOneOutsideIsAttenuated) {
  // C major: F# (six semitones above C) at 20 %, everything else open.
  Set(kGateParam_AttackTime, 0.02f);
  Set(kGateParam_ReleaseTime, 0.02f);
  Set(kGateParam_FirstInterval + 6, 20);
  const std::vector<Float32> e = HarmonicTone(NoteFrequency(4), kRate, 24000);
  const std::vector<Float32> out = Run(e, 256);
  EXPECT_EQ(mKernel->Tracker().PitchClass(), 4);
  EXPECT_EQ(out, e) << "E is in the scale: the gate never moved";

  Kernel other(mEffect.get());
  const std::vector<Float32> fs = HarmonicTone(NoteFrequency(6), kRate, 24000);
  const std::vector<Float32> gated = Run(other, fs, 256);
  EXPECT_EQ(other.Tracker().PitchClass(), 6);
  // Around 20 %, within one block's worth of steps at 0.02 s.
  const double tail =
      varsiletest::Rms(gated.data() + 12000, 12000) / varsiletest::Rms(fs.data() + 12000, 12000);
  EXPECT_NEAR(tail, 0.20, 0.15);
  EXPECT_NEAR(other.Volume(), 20.0f, 256.0f * 100.0f / (48000.0f * 0.02f) + 1e-3f);
}

TEST_F(GateKernelTest, NaNVolumesReleaseTowardZero) {
  // A NaN master makes every interval NaN, which is not above the gain: it
  // releases to 0, as a stored preset holding it must sound.
  Set(kGateParam_ReleaseTime, 0.1f);
  Set(kGateParam_MasterVolume, kNaN);
  ASSERT_TRUE(std::isnan(mEffect->GetParameter(kGateParam_FirstInterval + 11)));
  const std::vector<Float32> ones(6000, 1.0f);
  ReferenceRamp release{100.0f, kNaN, -100.0f / (48000.0f * 0.1f)};
  std::vector<Float32> expected(ones.size());
  release.Run(ones.data(), expected.data(), ones.size());
  EXPECT_EQ(Run(ones), expected);
  EXPECT_EQ(mKernel->Volume(), 0.0f);
}

TEST_F(GateKernelTest, OddParameterValuesKeepTheGainANumberInRange) {
  const Float32 odd[] = {kNaN, kInf, -kInf, 1e30f, -1e30f, -5.0f, 250.0f, 3e38f};
  const std::vector<Float32> tone = HarmonicTone(NoteFrequency(7), kRate, 4096);
  for (const Float32 value : odd) {
    const AudioUnitParameterID ids[] = {kGateParam_Key,          kGateParam_JitterThreshold,
                                        kGateParam_AttackTime,   kGateParam_ReleaseTime,
                                        kGateParam_MasterVolume, kGateParam_FirstInterval + 7,
                                        kGateParam_A4Frequency,  kGateParam_AccuracyThreshold};
    for (const AudioUnitParameterID id : ids) {
      SCOPED_TRACE(testing::Message() << "id " << id << " value " << value);
      mKernel->Reset();
      Set(id, value);
      const std::vector<Float32> out = Run(tone, 1024);
      const Float32 gain = mKernel->Volume();
      EXPECT_FALSE(std::isnan(gain));
      EXPECT_GE(gain, 0.0f);
      EXPECT_LE(gain, 100.0f);
      for (Float32 s : out) ASSERT_TRUE(std::isfinite(s));
      // Put the parameter back.
      mEffect->SetParameter(id, kAudioUnitScope_Global, 0, kGateParameterTable[id].defaultValue, 0);
      SetAllIntervals(100);
    }
  }
}

TEST_F(GateKernelTest, AKeyOutsideTheRangeGatesLikeItsPitchClass) {
  Set(kGateParam_AttackTime, 0.01f);
  Set(kGateParam_ReleaseTime, 0.01f);
  for (UInt32 n = 0; n < 12; ++n) Set(kGateParam_FirstInterval + n, n == 5 ? 100.0f : 0.0f);
  const std::vector<Float32> tone = HarmonicTone(NoteFrequency(2), kRate, 24000);
  // 21, -3 and 9 all name A; D is a fourth above it.
  for (const Float32 key : {21.0f, -3.0f, 9.0f}) {
    mKernel->Reset();
    Set(kGateParam_Key, key);
    Run(tone);
    EXPECT_EQ(mKernel->Volume(), 100.0f) << key;
  }
}

TEST(GateKernelEffectTest, TwoChannelsGateIndependently) {
  auto effect = OpenEffect();
  varsiletest::Initialize(*effect, kRate, 2);
  ASSERT_EQ(effect->GetNumberOfKernels(), 2u);
  for (AudioUnitParameterID id : {kGateParam_AttackTime, kGateParam_ReleaseTime}) {
    ASSERT_EQ(effect->SetParameter(id, kAudioUnitScope_Global, 0, 0.02f, 0), noErr);
  }
  // C major: the five black keys closed.
  for (UInt32 n : {1u, 3u, 6u, 8u, 10u}) {
    ASSERT_EQ(effect->SetParameter(kGateParam_FirstInterval + n, kAudioUnitScope_Global, 0, 0, 0), noErr);
  }
  const std::vector<Float32> left = HarmonicTone(NoteFrequency(0), kRate, 48000);
  const std::vector<Float32> right = HarmonicTone(NoteFrequency(8), kRate, 48000);
  std::vector<Float32> outLeft(left.size());
  std::vector<Float32> outRight(right.size());
  constexpr UInt32 kBlock = 512;
  for (std::size_t at = 0; at + kBlock <= left.size(); at += kBlock) {
    // Through the effect base, one buffer per channel.
    varsiletest::StereoBufferList in;
    varsiletest::StereoBufferList out;
    AudioUnitRenderActionFlags flags = 0;
    ASSERT_EQ(effect->ProcessBufferLists(flags,
                                         in.Set(const_cast<Float32*>(left.data() + at),
                                                const_cast<Float32*>(right.data() + at), kBlock),
                                         out.Set(outLeft.data() + at, outRight.data() + at, kBlock), kBlock),
              noErr);
  }
  auto* k0 = varsiletest::Kernel(*effect, 0);
  auto* k1 = varsiletest::Kernel(*effect, 1);
  EXPECT_EQ(k0->Tracker().PitchClass(), 0);
  EXPECT_EQ(k1->Tracker().PitchClass(), 8);
  EXPECT_EQ(k0->Volume(), 100.0f);
  EXPECT_EQ(k1->Volume(), 0.0f);
  EXPECT_NEAR(varsiletest::Rms(outLeft.data() + 24000, 20000) / varsiletest::Rms(left.data() + 24000, 20000),
              1.0, 1e-6);
  EXPECT_EQ(varsiletest::Rms(outRight.data() + 24000, 20000), 0.0);
  effect->DoCleanup();
}

}  // namespace
