// The vote of the decision step where its fast paths meet their limits: a
// class too big for its list, equal totals that only the order of the bins
// can settle, runs at the copy blocks' sizes, and tables as long as the work
// arrays. Each case against the decision done one bin at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "FFTShiftLLPasses.h"
#include "TrackerHarness.h"

using namespace pitchtest;

namespace {

void ExpectPlainOutcome(const Bins& bins, const char* what) {
  auto tracker = MakeTracker();
  Decide(*tracker, bins);
  const Outcome expected = PlainVote(bins);
  EXPECT_EQ(tracker->PitchClass(), expected.candidate) << what;
  EXPECT_EQ(tracker->Accuracy(), expected.accuracy) << what;
}

double Note(int note) {
  return NoteFrequency(note);
}

TEST(TrackerVote, AClassTooBigForItsListIsCountedInOrder) {
  std::mt19937 engine(3);
  std::uniform_real_distribution<float> uniform(0.001f, 1.0f);
  Bins bins;
  for (long k = 0; k < varsile::pitch::kListCapacity + 200; ++k) bins.Add(440.0, uniform(engine));
  for (int k = 0; k < 300; ++k) bins.Add(Note(60 + k % 12), uniform(engine) * 3.0f);
  ExpectPlainOutcome(bins, "one class beyond the list capacity");
}

TEST(TrackerVote, EqualTotalsAreSettledByTheOrderOfTheBins) {
  // A (9) and E (4) both total 40 in runs of 16 and 24; C (0) gets 39 first.
  // A reaches 40 before E does and must win, lower class number or not.
  Bins bins;
  for (int i = 0; i < 39; ++i) bins.Add(Note(60), 1.0);
  for (int i = 0; i < 16; ++i) bins.Add(Note(69), 1.0);
  for (int i = 0; i < 16; ++i) bins.Add(Note(64), 1.0);
  for (int i = 0; i < 24; ++i) bins.Add(Note(69), 1.0);
  for (int i = 0; i < 24; ++i) bins.Add(Note(64), 1.0);
  auto tracker = MakeTracker();
  Decide(*tracker, bins);
  EXPECT_EQ(tracker->PitchClass(), 9);
  EXPECT_EQ(tracker->Accuracy(), 0.0f);
  ExpectPlainOutcome(bins, "equal totals");
}

TEST(TrackerVote, RunsOfEveryLengthAroundTheCopyBlocks) {
  std::mt19937 engine(5);
  std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
  for (const int length : {1, 2, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129}) {
    Bins bins;
    for (int run = 0; run < 30; ++run) {
      const int note = 48 + static_cast<int>(uniform(engine) * 36.0f);
      for (int i = 0; i < length; ++i)
        bins.Add(Note(note) * (1.0 + 0.001 * uniform(engine)), uniform(engine));
      if (bins.Count() > 8000) break;
    }
    ExpectPlainOutcome(bins, ("runs of " + std::to_string(length)).c_str());
  }
}

TEST(TrackerVote, TablesAsLongAsTheWorkArrays) {
  std::mt19937 engine(9);
  std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
  for (const int count : {8191, 8192}) {
    Bins bins;
    for (int k = 0; k < count; ++k) {
      // Long runs ending at the very last entry, as a high-resolution frame's.
      const double f = 20.0 * std::exp2(10.0 * k / count);
      bins.Add(f, uniform(engine));
    }
    ExpectPlainOutcome(bins, ("a table of " + std::to_string(count)).c_str());
  }
}

}  // namespace
