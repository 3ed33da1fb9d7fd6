#include <algorithm>
#include <cmath>
#include <limits>

#include "FFTShiftLL.h"
#include "FloatLanes.h"

namespace {

using namespace FloatLanes;

constexpr int kClassCount = 12;

// The pitch class that a bin counts for, as a float, or -1 when it counts for
// none: the frequency or the magnitude is not above 0, the note value truncated
// toward zero leaves a negative remainder by 12, or the note value cannot be
// truncated at all (NaN, infinite). A finite note value lies within +-1800,
// as the float range bounds the logarithm, so anything beyond 2^20 is taken
// as out of range; below it the int32 truncation is exact and so is the
// remainder, computed here in floats.
Floats ClassOf(Floats frequency, Floats magnitude, Floats note) noexcept {
  const Mask inRange = Abs(note) < 0x1p20f;
  const Floats whole = ToFloat(TruncateToInt(Select(inRange, note, Floats{})));
  const Floats twelves = ToFloat(TruncateToInt(whole / 12.0f));
  const Floats remainder = whole - twelves * 12.0f;
  const Mask counted = inRange & (frequency > 0.0f) & (magnitude > 0.0f) & (remainder >= 0.0f);
  return Select(counted, remainder, Splat(-1.0f));
}

}  // namespace

float FFTShiftLL::CalculateRatio(const float* frequencies, const float* magnitudes, int count,
                                 const float* shiftTable, float a4Frequency, long holdThreshold,
                                 float accuracyThreshold) noexcept {
  // The note values need the work arrays, which hold kMaxSize entries.
  int bins = std::clamp(count, 0, static_cast<int>(kMaxSize));
  if (frequencies == nullptr || magnitudes == nullptr) bins = 0;

  float histogram[kClassCount] = {};
  float bestWeight = 0.0f;
  int best = 0;
  if (bins > 0) {
    const auto b = static_cast<vDSP_Length>(bins);
    vDSP_vsdiv(frequencies, 1, &a4Frequency, mWorkA, 1, b);
    vvlogf(mWorkB, mWorkA, &bins);
    vDSP_vsmul(mWorkB, 1, &mTwelveOverLn2, mWorkA, 1, b);
    vDSP_vsadd(mWorkA, 1, &mA4NotePlusHalf, mWorkA, 1, b);

    // Classes go to mWorkB; the magnitudes that count (0 for a skipped bin)
    // replace the note values in mWorkA.
    float* const classes = mWorkB;
    float* const weights = mWorkA;
    const auto classify = [&](long k, long n) noexcept {
      const Floats magnitude = n == kWidth ? Load(magnitudes + k) : LoadPartial(magnitudes + k, n);
      const Floats frequency = n == kWidth ? Load(frequencies + k) : LoadPartial(frequencies + k, n);
      const Floats note = n == kWidth ? Load(mWorkA + k) : LoadPartial(mWorkA + k, n);
      const Floats pitchClass = ClassOf(frequency, magnitude, note);
      const Floats weight = Select(pitchClass >= 0.0f, magnitude, Floats{});
      if (n == kWidth) {
        Store(classes + k, pitchClass);
        Store(weights + k, weight);
      } else {
        StorePartial(classes + k, pitchClass, n);
        StorePartial(weights + k, weight, n);
      }
    };
    long k = 0;
    for (; k + kWidth <= bins; k += kWidth) classify(k, kWidth);
    if (k < bins) classify(k, bins - k);

    // Neighbouring bins mostly share a class: a run's total stays in a
    // register and meets the candidate when the run ends; a skipped bin adds
    // 0 to the run it falls in. The sums are added in bin order and a run's
    // total only grows, so the candidate comes out as if it were checked after
    // every bin, ties included.
    int run = 0;
    float runWeight = 0.0f;
    const auto endRun = [&] {
      histogram[run] = runWeight;
      if (runWeight > bestWeight) {
        bestWeight = runWeight;
        best = run;
      }
    };
    for (int i = 0; i < bins; ++i) {
      const auto counted = static_cast<int>(classes[i]);
      const int pitchClass = counted < 0 ? run : counted;
      if (pitchClass != run) {
        endRun();
        run = pitchClass;
        runWeight = histogram[pitchClass];
      }
      runWeight += weights[i];
    }
    endRun();
  }

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
  return powf(2.0f, mShift / 100.0f / 12.0f);
}
