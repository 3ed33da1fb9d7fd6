// The decision step on synthetic bin tables, and the phase wrap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>

#include "TrackerHarness.h"

using namespace pitchtest;

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The class that one bin at `frequency` counts for, or -1 when it is not
// counted. The bin sits at `slot` among silent bins; a lighter marker bin
// after them tells a skipped bin from one counted as C, and a second marker
// settles a bin in the first marker's class.
int ClassOf(double frequency, float a4 = 440.0f, int slot = 0) {
  for (int marker : {62, 64}) {
    Bins bins;
    for (int s = 0; s < 13; ++s) bins.Add(s == slot ? frequency : 97.0 * (s + 1), s == slot ? 2.0 : 0.0);
    bins.Add(NoteFrequency(marker, a4), 1.0);
    auto tracker = MakeTracker();
    Decision d;
    d.a4Frequency = a4;
    Decide(*tracker, bins, d);
    if (tracker->PitchClass() != marker % 12) return static_cast<int>(tracker->PitchClass());
  }
  return -1;
}

}  // namespace

TEST(TrackerDecision, ClassBoundariesFollowTheReference) {
  EXPECT_EQ(ClassOf(425.0), 8);
  EXPECT_EQ(ClassOf(427.4), 8);
  EXPECT_EQ(ClassOf(427.6), 9);
  EXPECT_EQ(ClassOf(430.0), 9);
  EXPECT_EQ(ClassOf(440.0), 9);
  EXPECT_EQ(ClassOf(450.0), 9);
  EXPECT_EQ(ClassOf(452.8), 9);
  EXPECT_EQ(ClassOf(453.0), 10);
  EXPECT_EQ(ClassOf(455.0), 10);
  EXPECT_EQ(ClassOf(440.0, 466.16f), 8);
}

TEST(TrackerDecision, ClassesMatchTheNearestSemitone) {
  std::mt19937 engine(5);
  std::uniform_real_distribution<double> logFrequency(std::log(20.0), std::log(20000.0));
  std::uniform_real_distribution<double> reference(400.0, 480.0);
  int compared = 0;
  for (int i = 0; i < 2000; ++i) {
    const double f = std::exp(logFrequency(engine));
    const auto a4 = static_cast<float>(reference(engine));
    const double note = 69.0 + 12.0 * std::log2(f / a4);
    if (std::fabs(note + 0.5 - std::round(note + 0.5)) < 1e-3) continue;  // at a boundary
    const int expected = static_cast<int>(static_cast<long long>(std::floor(note + 0.5)) % 12);
    ASSERT_EQ(ClassOf(f, a4, i % 13), expected) << f << " Hz with A4 " << a4;
    ++compared;
  }
  EXPECT_GT(compared, 1900);
}

TEST(TrackerDecision, MatchesAPlainScanOnRandomTables) {
  std::mt19937 engine(21);
  std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
  const float specials[] = {0.0f, -50.0f, kNaN, kInf, 3.0f, std::numeric_limits<float>::denorm_min()};
  for (int table = 0; table < 400; ++table) {
    // Small tables with whole magnitudes make equal totals common.
    const bool small = table % 2 == 0;
    const int count = small ? 1 + table % 14 : 1 + static_cast<int>(uniform(engine) * 1100.0f);
    Bins bins;
    for (int k = 0; k < count; ++k) {
      const float pick = uniform(engine);
      const float frequency = pick < 0.1f ? specials[k % 6] : 20.0f * std::exp2(uniform(engine) * 10.0f);
      float magnitude = small ? std::floor(1.0f + uniform(engine) * 3.0f) : uniform(engine);
      if (uniform(engine) < 0.05f) magnitude = k % 2 == 0 ? 0.0f : kNaN;
      bins.Add(frequency, magnitude);
    }
    const auto a4 = 400.0f + 80.0f * uniform(engine);
    auto tracker = MakeTracker();
    Decision d;
    d.a4Frequency = a4;
    Decide(*tracker, bins, d);
    const Outcome expected = PlainVote(bins, a4);
    ASSERT_EQ(tracker->PitchClass(), expected.candidate) << "table " << table;
    ASSERT_EQ(tracker->Accuracy(), expected.accuracy) << "table " << table;
  }
}

