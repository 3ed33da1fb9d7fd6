// The frame analysis against a naive DFT, and the tracker on real signals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "TrackerHarness.h"

using namespace pitchtest;

namespace {

constexpr long kN = 2048;
constexpr long kHop = 256;
constexpr long kBins = kN / 2 + 1;
constexpr double kRate = 44100.0;
constexpr double kPi = std::numbers::pi;

struct ReferenceSpectrum {
  std::vector<double> magnitude;
  std::vector<double> phase;
};

// Direct evaluation of the windowed transform of one frame, in double.
ReferenceSpectrum Transform(const std::vector<double>& frame) {
  std::vector<double> cosine(kN), sine(kN), windowed(kN);
  for (long j = 0; j < kN; ++j) {
    cosine[j] = std::cos(2.0 * kPi * static_cast<double>(j) / kN);
    sine[j] = std::sin(2.0 * kPi * static_cast<double>(j) / kN);
    windowed[j] = frame[j] * 0.8165 * (1.0 - cosine[j]) / 2.0;
  }
  ReferenceSpectrum out{std::vector<double>(kBins), std::vector<double>(kBins)};
  for (long k = 0; k < kBins; ++k) {
    double re = 0.0, im = 0.0;
    for (long j = 0; j < kN; ++j) {
      re += windowed[j] * cosine[(k * j) % kN];
      im -= windowed[j] * sine[(k * j) % kN];
    }
    if (k == 0) im = 0.0;
    out.magnitude[k] = 2.0 * std::hypot(re, im);
    out.phase[k] = std::atan2(im, re);
  }
  return out;
}

double Wrap(double d) {
  auto q = static_cast<long long>(std::trunc(d / kPi));
  if (q % 2 != 0) q += q > 0 ? 1 : -1;
  return d - static_cast<double>(q) * kPi;
}

// Compares the tracker's last frame with the reference of `frame`, whose
// previous frame had the phases `previous`. Returns the number of bins compared.
long ExpectFrameMatches(const FFTShiftLL& tracker, const ReferenceSpectrum& frame,
                        const std::vector<double>& previous, const ReferenceSpectrum* previousFrame) {
  double largest = 0.0;
  for (double m : frame.magnitude) largest = std::max(largest, m);
  const double binWidth = kRate / kN;
  const double factor = binWidth * 8.0 / (2.0 * kPi);
  long compared = 0;
  for (long k = 0; k < kBins; ++k) {
    EXPECT_NEAR(tracker.BinMagnitudes()[k], frame.magnitude[k], 1e-4 * frame.magnitude[k] + 1e-6 * largest)
        << "bin " << k;
    // Phases of faint bins carry the transform's rounding; the wrap decides
    // differently right at the boundary.
    const bool faint = frame.magnitude[k] < 0.05 * largest ||
                       (previousFrame != nullptr && previousFrame->magnitude[k] < 0.05 * largest);
    const double d = Wrap(frame.phase[k] - previous[k] - static_cast<double>(k) * 2.0 * kPi * kHop / kN);
    if (faint || kPi - std::fabs(d) < 1e-3 || k == 0 || k == kBins - 1) continue;
    EXPECT_NEAR(tracker.BinFrequencies()[k], static_cast<double>(k) * binWidth + d * factor, 0.01)
        << "bin " << k;
    ++compared;
  }
  return compared;
}

std::vector<double> Frame(const std::vector<float>& x, long end) {
  std::vector<double> frame(kN, 0.0);
  for (long j = 0; j < kN; ++j) {
    const long i = end - kN + j;
    if (i >= 0) frame[j] = x[i];
  }
  return frame;
}

}  // namespace

TEST(TrackerAnalysis, FramesMatchANaiveTransform) {
  const std::vector<float> x = Noise(kN + kHop, 11);

  // The first frame: latency zeros, then the first hop samples, compared with phase 0.
  auto first = MakeTracker();
  Feed(*first, x.data(), kHop);
  const ReferenceSpectrum firstReference = Transform(Frame(x, kHop));
  EXPECT_GT(ExpectFrameMatches(*first, firstReference, std::vector<double>(kBins, 0.0), nullptr), 800);

  // The ninth frame: the first full one whose predecessor was full too.
  auto ninth = MakeTracker();
  Feed(*ninth, x);
  const ReferenceSpectrum eighth = Transform(Frame(x, kN));
  const ReferenceSpectrum reference = Transform(Frame(x, kN + kHop));
  EXPECT_GT(ExpectFrameMatches(*ninth, reference, eighth.phase, &eighth), 900);
}

TEST(TrackerAnalysis, SteadySineGivesItsFrequencyAndClass) {
  const std::vector<float> sine = Sine(440.0, 12 * kHop);
  auto tracker = MakeTracker();
  for (long frame = 1; frame <= 12; ++frame) {
    Feed(*tracker, sine.data() + (frame - 1) * kHop, kHop);
    if (frame < 9) continue;
    const float* f = tracker->BinFrequencies();
    for (long k = 17; k <= 24; ++k) EXPECT_NEAR(f[k], 440.0, 0.02) << "frame " << frame << " bin " << k;
    // Further out the phase deviation aliases by sampleRate / hop.
    for (long k = 12; k <= 16; ++k)
      EXPECT_NEAR(f[k], 440.0 - kRate / kHop, 0.5) << "frame " << frame << " bin " << k;
    for (long k = 25; k <= 29; ++k)
      EXPECT_NEAR(f[k], 440.0 + kRate / kHop, 0.5) << "frame " << frame << " bin " << k;
    EXPECT_EQ(tracker->PitchClass(), 9);
    EXPECT_GE(tracker->Accuracy(), 99.0f);
    EXPECT_LE(tracker->Accuracy(), 100.0f);
  }
}

