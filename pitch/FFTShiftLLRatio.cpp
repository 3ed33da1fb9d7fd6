#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "FFTShiftLL.h"
#include "FFTShiftLLPasses.h"

namespace {

using varsile::pitch::kClassCount;

struct Vote {
  float histogram[kClassCount] = {};
  float bestWeight = 0.0f;
  int best = 0;
};

// The vote as the decision defines it: every counted bin adds its weight to
// its class in bin order, and a class becomes the candidate when its total
// exceeds the best so far. A skipped bin (class -1, weight 0) adds 0 to the
// run it falls in.
//
// Neighbouring bins mostly share a class: a run's total stays in a register
// and meets the candidate when the run ends. A run's total only grows, so
// the candidate comes out as if it were checked after every bin, ties
// included.
Vote ScanInOrder(const float* classes, const float* weights, int bins) noexcept {
  Vote v;
  int run = 0;
  float runWeight = 0.0f;
  const auto endRun = [&] {
    v.histogram[run] = runWeight;
    if (runWeight > v.bestWeight) {
      v.bestWeight = runWeight;
      v.best = run;
    }
  };
  for (int i = 0; i < bins; ++i) {
    const auto counted = static_cast<int>(classes[i]);
    const int pitchClass = counted < 0 ? run : counted;
    if (pitchClass != run) {
      endRun();
      run = pitchClass;
      runWeight = v.histogram[pitchClass];
    }
    runWeight += weights[i];
  }
  endRun();
  return v;
}

using varsile::pitch::kListCapacity;
using varsile::pitch::kListStride;
static_assert(kClassCount * kListStride <= FFTShiftLL::kMaxSize);

using Four = float __attribute__((vector_size(4 * sizeof(float))));
using FourInts = std::int32_t __attribute__((vector_size(4 * sizeof(std::int32_t))));

Four LoadFour(const float* from) noexcept {
  Four v;
  std::memcpy(&v, from, sizeof v);
  return v;
}

// The lanes of v whose row is within its list; 0 in the others, which leaves
// a total unchanged. The entries past a list's end hold anything.
Four Within(Four v, long row, FourInts lengths) noexcept {
  return reinterpret_cast<Four>(reinterpret_cast<FourInts>(v) & (static_cast<std::int32_t>(row) < lengths));
}

// Adds each list, entry by entry from the first, to its class's total. Four
// lists at a time are read four entries at a time and transposed, so that
// one vector addition advances four totals by one entry each, in order; the
// three groups of four are three chains that run side by side.
void SumLists(const float* lists, const long (&counts)[kClassCount], float (&totals)[kClassCount]) noexcept {
  constexpr int kGroups = kClassCount / 4;
  static_assert(kClassCount % 4 == 0 && kListStride % 4 == 0);
  FourInts lengths[kGroups];
  for (int j = 0; j < kClassCount; ++j) lengths[j / 4][j % 4] = static_cast<std::int32_t>(counts[j]);
  const long rows = *std::max_element(std::begin(counts), std::end(counts));
  Four sums[kGroups] = {};
  for (long i = 0; i < rows; i += 4) {
#pragma GCC unroll 3
    for (int g = 0; g < kGroups; ++g) {
      const float* const list = lists + 4 * g * kListStride + i;
      const Four a = LoadFour(list);
      const Four b = LoadFour(list + kListStride);
      const Four c = LoadFour(list + 2 * kListStride);
      const Four d = LoadFour(list + 3 * kListStride);
      const Four abLow = __builtin_shufflevector(a, b, 0, 4, 1, 5);
      const Four abHigh = __builtin_shufflevector(a, b, 2, 6, 3, 7);
      const Four cdLow = __builtin_shufflevector(c, d, 0, 4, 1, 5);
      const Four cdHigh = __builtin_shufflevector(c, d, 2, 6, 3, 7);
      sums[g] += Within(__builtin_shufflevector(abLow, cdLow, 0, 1, 4, 5), i, lengths[g]);
      sums[g] += Within(__builtin_shufflevector(abLow, cdLow, 2, 3, 6, 7), i + 1, lengths[g]);
      sums[g] += Within(__builtin_shufflevector(abHigh, cdHigh, 0, 1, 4, 5), i + 2, lengths[g]);
      sums[g] += Within(__builtin_shufflevector(abHigh, cdHigh, 2, 3, 6, 7), i + 3, lengths[g]);
    }
  }
  for (int j = 0; j < kClassCount; ++j) totals[j] = sums[j / 4][j % 4];
}

}  // namespace