TEST(TrackerDecision, NotesBelowZeroCountOnlyAsC) {
  // The frequency whose note value, 69.5 at A4, is `value`.
  const auto withNoteValue = [](double value) { return NoteFrequency(value - 0.5); };
  EXPECT_EQ(ClassOf(withNoteValue(-0.5)), 0);    // truncates to 0
  EXPECT_EQ(ClassOf(withNoteValue(-5.5)), -1);   // -5: negative remainder
  EXPECT_EQ(ClassOf(withNoteValue(-12.5)), 0);   // -12: remainder 0
  EXPECT_EQ(ClassOf(withNoteValue(-13.5)), -1);  // -13
}

TEST(TrackerDecision, BinsWithoutAFiniteNoteAreSkipped) {
  EXPECT_EQ(ClassOf(0.0), -1);
  EXPECT_EQ(ClassOf(-440.0), -1);
  EXPECT_EQ(ClassOf(kNaN), -1);
  EXPECT_EQ(ClassOf(kInf), -1);                                      // note value +inf
  EXPECT_EQ(ClassOf(std::numeric_limits<float>::denorm_min()), -1);  // quotient 0, note value -inf
  EXPECT_EQ(ClassOf(3e38, 1e-3f), -1);                               // quotient overflows

  // A reference without meaning leaves no bin counted: the frame is silence.
  for (float a4 : {0.0f, -0.0f, -440.0f, kNaN, kInf}) {
    auto tracker = MakeTracker();
    Decision d;
    d.a4Frequency = a4;
    d.accuracyThreshold = 100.0f;
    Decide(*tracker, Bins{{440.0, 1.0}, {300.0, 5.0}, {1e-3, 1.0}}, d);
    EXPECT_EQ(tracker->PitchClass(), 0) << a4;
    EXPECT_EQ(tracker->Accuracy(), 100.0f) << a4;
  }

  // Magnitudes must be positive too.
  auto tracker = MakeTracker();
  Decide(*tracker, Bins{{440.0, kNaN}, {440.0, -3.0}, {440.0, 0.0}, {NoteFrequency(62), 1.0}, {440.0, 0.0}});
  EXPECT_EQ(tracker->PitchClass(), 2);
  EXPECT_EQ(tracker->Accuracy(), 100.0f);
}

TEST(TrackerDecision, AccuracyComparesTheTwoHeaviestClasses) {
  auto tracker = MakeTracker();
  const Bins tenAndFour{{440.0, 6.0}, {277.18, 4.0}, {441.0, 4.0}};
  Decide(*tracker, tenAndFour);
  EXPECT_EQ(tracker->PitchClass(), 9);
  EXPECT_FLOAT_EQ(tracker->Accuracy(), 60.0f);

  // Only relative magnitudes matter.
  for (double scale : {1e-30, 1e3, 1e30}) {
    Bins scaled;
    for (int k = 0; k < tenAndFour.Count(); ++k)
      scaled.Add(tenAndFour.frequencies[k], tenAndFour.magnitudes[k] * scale);
    Decide(*tracker, scaled);
    EXPECT_EQ(tracker->PitchClass(), 9);
    EXPECT_FLOAT_EQ(tracker->Accuracy(), 60.0f) << scale;
  }

  // One class alone: exactly 100.
  Decide(*tracker, Bins{{440.0, 1.0}, {880.0, 3.0}, {220.0, 0.5}});
  EXPECT_EQ(tracker->Accuracy(), 100.0f);
}

TEST(TrackerDecision, EqualTotalsGoToTheFirstToReachThem) {
  auto tracker = MakeTracker();
  // E reaches 5 at once; G gets there on the third bin.
  Decide(*tracker, Bins{{NoteFrequency(64), 5.0}, {NoteFrequency(67), 3.0}, {NoteFrequency(79), 2.0}});
  EXPECT_EQ(tracker->PitchClass(), 4);
  EXPECT_EQ(tracker->Accuracy(), 0.0f);

  tracker->Reset(11);
  Decide(*tracker, Bins{{NoteFrequency(55), 3.0}, {NoteFrequency(67), 2.0}, {NoteFrequency(76), 5.0}});
  EXPECT_EQ(tracker->PitchClass(), 7);
  EXPECT_EQ(tracker->Accuracy(), 0.0f);
}

