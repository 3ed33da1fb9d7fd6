// When frames are analysed, and what the tracker refuses to touch.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "TrackerHarness.h"

using namespace pitchtest;
using ::testing::ElementsAre;

namespace {

Call SilenceCounting() {
  Call call;
  call.accuracyThreshold = 0.0f;
  return call;
}

bool SameFrame(const FFTShiftLL& a, const FFTShiftLL& b) {
  constexpr std::size_t bytes = 1025 * sizeof(float);
  return std::memcmp(a.BinFrequencies(), b.BinFrequencies(), bytes) == 0 &&
         std::memcmp(a.BinMagnitudes(), b.BinMagnitudes(), bytes) == 0 && a.PitchClass() == b.PitchClass() &&
         a.Accuracy() == b.Accuracy() && a.HoldCount() == b.HoldCount();
}

}  // namespace

TEST(TrackerSchedule, FramesFallOnEveryHopHoweverTheInputIsSplit) {
  const std::vector<float> silence(1024, 0.0f);
  const Call call = SilenceCounting();

  auto whole = MakeTracker();
  Feed(*whole, silence, call);
  EXPECT_EQ(FramesSinceReset(*whole), 4);

  auto hundreds = MakeTracker();
  std::vector<long> framesAfterCall;
  for (int i = 0; i < 10; ++i) {
    Feed(*hundreds, silence.data(), 100, call);
    framesAfterCall.push_back(FramesSinceReset(*hundreds));
  }
  EXPECT_THAT(framesAfterCall, ElementsAre(0, 0, 1, 1, 1, 2, 2, 3, 3, 3));

  auto singles = MakeTracker();
  for (long i = 1; i <= 1024; ++i) {
    Feed(*singles, silence.data(), 1, call);
    ASSERT_EQ(FramesSinceReset(*singles), i / 256) << "after sample " << i;
  }
}

TEST(TrackerSchedule, SplittingTheInputDoesNotChangeAnyFrame) {
  const std::vector<float> noise = Noise(3000, 7);
  auto whole = MakeTracker();
  Feed(*whole, noise);

  auto hundreds = MakeTracker();
  for (long i = 0; i < 3000; i += 100) Feed(*hundreds, noise.data() + i, 100);
  EXPECT_TRUE(SameFrame(*whole, *hundreds));

  auto singles = MakeTracker();
  for (long i = 0; i < 3000; ++i) Feed(*singles, noise.data() + i, 1);
  EXPECT_TRUE(SameFrame(*whole, *singles));

  auto uneven = MakeTracker();
  long done = 0;
  for (long size = 1; done < 3000; size = size * 3 % 1031) {
    const long take = std::min(size, 3000 - done);
    Feed(*uneven, noise.data() + done, take);
    done += take;
  }
  EXPECT_TRUE(SameFrame(*whole, *uneven));
}

TEST(TrackerSchedule, LessThanAHopAnalysesNothing) {
  const std::vector<float> silence(256, 0.0f);
  auto tracker = MakeTracker();
  EXPECT_EQ(Feed(*tracker, silence.data(), 255, SilenceCounting()), -1);
  EXPECT_EQ(tracker->Accuracy(), 0.0f);

  EXPECT_EQ(Feed(*tracker, silence.data(), 0, SilenceCounting()), -1);
  EXPECT_EQ(Feed(*tracker, nullptr, 0, SilenceCounting()), -1);

  EXPECT_EQ(Feed(*tracker, silence.data(), 1, SilenceCounting()), 0);
  EXPECT_EQ(tracker->Accuracy(), 100.0f);
  EXPECT_EQ(Feed(*tracker, nullptr, 0, SilenceCounting()), 0);
  EXPECT_EQ(FramesSinceReset(*tracker), 1);
}

TEST(TrackerSchedule, ResetInMidStreamRestartsTheScheduleAndClearsTheHistory) {
  const std::vector<float> noise = Noise(900, 3);
  auto tracker = MakeTracker();
  Feed(*tracker, noise.data(), 300);
  Feed(*tracker, Sine(440.0, 2560));
  ASSERT_EQ(tracker->PitchClass(), 9);

  tracker->Reset(11);
  EXPECT_EQ(tracker->PitchClass(), -1);
  EXPECT_EQ(tracker->Accuracy(), 0.0f);
  EXPECT_EQ(Feed(*tracker, noise.data(), 255, SilenceCounting()), -1);

  // A fresh tracker fed the same samples since the Reset sees the same frames.
  auto fresh = MakeTracker();
  Feed(*fresh, noise.data(), 255, SilenceCounting());
  Feed(*tracker, noise.data() + 255, 645, SilenceCounting());
  Feed(*fresh, noise.data() + 255, 645, SilenceCounting());
  EXPECT_TRUE(SameFrame(*tracker, *fresh));
}

