// Shared helpers for the tracker tests: the gate's call, test signals and
// synthetic bin tables for the decision step.
#pragma once

#include <Accelerate/Accelerate.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

#include "FFTShiftLL.h"

namespace pitchtest {

// The arguments the gate passes, with its parameter defaults.
struct Call {
  long log2Size = 11;
  long oversampling = 8;
  float sampleRate = 44100.0f;
  float a4Frequency = 440.0f;
  long holdThreshold = 1;
  float accuracyThreshold = 25.0f;
  const float* shiftTable = nullptr;
  float* output = nullptr;
};

inline const float kNoShifts[12] = {};

inline std::unique_ptr<FFTShiftLL> MakeTracker(long log2Size = 11) {
  auto tracker = std::make_unique<FFTShiftLL>();
  tracker->Reset(log2Size);
  return tracker;
}

inline std::int64_t Feed(FFTShiftLL& tracker, const float* input, long count, const Call& call = {}) {
  return tracker.Process(FFTShiftLL::kModeAnalysisOnly, call.shiftTable ? call.shiftTable : kNoShifts, count,
                         call.log2Size, call.oversampling, call.sampleRate, input, call.output, 3,
                         call.a4Frequency, call.holdThreshold, call.accuracyThreshold, 0);
}

inline std::int64_t Feed(FFTShiftLL& tracker, const std::vector<float>& input, const Call& call = {}) {
  return Feed(tracker, input.data(), static_cast<long>(input.size()), call);
}

// Frames analysed since Reset, for input whose every frame is accepted with
// the same class (silence with accuracy threshold 0): the first sets the
// class, each later one adds to the hold count.
inline long FramesSinceReset(const FFTShiftLL& tracker) {
  return tracker.PitchClass() < 0 ? 0 : static_cast<long>(tracker.HoldCount()) + 1;
}

inline std::vector<float> Sine(double frequency, long count, double sampleRate = 44100.0,
                               double amplitude = 0.5) {
  std::vector<float> out(static_cast<std::size_t>(count));
  for (long i = 0; i < count; ++i) {
    out[static_cast<std::size_t>(i)] = static_cast<float>(
        amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / sampleRate));
  }
  return out;
}

inline std::vector<float> Noise(long count, unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  std::vector<float> out(static_cast<std::size_t>(count));
  for (float& x : out) x = uniform(engine);
  return out;
}

// Equal-tempered frequency of a note number, A4 = 69.
inline double NoteFrequency(double note, double a4 = 440.0) {
  return a4 * std::exp2((note - 69.0) / 12.0);
}

// One synthetic frame of (frequency, magnitude) bins for CalculateRatio.
struct Bins {
  std::vector<float> frequencies;
  std::vector<float> magnitudes;

  Bins() = default;
  Bins(std::initializer_list<std::pair<double, double>> bins) {
    for (const auto& [f, m] : bins) Add(f, m);
  }
  Bins& Add(double frequency, double magnitude) {
    frequencies.push_back(static_cast<float>(frequency));
    magnitudes.push_back(static_cast<float>(magnitude));
    return *this;
  }
  int Count() const { return static_cast<int>(frequencies.size()); }
};

struct Decision {
  float a4Frequency = 440.0f;
  long holdThreshold = 1;
  float accuracyThreshold = 0.0f;
  const float* shiftTable = kNoShifts;
};

inline float Decide(FFTShiftLL& tracker, const Bins& bins, const Decision& d = {}) {
  return tracker.CalculateRatio(bins.frequencies.data(), bins.magnitudes.data(), bins.Count(), d.shiftTable,
                                d.a4Frequency, d.holdThreshold, d.accuracyThreshold);
}

struct Outcome {
  std::int64_t candidate;
  float accuracy;
};

// The decision written as plainly as possible: one bin at a time, in order,
// the candidate checked after every addition, 64-bit truncation of every
// finite note value. The note values come from the same vector logarithm, so
// both see the same numbers.
inline Outcome PlainVote(const Bins& bins, float a4 = 440.0f) {
  int n = bins.Count();
  std::vector<float> quotient(n), logarithm(n);
  for (int k = 0; k < n; ++k) quotient[k] = bins.frequencies[k] / a4;
  vvlogf(logarithm.data(), quotient.data(), &n);
  const auto twelveOverLn2 = static_cast<float>(12.0 / std::numbers::ln2);
  float histogram[12] = {};
  float best = 0.0f;
  std::int64_t candidate = 0;
  for (int k = 0; k < n; ++k) {
    if (!(bins.frequencies[k] > 0.0f && bins.magnitudes[k] > 0.0f)) continue;
    float note = logarithm[k] * twelveOverLn2;
    note = note + 69.5f;
    if (!std::isfinite(note)) continue;
    const std::int64_t j = static_cast<std::int64_t>(note) % 12;
    if (j < 0) continue;
    histogram[j] += bins.magnitudes[k];
    if (histogram[j] > best) {
      best = histogram[j];
      candidate = j;
    }
  }
  float ratio = 1.0f;
  for (int j = 0; j < 12; ++j) {
    if (j != candidate && histogram[j] > 0.0f) ratio = std::min(ratio, (best - histogram[j]) / best);
  }
  return {candidate, 100.0f * std::clamp(ratio, 0.0f, 1.0f)};
}

}  // namespace pitchtest