TEST(TrackerDecision, SilenceDecidesCWithFullAccuracy) {
  auto tracker = MakeTracker();
  const std::vector<float> zeros(1025, 0.0f);
  std::vector<float> frequencies(1025);
  for (std::size_t k = 0; k < frequencies.size(); ++k) frequencies[k] = 21.533203f * static_cast<float>(k);
  tracker->CalculateRatio(frequencies.data(), zeros.data(), 1025, kNoShifts, 440.0f, 1, 100.0f);
  EXPECT_EQ(tracker->PitchClass(), 0);
  EXPECT_EQ(tracker->Accuracy(), 100.0f);

  // No bins at all, or none readable, decide the same.
  for (int count : {0, -7}) {
    auto empty = MakeTracker();
    empty->CalculateRatio(frequencies.data(), zeros.data(), count, kNoShifts, 440.0f, 1, 100.0f);
    EXPECT_EQ(empty->PitchClass(), 0);
    EXPECT_EQ(empty->Accuracy(), 100.0f);
  }
  auto unreadable = MakeTracker();
  unreadable->CalculateRatio(nullptr, nullptr, 1025, kNoShifts, 440.0f, 1, 100.0f);
  EXPECT_EQ(unreadable->PitchClass(), 0);
}

TEST(TrackerDecision, AccuracyThresholdGatesTheClass) {
  const Bins tie{{440.0, 1.0}, {NoteFrequency(60), 1.0}};
  const Bins clear{{440.0, 1.0}};

  auto everyFrame = MakeTracker();
  Decide(*everyFrame, tie);  // accuracy 0 passes threshold 0
  EXPECT_EQ(everyFrame->PitchClass(), 9);

  Decision strict;
  strict.accuracyThreshold = 100.5f;
  auto never = MakeTracker();
  Decide(*never, clear, strict);
  EXPECT_EQ(never->PitchClass(), -1);
  EXPECT_EQ(never->Accuracy(), 100.0f);

  strict.accuracyThreshold = 100.0f;
  Decide(*never, clear, strict);
  EXPECT_EQ(never->PitchClass(), 9);

  // A rejected frame keeps class and hold count.
  Decide(*never, clear, strict);
  ASSERT_EQ(never->HoldCount(), 1);
  Decide(*never, tie, strict);
  EXPECT_EQ(never->PitchClass(), 9);
  EXPECT_EQ(never->HoldCount(), 1);

  strict.accuracyThreshold = kNaN;
  Decide(*never, Bins{{NoteFrequency(60), 1.0}}, strict);
  EXPECT_EQ(never->PitchClass(), 9);
}