TEST(TrackerSchedule, OutputIsNeverTouched) {
  std::vector<float> output(1024);
  for (std::size_t i = 0; i < output.size(); ++i) output[i] = static_cast<float>(i) * 0.25f - 7.0f;
  output[5] = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> before = output;

  Call call;
  call.output = output.data();
  auto tracker = MakeTracker();
  Feed(*tracker, Sine(440.0, 1024), call);
  EXPECT_EQ(std::memcmp(output.data(), before.data(), output.size() * sizeof(float)), 0);

  // In place: the input is the output and stays as it was.
  call.output = output.data();
  Feed(*tracker, output, call);
  EXPECT_EQ(std::memcmp(output.data(), before.data(), output.size() * sizeof(float)), 0);
}

TEST(TrackerSchedule, OversamplingSetsTheHop) {
  const std::vector<float> silence(2048, 0.0f);
  Call call = SilenceCounting();

  call.oversampling = 1;
  auto everyTransform = MakeTracker();
  EXPECT_EQ(Feed(*everyTransform, silence.data(), 2047, call), -1);
  Feed(*everyTransform, silence.data(), 1, call);
  Feed(*everyTransform, silence.data(), 2047, call);
  EXPECT_EQ(FramesSinceReset(*everyTransform), 1);
  Feed(*everyTransform, silence.data(), 1, call);
  EXPECT_EQ(FramesSinceReset(*everyTransform), 2);

  call.oversampling = 2048;
  auto everySample = MakeTracker();
  Feed(*everySample, silence.data(), 5, call);
  EXPECT_EQ(FramesSinceReset(*everySample), 5);

  // A hop that does not divide the transform: 2048 / 3 = 682.
  call.oversampling = 3;
  auto uneven = MakeTracker();
  Feed(*uneven, silence.data(), 681, call);
  EXPECT_EQ(FramesSinceReset(*uneven), 0);
  Feed(*uneven, silence.data(), 1364 - 681, call);
  EXPECT_EQ(FramesSinceReset(*uneven), 2);
}

TEST(TrackerSchedule, UnsupportedSizesNeitherAnalyseNorIndexOutside) {
  const std::vector<float> sine = Sine(440.0, 8192);
  for (long size : {8L, 14L, 0L, -1L, 63L, 64L, LONG_MAX, LONG_MIN}) {
    auto tracker = MakeTracker(size);
    EXPECT_FALSE(tracker->CanAnalyse()) << size;
    Call call;
    call.log2Size = size;
    call.accuracyThreshold = 0.0f;
    EXPECT_EQ(Feed(*tracker, sine, call), -1) << size;
    EXPECT_EQ(tracker->Accuracy(), 0.0f);
  }
}

TEST(TrackerSchedule, CallsThatBreakTheLimitsAreIgnored) {
  const std::vector<float> silence(4096, 0.0f);
  auto tracker = MakeTracker();
  Feed(*tracker, silence.data(), 200, SilenceCounting());

  // None of these may move the FIFO: a frame must still come after 56 more samples.
  for (long size : {9L, 10L, 12L, 13L, 14L, -3L, 64L}) {
    Call call = SilenceCounting();
    call.log2Size = size;
    EXPECT_EQ(Feed(*tracker, silence, call), -1) << size;
  }
  for (long oversampling : {0L, -8L, 2049L, LONG_MIN}) {
    Call call = SilenceCounting();
    call.oversampling = oversampling;
    EXPECT_EQ(Feed(*tracker, silence, call), -1) << oversampling;
  }
  EXPECT_EQ(Feed(*tracker, silence.data(), -5, SilenceCounting()), -1);
  EXPECT_EQ(Feed(*tracker, nullptr, 256, SilenceCounting()), -1);

  EXPECT_EQ(Feed(*tracker, silence.data(), 55, SilenceCounting()), -1);
  EXPECT_EQ(Feed(*tracker, silence.data(), 1, SilenceCounting()), 0);
  EXPECT_EQ(FramesSinceReset(*tracker), 1);
}

TEST(TrackerSchedule, ConstructionLeavesNoClass) {
  FFTShiftLL tracker;
  EXPECT_EQ(tracker.PitchClass(), -1);
  EXPECT_EQ(tracker.Accuracy(), 0.0f);
  EXPECT_EQ(tracker.HoldCount(), 0);
  EXPECT_EQ(tracker.Shift(), 0.0f);
  EXPECT_TRUE(tracker.CanAnalyse());
  // The constructor's own size is 9; the gate resets to 11 before use.
  const std::vector<float> silence(512, 0.0f);
  Call call = SilenceCounting();
  call.log2Size = 9;
  EXPECT_EQ(Feed(tracker, silence, call), 0);
  EXPECT_EQ(FramesSinceReset(tracker), 8);
}