float FFTShiftLL::CalculateRatio(const float* frequencies, const float* magnitudes, int count,
                                 const float* shiftTable, float a4Frequency, long holdThreshold,
                                 float accuracyThreshold) noexcept VARSILE_NONBLOCKING {
  // The note values need the work arrays, which hold kMaxSize entries.
  int bins = std::clamp(count, 0, static_cast<int>(kMaxSize));
  if (frequencies == nullptr || magnitudes == nullptr) bins = 0;
  if (bins > 0) vDSP_vsdiv(frequencies, 1, &a4Frequency, mWorkA, 1, static_cast<vDSP_Length>(bins));
  Decide(frequencies, magnitudes, bins, shiftTable, holdThreshold, accuracyThreshold);
  return powf(2.0f, mShift / 100.0f / 12.0f);
}

void FFTShiftLL::Decide(const float* frequencies, const float* magnitudes, int bins, const float* shiftTable,
                         long holdThreshold, float accuracyThreshold) noexcept VARSILE_NONBLOCKING {
  Vote v;
  if (bins > 0) {
    // Classes go to mWorkB over the logarithms; the magnitudes that count (0
    // for a skipped bin) to mWorkA over the quotients.
    vvlogf(mWorkB, mWorkA, &bins);
    float* const classes = mWorkB;
    float* const weights = mWorkA;
    std::uint64_t runStarts[kMaxSize / 64];
    const varsile::pitch::Passes& passes = varsile::pitch::ActivePasses();
    passes.classify(mWorkB, frequencies, magnitudes, classes, weights, runStarts, bins, mTwelveOverLn2,
                    mA4NotePlusHalf);

    // Each class's total is the chain of its bins' weights in bin order. The
    // runs of one class are copied to that class's list (mWorkC), then the
    // twelve lists are summed side by side, each from its first entry on.
    long counts[kClassCount];
    const bool fits = passes.gatherRuns(classes, weights, runStarts, bins, kMaxSize, mWorkC, counts);
    if (fits) SumLists(mWorkC, counts, v.histogram);

    // The candidate is the heaviest class; which of several equally heavy
    // ones reached its total first only the scan in bin order can tell.
    bool tied = false;
    for (int j = 0; j < kClassCount; ++j) {
      if (v.histogram[j] > v.bestWeight) {
        v.bestWeight = v.histogram[j];
        v.best = j;
        tied = false;
      } else if (v.histogram[j] == v.bestWeight && v.bestWeight > 0.0f) {
        tied = true;
      }
    }
    if (tied || !fits) v = ScanInOrder(classes, weights, bins);
  }
  const float* const histogram = v.histogram;
  const float bestWeight = v.bestWeight;
  const int best = v.best;

  float ratio = 1.0f;
  for (int j = 0; j < kClassCount; ++j) {
    if (j == best || !(histogram[j] > 0.0f)) continue;
    // Two infinite totals give NaN here, which leaves the ratio alone.
    const float clearance = (bestWeight - histogram[j]) / bestWeight;
    if (clearance < ratio) ratio = clearance;
  }
  const float accuracy = 100.0f * std::clamp(ratio, 0.0f, 1.0f);
  mAccuracy.store(accuracy, std::memory_order_relaxed);

  if (accuracy >= accuracyThreshold) {
    if (best == mPitchClass.load(std::memory_order_relaxed)) {
      if (mHoldCount < std::numeric_limits<std::int64_t>::max()) ++mHoldCount;
    } else {
      mPitchClass.store(best, std::memory_order_relaxed);
      mHoldCount = 0;
    }
  }

  const std::int64_t pitchClass = mPitchClass.load(std::memory_order_relaxed);
  if (mHoldCount >= holdThreshold && pitchClass >= 0 && pitchClass < kClassCount && shiftTable != nullptr) {
    mShift = shiftTable[pitchClass];
  }
}