TEST(TrackerDecision, HoldThresholdGatesOnlyTheShift) {
  float shifts[12];
  for (int c = 0; c < 12; ++c) shifts[c] = 100.0f * static_cast<float>(c + 1);
  const auto ratioOf = [](float cents) { return std::exp2(cents / 1200.0f); };
  const Bins a{{440.0, 1.0}};
  const Bins c{{NoteFrequency(60), 1.0}};

  Decision one;
  one.holdThreshold = 1;
  one.shiftTable = shifts;
  auto tracker = MakeTracker();
  EXPECT_FLOAT_EQ(Decide(*tracker, a, one), 1.0f);  // the change: hold 0
  EXPECT_EQ(tracker->PitchClass(), 9);
  EXPECT_FLOAT_EQ(Decide(*tracker, a, one), ratioOf(1000.0f));  // confirmed
  EXPECT_EQ(tracker->HoldCount(), 1);
  one.holdThreshold = 1000;  // the class follows at once, whatever the threshold
  EXPECT_FLOAT_EQ(Decide(*tracker, c, one), ratioOf(1000.0f));
  EXPECT_EQ(tracker->PitchClass(), 0);
  EXPECT_EQ(tracker->HoldCount(), 0);
  one.holdThreshold = 1;
  EXPECT_FLOAT_EQ(Decide(*tracker, c, one), ratioOf(100.0f));

  Decision zero;
  zero.holdThreshold = 0;
  zero.shiftTable = shifts;
  auto immediate = MakeTracker();
  EXPECT_FLOAT_EQ(Decide(*immediate, a, zero), ratioOf(1000.0f));

  // No class yet: the shift stays 0 even with a threshold every count meets.
  Decision rejected;
  rejected.holdThreshold = -5;
  rejected.accuracyThreshold = 101.0f;
  rejected.shiftTable = shifts;
  auto none = MakeTracker();
  EXPECT_EQ(Decide(*none, a, rejected), 1.0f);
  EXPECT_EQ(none->Shift(), 0.0f);

  // A missing table leaves the shift where it is.
  Decision noTable;
  noTable.holdThreshold = 0;
  noTable.shiftTable = nullptr;
  EXPECT_FLOAT_EQ(Decide(*immediate, c, noTable), ratioOf(1000.0f));
}

TEST(TrackerDecision, RatioIsTwoToTheShiftInOctaves) {
  for (const auto& [cents, ratio] :
       {std::pair{0.0f, 1.0f}, {1200.0f, 2.0f}, {-1200.0f, 0.5f}, {700.0f, 1.4983071f}}) {
    float shifts[12];
    std::fill(std::begin(shifts), std::end(shifts), cents);
    Decision d;
    d.holdThreshold = 0;
    d.shiftTable = shifts;
    auto tracker = MakeTracker();
    EXPECT_FLOAT_EQ(Decide(*tracker, Bins{{440.0, 1.0}}, d), ratio) << cents;
  }
}

TEST(TrackerPhaseWrap, MapsIntoPlusMinusPi) {
  EXPECT_NEAR(FFTShiftLL::WrapPhase(1.5f * kPi), -0.5f * kPi, 1e-6f);
  EXPECT_NEAR(FFTShiftLL::WrapPhase(-1.5f * kPi), 0.5f * kPi, 1e-6f);
  EXPECT_EQ(FFTShiftLL::WrapPhase(kPi), -kPi);
  EXPECT_EQ(FFTShiftLL::WrapPhase(-kPi), kPi);
  EXPECT_EQ(FFTShiftLL::WrapPhase(0.9f * kPi), 0.9f * kPi);
  EXPECT_EQ(FFTShiftLL::WrapPhase(0.0f), 0.0f);

  // Against the rule in double precision, away from the boundaries.
  std::mt19937 engine(9);
  std::uniform_real_distribution<float> deviation(-60.0f, 60.0f);
  for (int i = 0; i < 10000; ++i) {
    const float d = deviation(engine);
    const double quotient = static_cast<double>(d) / static_cast<double>(kPi);
    if (std::fabs(quotient - std::round(quotient)) < 1e-5) continue;
    auto q = static_cast<long long>(std::trunc(quotient));
    if (q % 2 != 0) q += q > 0 ? 1 : -1;
    const double expected = static_cast<double>(d) - static_cast<double>(q) * static_cast<double>(kPi);
    ASSERT_NEAR(FFTShiftLL::WrapPhase(d), expected, 3e-5) << d;
  }
}

TEST(TrackerPhaseWrap, NonFiniteAndHugeDeviationsStayDefined) {
  EXPECT_TRUE(std::isnan(FFTShiftLL::WrapPhase(kNaN)));
  EXPECT_EQ(FFTShiftLL::WrapPhase(kInf), kInf);
  EXPECT_EQ(FFTShiftLL::WrapPhase(-kInf), -kInf);
  // Beyond 2^24 pi every quotient is an even whole number.
  for (float huge : {1e10f, -1e10f, 1e30f, 3e38f, -3e38f}) {
    EXPECT_TRUE(std::isfinite(FFTShiftLL::WrapPhase(huge))) << huge;
  }
}