TEST(TrackerAnalysis, EveryPitchClassFromC2ToB6) {
  auto tracker = MakeTracker();
  for (int note = 36; note <= 95; ++note) {
    tracker->Reset(11);
    const std::vector<float> sine = Sine(NoteFrequency(note), kN + 4 * kHop);
    Feed(*tracker, sine.data(), kN + kHop);
    EXPECT_EQ(tracker->PitchClass(), note % 12) << "note " << note;
    for (long frame = 10; frame <= 12; ++frame) {
      Feed(*tracker, sine.data() + (frame - 1) * kHop, kHop);
      EXPECT_EQ(tracker->PitchClass(), note % 12) << "note " << note << " frame " << frame;
    }
  }
}

TEST(TrackerAnalysis, EverySupportedSizeTracks) {
  for (long log2Size = FFTShiftLL::kMinLog2Size; log2Size <= FFTShiftLL::kMaxLog2Size; ++log2Size) {
    const long n = 1L << log2Size;
    auto tracker = MakeTracker(log2Size);
    Call call;
    call.log2Size = log2Size;
    Feed(*tracker, Sine(NoteFrequency(64), n + n / 4), call);
    EXPECT_EQ(tracker->PitchClass(), 4) << "size " << n;
    EXPECT_GT(tracker->Accuracy(), 90.0f) << "size " << n;
  }
}

TEST(TrackerAnalysis, NaNInputCountsAsSilenceUntilItHasLeft) {
  std::vector<float> signal = Sine(440.0, 24 * kHop);
  auto tracker = MakeTracker();
  Call call;
  call.accuracyThreshold = 0.0f;
  Feed(*tracker, signal.data(), 10 * kHop, call);
  ASSERT_EQ(tracker->PitchClass(), 9);

  // The NaN arrives in the 11th frame, stays in the FIFO for eight frames and
  // spoils the phase difference of the one after.
  signal[10 * kHop + 100] = std::numeric_limits<float>::quiet_NaN();
  for (long frame = 11; frame <= 20; ++frame) {
    Feed(*tracker, signal.data() + (frame - 1) * kHop, kHop, call);
    const float* f = tracker->BinFrequencies();
    if (frame <= 19) {
      long nanBins = 0;
      for (long k = 0; k < kBins; ++k) nanBins += std::isnan(f[k]) ? 1 : 0;
      EXPECT_EQ(nanBins, kBins) << "frame " << frame;
      EXPECT_EQ(tracker->PitchClass(), 0) << "frame " << frame;
      EXPECT_EQ(tracker->Accuracy(), 100.0f) << "frame " << frame;
    } else {
      EXPECT_EQ(tracker->PitchClass(), 9);
      EXPECT_GE(tracker->Accuracy(), 99.0f);
    }
  }
}

TEST(TrackerAnalysis, InfiniteAndHugeInputStayDefinedAndRecover) {
  for (float bad : {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(), 3e38f}) {
    std::vector<float> signal = Sine(440.0, 24 * kHop);
    for (long i = 10 * kHop; i < 10 * kHop + 50; ++i) signal[i] = bad;
    auto tracker = MakeTracker();
    for (long frame = 1; frame <= 24; ++frame) {
      const std::int64_t pitchClass = Feed(*tracker, signal.data() + (frame - 1) * kHop, kHop);
      EXPECT_GE(pitchClass, -1);
      EXPECT_LE(pitchClass, 11);
      EXPECT_GE(tracker->Accuracy(), 0.0f) << bad;
      EXPECT_LE(tracker->Accuracy(), 100.0f) << bad;
    }
    EXPECT_EQ(tracker->PitchClass(), 9) << bad;
    EXPECT_GE(tracker->Accuracy(), 99.0f) << bad;
  }
}

TEST(TrackerAnalysis, ReferenceOrRateWithoutMeaningCountsNoBin) {
  const std::vector<float> sine = Sine(440.0, kN + kHop);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (float a4 : {0.0f, -0.0f, -440.0f, nan, inf, -inf}) {
    auto tracker = MakeTracker();
    Call call;
    call.a4Frequency = a4;
    EXPECT_EQ(Feed(*tracker, sine, call), 0) << a4;
    EXPECT_EQ(tracker->Accuracy(), 100.0f) << a4;
  }
  for (float rate : {0.0f, -44100.0f, nan}) {
    auto tracker = MakeTracker();
    Call call;
    call.sampleRate = rate;
    EXPECT_EQ(Feed(*tracker, sine, call), 0) << rate;
    EXPECT_EQ(tracker->Accuracy(), 100.0f) << rate;
  }
}
