// The tracker's dispatched passes against the chain of vector-library calls
// and plain scalar steps they replace, bit for bit, on every instruction set
// this processor runs: the fused passes may not change a single rounding.
#include <Accelerate/Accelerate.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "FFTShiftLL.h"
#include "FFTShiftLLPasses.h"

namespace {

using varsile::pitch::Passes;

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::vector<const Passes*> RunnablePasses() {
  __builtin_cpu_init();
  std::vector<const Passes*> tables{&varsile::pitch::kPassesSSE2};
  const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (avx2) tables.push_back(&varsile::pitch::kPassesAVX2);
  if (avx2 && __builtin_cpu_supports("avx512f")) tables.push_back(&varsile::pitch::kPassesAVX512);
  return tables;
}

std::uint32_t Bits(float x) {
  std::uint32_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

// Equal bit for bit, every NaN included.
void ExpectSameBits(const std::vector<float>& actual, const std::vector<float>& expected, long count,
                    const std::string& what) {
  for (long k = 0; k < count; ++k) {
    ASSERT_EQ(Bits(actual[k]), Bits(expected[k]))
        << what << " at " << k << ": " << actual[k] << " vs " << expected[k];
  }
}

// The wrap as the analysis defines it, one value at a time: the quotient by
// the single-precision pi, truncated toward zero to a 64-bit integer and moved
// one step away from zero when odd.
float ReferenceWrap(float d) {
  const float q = d / kPi;
  if (!std::isfinite(q)) return d;
  if (std::fabs(q) >= 0x1p62f) return d - q * kPi;  // an even whole number already
  auto whole = static_cast<std::int64_t>(q);
  if (whole % 2 != 0) whole += whole > 0 ? 1 : -1;
  return d - static_cast<float>(whole) * kPi;
}

// Phase deviations that probe the wrap: multiples of pi and their neighbours
// a few ulps away, where the quotient sits on or next to a whole number;
// large and non-finite values; and ordinary ones.
std::vector<float> WrapProbes(std::mt19937& engine) {
  std::vector<float> d;
  for (int k = -300; k <= 300; ++k) {
    float x = static_cast<float>(k) * kPi;
    for (int step = 0; step < 4; ++step) {
      d.push_back(x);
      d.push_back(std::nextafter(x, kInf));
      d.push_back(std::nextafter(x, -kInf));
      x = std::nextafter(std::nextafter(x, kInf), kInf);
    }
    d.push_back(static_cast<float>(k) * kPi + 0.5f * kPi);
  }
  for (float big : {0x1p21f, 0x1p22f, 0x1p23f, 0x1p24f, 0x1p26f, 0x1p40f, 3e38f}) {
    d.push_back(big);
    d.push_back(-big);
    d.push_back(std::nextafter(big, 0.0f));
  }
  for (float special : {0.0f, -0.0f, kNaN, kInf, -kInf, std::numeric_limits<float>::denorm_min(), 1e-30f}) {
    d.push_back(special);
  }
  std::uniform_real_distribution<float> uniform(-900.0f, 900.0f);
  for (int i = 0; i < 4000; ++i) d.push_back(uniform(engine));
  return d;
}

TEST(TrackerPasses, WrapMatchesTheDivisionEverywhere) {
  std::mt19937 engine(7);
  const std::vector<float> probes = WrapProbes(engine);
  std::vector<float> expected(probes.size());
  std::transform(probes.begin(), probes.end(), expected.begin(), ReferenceWrap);
  for (const Passes* passes : RunnablePasses()) {
    std::vector<float> d = probes;
    passes->wrap(d.data(), static_cast<long>(d.size()));
    ExpectSameBits(d, expected, static_cast<long>(d.size()), passes->name);
  }
  // The public entry goes through the same passes.
  for (std::size_t i = 0; i < probes.size(); i += 7) {
    ASSERT_EQ(Bits(FFTShiftLL::WrapPhase(probes[i])), Bits(expected[i])) << probes[i];
  }
  EXPECT_FLOAT_EQ(FFTShiftLL::WrapPhase(1.5f * kPi), -0.5f * kPi);
  EXPECT_FLOAT_EQ(FFTShiftLL::WrapPhase(-1.5f * kPi), 0.5f * kPi);
}

// The phase pass as the vector operations computed it before it was fused.
struct PhaseReference {
  std::vector<float> magnitude, frequency, quotient, previous;
};

PhaseReference ReferencePhases(const std::vector<float>& re, const std::vector<float>& im,
                               const std::vector<float>& phase, std::vector<float> previous, long bins,
                               const varsile::pitch::PhaseConstants& c) {
  const auto b = static_cast<vDSP_Length>(bins);
  const float two = 2.0f, zero = 0.0f;
  std::vector<float> work(bins), deviation(bins), ramp(bins), scaled(bins);
  PhaseReference r{std::vector<float>(bins), std::vector<float>(bins), std::vector<float>(bins), {}};
  vDSP_vdist(re.data(), 1, im.data(), 1, work.data(), 1, b);
  vDSP_vsmul(work.data(), 1, &two, r.magnitude.data(), 1, b);
  vDSP_vsub(previous.data(), 1, phase.data(), 1, deviation.data(), 1, b);
  vDSP_mmov(phase.data(), previous.data(), b, 1, b, b);
  vDSP_vramp(&zero, &c.expectedAdvance, ramp.data(), 1, b);
  vDSP_vsub(ramp.data(), 1, deviation.data(), 1, deviation.data(), 1, b);
  for (float& x : deviation) x = ReferenceWrap(x);
  vDSP_vramp(&zero, &c.binWidth, ramp.data(), 1, b);
  vDSP_vsmul(deviation.data(), 1, &c.frequencyFactor, scaled.data(), 1, b);
  vDSP_vadd(ramp.data(), 1, scaled.data(), 1, r.frequency.data(), 1, b);
  vDSP_vsdiv(r.frequency.data(), 1, &c.a4Frequency, r.quotient.data(), 1, b);
  r.previous = std::move(previous);
  return r;
}

TEST(TrackerPasses, PhasePassMatchesTheVectorOperations) {
  std::mt19937 engine(11);
  std::uniform_real_distribution<float> value(-3.0f, 3.0f);
  std::uniform_real_distribution<float> angle(-kPi, kPi);
  for (const long bins : {1L, 15L, 16L, 17L, 257L, 1025L, 4097L}) {
    std::vector<float> re(bins), im(bins), phase(bins), previous(bins);
    for (long k = 0; k < bins; ++k) {
      re[k] = value(engine);
      im[k] = value(engine);
      phase[k] = angle(engine);
      previous[k] = angle(engine);
    }
    // Deviations that land exactly on multiples of pi, and special values.
    if (bins > 8) {
      previous[1] = phase[1] - 0.25f * kPi;  // deviation 0 after the ramp of bin 1
      re[2] = kNaN;
      im[3] = kInf;
      phase[4] = kNaN;
      re[5] = 0.0f, im[5] = 0.0f;
      re[6] = 3e38f;
    }
    const varsile::pitch::PhaseConstants constants{static_cast<float>(std::numbers::pi / 4.0), 21.533203f,
                                                   27.41693f, 440.0f};
    const PhaseReference expected = ReferencePhases(re, im, phase, previous, bins, constants);
    for (const Passes* passes : RunnablePasses()) {
      std::vector<float> prev = previous, magnitude(bins), frequency(bins), quotient(bins);
      passes->phases(re.data(), im.data(), phase.data(), prev.data(), magnitude.data(), frequency.data(),
                     quotient.data(), bins, constants);
      const std::string what = std::string(passes->name) + ", " + std::to_string(bins) + " bins";
      ExpectSameBits(magnitude, expected.magnitude, bins, what + ", magnitude");
      ExpectSameBits(frequency, expected.frequency, bins, what + ", frequency");
      ExpectSameBits(quotient, expected.quotient, bins, what + ", quotient");
      ExpectSameBits(prev, expected.previous, bins, what + ", previous phase");
    }
  }
}

// The class of one bin as the decision defines it, from the logarithm of its
// quotient: note value in two roundings, 64-bit truncation, remainder by 12.
float ReferenceClass(float logarithm, float frequency, float magnitude) {
  const float twelveOverLn2 = static_cast<float>(12.0 / std::numbers::ln2);
  float note = logarithm * twelveOverLn2;
  note = note + 69.5f;
  if (!(frequency > 0.0f && magnitude > 0.0f) || !std::isfinite(note)) return -1.0f;
  const std::int64_t j = static_cast<std::int64_t>(note) % 12;
  return j < 0 ? -1.0f : static_cast<float>(j);
}

TEST(TrackerPasses, ClassifyMatchesThePlainDecisionAndMarksTheRuns) {
  std::mt19937 engine(13);
  std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
  const float twelveOverLn2 = static_cast<float>(12.0 / std::numbers::ln2);
  for (const long bins : {1L, 3L, 63L, 64L, 65L, 1025L, 8192L}) {
    std::vector<float> frequency(bins), magnitude(bins), quotient(bins), logarithm(bins);
    float f = 20.0f;
    for (long k = 0; k < bins; ++k) {
      // Rising frequencies in runs, now and then a step back, a skipped bin
      // or a note value on a class boundary.
      f *= 1.0f + 0.01f * uniform(engine);
      if (uniform(engine) < 0.05f) f *= 0.8f;
      frequency[k] = f;
      magnitude[k] = uniform(engine) < 0.03f ? 0.0f : uniform(engine);
      if (k % 97 == 5) frequency[k] = -1.0f;
      if (k % 101 == 7) frequency[k] = kNaN;
      if (k % 89 == 3) frequency[k] = static_cast<float>(440.0 * std::exp2((k % 24 - 12.5) / 12.0));
      quotient[k] = frequency[k] / 440.0f;
    }
    const int n = static_cast<int>(bins);
    vvlogf(logarithm.data(), quotient.data(), &n);
    std::vector<float> expectedClasses(bins), expectedWeights(bins);
    std::vector<std::uint64_t> expectedStarts((bins + 63) / 64, 0);
    for (long k = 0; k < bins; ++k) {
      expectedClasses[k] = ReferenceClass(logarithm[k], frequency[k], magnitude[k]);
      expectedWeights[k] = expectedClasses[k] >= 0.0f ? magnitude[k] : 0.0f;
      if (k == 0 || expectedClasses[k] != expectedClasses[k - 1])
        expectedStarts[k / 64] |= std::uint64_t{1} << (k % 64);
    }
    for (const Passes* passes : RunnablePasses()) {
      std::vector<float> classes = logarithm, weights(bins);  // classes written over the logarithms
      std::vector<std::uint64_t> starts((bins + 63) / 64, ~std::uint64_t{0});
      passes->classify(classes.data(), frequency.data(), magnitude.data(), classes.data(), weights.data(),
                       starts.data(), bins, twelveOverLn2, 69.5f);
      const std::string what = std::string(passes->name) + ", " + std::to_string(bins) + " bins";
      ExpectSameBits(classes, expectedClasses, bins, what + ", classes");
      ExpectSameBits(weights, expectedWeights, bins, what + ", weights");
      EXPECT_EQ(starts, expectedStarts) << what;
    }
  }
}

TEST(TrackerPasses, GatherRunsIsAStablePartitionByClass) {
  std::mt19937 engine(17);
  std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
  // Run lengths around the copy blocks' sizes, classes in any order, some
  // runs skipped, and a run that ends at the very end of the weights.
  std::vector<float> classes, weights;
  for (const long length : {1L, 15L, 16L, 17L, 63L, 64L, 65L, 130L, 2L, 1L, 33L}) {
    for (int repeat = 0; repeat < 3; ++repeat) {
      const float pitchClass = uniform(engine) < 0.1f ? -1.0f : std::floor(uniform(engine) * 12.0f);
      for (long i = 0; i < length; ++i) {
        classes.push_back(pitchClass);
        weights.push_back(pitchClass < 0.0f ? 0.0f : uniform(engine));
      }
    }
  }
  const long bins = static_cast<long>(classes.size());
  std::vector<std::uint64_t> starts((bins + 63) / 64, 0);
  std::vector<std::vector<float>> expected(varsile::pitch::kClassCount);
  for (long k = 0; k < bins; ++k) {
    if (k == 0 || classes[k] != classes[k - 1]) starts[k / 64] |= std::uint64_t{1} << (k % 64);
    if (classes[k] >= 0.0f) expected[static_cast<int>(classes[k])].push_back(weights[k]);
  }
  for (const Passes* passes : RunnablePasses()) {
    std::vector<float> lists(varsile::pitch::kClassCount * varsile::pitch::kListStride, kNaN);
    long counts[varsile::pitch::kClassCount];
    ASSERT_TRUE(
        passes->gatherRuns(classes.data(), weights.data(), starts.data(), bins, bins, lists.data(), counts))
        << passes->name;
    for (int j = 0; j < varsile::pitch::kClassCount; ++j) {
      ASSERT_EQ(counts[j], static_cast<long>(expected[j].size())) << passes->name << ", class " << j;
      const std::vector<float> got(lists.begin() + j * varsile::pitch::kListStride,
                                   lists.begin() + j * varsile::pitch::kListStride + counts[j]);
      EXPECT_EQ(got, expected[j]) << passes->name << ", class " << j;
    }
  }

  // One class with more bins than a list holds is refused.
  const long many = varsile::pitch::kListCapacity + 1;
  std::vector<float> oneClass(many, 9.0f), ones(many, 1.0f);
  std::vector<std::uint64_t> oneRun((many + 63) / 64, 0);
  oneRun[0] = 1;
  for (const Passes* passes : RunnablePasses()) {
    std::vector<float> lists(varsile::pitch::kClassCount * varsile::pitch::kListStride);
    long counts[varsile::pitch::kClassCount];
    EXPECT_FALSE(
        passes->gatherRuns(oneClass.data(), ones.data(), oneRun.data(), many, many, lists.data(), counts))
        << passes->name;
  }
}

TEST(TrackerPasses, TheProcessorGetsItsBestTable) {
  const std::vector<const Passes*> runnable = RunnablePasses();
  EXPECT_EQ(&varsile::pitch::ActivePasses(), runnable.back());
}

}  // namespace
