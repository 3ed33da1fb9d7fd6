// vvatan2f and vvlogf against the standard library, in ULP, over random bit
// patterns, the special values and every tail length; and each compiled
// instruction-set variant against the portable one.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "Accelerate/VectorKernels.h"
#include "AccelerateTestSupport.h"

namespace {

using accelerate_test::RandomFloats;
using accelerate_test::UlpDistance;
using varsile::accelerate::VectorISA;
using varsile::accelerate::VectorKernels;

// SLEEF's u10 functions are within 1 ULP of the exact value, so within 1 of
// the correctly rounded one; 2 leaves room for glibc's own float functions.
constexpr int64_t kMaxUlp = 2;

// Same class as the reference (NaN, signed infinity, signed zero) and,
// otherwise, within maxUlp.
::testing::AssertionResult SameResult(float got, float want, int64_t maxUlp) {
  if (std::isnan(want) || std::isinf(want) || want == 0.0f) {
    const bool same =
        std::isnan(want) ? std::isnan(got) : got == want && std::signbit(got) == std::signbit(want);
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << got << ", want " << want;
  }
  const int64_t ulp = UlpDistance(got, want);
  if (ulp <= maxUlp) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << got << ", want " << want << ": " << ulp << " ULP";
}

float Atan2Reference(float y, float x) {
  return static_cast<float>(std::atan2(double{y}, double{x}));
}
float LogReference(float x) {
  return static_cast<float>(std::log(double{x}));
}

// Floats of every magnitude: uniform random bit patterns, NaNs included.
std::vector<float> RandomBitPatterns(size_t n, std::mt19937& rng) {
  std::vector<float> out(n);
  for (float& v : out) v = std::bit_cast<float>(static_cast<uint32_t>(rng()));
  return out;
}

std::vector<float> SpecialValues() {
  using limits = std::numeric_limits<float>;
  std::vector<float> values = {0.0f,          limits::denorm_min(),
                               1e-40f,        limits::min(),
                               1e-20f,        0.5f,
                               1.0f,          2.0f,
                               3.14159265f,   1e20f,
                               limits::max(), limits::infinity()};
  const size_t positives = values.size();
  for (size_t i = 0; i < positives; ++i) values.push_back(-values[i]);
  values.push_back(limits::quiet_NaN());
  return values;
}

struct Pairs {
  std::vector<float> y, x;
};

// Every special value against every other, then random bit patterns, then
// ordinary spectrum-like values.
Pairs Atan2Inputs() {
  Pairs p;
  const auto special = SpecialValues();
  for (float y : special) {
    for (float x : special) {
      p.y.push_back(y);
      p.x.push_back(x);
    }
  }
  std::mt19937 rng(1);
  const auto by = RandomBitPatterns(50000, rng), bx = RandomBitPatterns(50000, rng);
  p.y.insert(p.y.end(), by.begin(), by.end());
  p.x.insert(p.x.end(), bx.begin(), bx.end());
  const auto sy = RandomFloats(50000, rng, -1000.0f, 1000.0f),
             sx = RandomFloats(50000, rng, -1000.0f, 1000.0f);
  p.y.insert(p.y.end(), sy.begin(), sy.end());
  p.x.insert(p.x.end(), sx.begin(), sx.end());
  return p;
}

std::vector<float> LogInputs() {
  auto values = SpecialValues();
  std::mt19937 rng(2);
  for (float v : RandomBitPatterns(100000, rng)) values.push_back(v);
  for (float v : RandomFloats(50000, rng, 0.0f, 100.0f)) values.push_back(v);
  return values;
}

TEST(AccelerateVectorMath, Atan2MatchesTheStandardLibrary) {
  const Pairs in = Atan2Inputs();
  std::vector<float> z(in.y.size());
  const int n = static_cast<int>(z.size());
  vvatan2f(z.data(), in.y.data(), in.x.data(), &n);
  int failures = 0;
  for (size_t i = 0; i < z.size() && failures < 10; ++i) {
    const auto result = SameResult(z[i], Atan2Reference(in.y[i], in.x[i]), kMaxUlp);
    EXPECT_TRUE(result) << "atan2(" << in.y[i] << ", " << in.x[i] << ")";
    EXPECT_TRUE(SameResult(z[i], std::atan2(in.y[i], in.x[i]), kMaxUlp + 1)) << "std::atan2f";
    failures += result ? 0 : 1;
  }
}

TEST(AccelerateVectorMath, LogMatchesTheStandardLibrary) {
  const auto x = LogInputs();
  std::vector<float> y(x.size());
  const int n = static_cast<int>(y.size());
  vvlogf(y.data(), x.data(), &n);
  int failures = 0;
  for (size_t i = 0; i < y.size() && failures < 10; ++i) {
    const auto result = SameResult(y[i], LogReference(x[i]), kMaxUlp);
    EXPECT_TRUE(result) << "log(" << x[i] << ")";
    EXPECT_TRUE(SameResult(y[i], std::log(x[i]), kMaxUlp + 1)) << "std::logf";
    failures += result ? 0 : 1;
  }
}

TEST(AccelerateVectorMath, NamedSpecialCases) {
  const float inf = std::numeric_limits<float>::infinity();
  const float pi = 3.14159265f;
  const float y[] = {0.0f, -0.0f, 0.0f, -0.0f, 1.0f, -1.0f, inf, inf, 0.0f};
  const float x[] = {1.0f, 1.0f, -1.0f, -1.0f, 0.0f, 0.0f, inf, -inf, std::nanf("")};
  const float want[] = {0.0f, -0.0f, pi, -pi, pi / 2, -pi / 2, pi / 4, 3 * pi / 4, std::nanf("")};
  float z[9];
  const int n = 9;
  vvatan2f(z, y, x, &n);
  for (int i = 0; i < n; ++i) EXPECT_TRUE(SameResult(z[i], want[i], 1)) << i;

  const float lx[] = {1.0f, 0.0f, -0.0f, -1.0f, inf, -inf, std::nanf(""), std::exp(1.0f)};
  const float lwant[] = {0.0f, -inf, -inf, std::nanf(""), inf, std::nanf(""), std::nanf(""), 1.0f};
  float ly[8];
  const int ln = 8;
  vvlogf(ly, lx, &ln);
  for (int i = 0; i < ln; ++i) EXPECT_TRUE(SameResult(ly[i], lwant[i], 1)) << i;
}

// Every length around the vector widths: the tail is computed, nothing
// beyond it is written, and the output may be one of the inputs.
TEST(AccelerateVectorMath, EveryTailLengthAndInPlace) {
  std::mt19937 rng(3);
  for (int n = 1; n <= 70; ++n) {
    const auto y = RandomFloats(n, rng), x = RandomFloats(n, rng);
    std::vector<float> z(n + 1, 99.0f);
    vvatan2f(z.data(), y.data(), x.data(), &n);
    for (int i = 0; i < n; ++i) ASSERT_TRUE(SameResult(z[i], Atan2Reference(y[i], x[i]), kMaxUlp));
    EXPECT_EQ(z[n], 99.0f);
    auto inPlace = y;
    vvatan2f(inPlace.data(), inPlace.data(), x.data(), &n);
    for (int i = 0; i < n; ++i) ASSERT_EQ(inPlace[i], z[i]);

    std::vector<float> positive = RandomFloats(n, rng, 0.001f, 1000.0f), logs(n + 1, 99.0f);
    vvlogf(logs.data(), positive.data(), &n);
    for (int i = 0; i < n; ++i) ASSERT_TRUE(SameResult(logs[i], LogReference(positive[i]), kMaxUlp));
    EXPECT_EQ(logs[n], 99.0f);
    vvlogf(positive.data(), positive.data(), &n);
    for (int i = 0; i < n; ++i) ASSERT_EQ(positive[i], logs[i]);
  }
}

// Each instruction set this processor runs, through its own table.
class AccelerateKernelVariant : public ::testing::TestWithParam<const VectorKernels*> {
 protected:
  void SetUp() override {
    if (!varsile::accelerate::VectorISASupported(GetParam()->isa)) GTEST_SKIP() << "not on this processor";
  }
  const VectorKernels& kernels() const { return *GetParam(); }
  const VectorKernels& portable() const { return varsile::accelerate::kVectorKernelsSSE2; }
};

TEST_P(AccelerateKernelVariant, VectorMathWithinUlp) {
  const Pairs in = Atan2Inputs();
  std::vector<float> z(in.y.size());
  kernels().atan2(z.data(), in.y.data(), in.x.data(), static_cast<long>(z.size()));
  for (size_t i = 0; i < z.size(); ++i) {
    ASSERT_TRUE(SameResult(z[i], Atan2Reference(in.y[i], in.x[i]), kMaxUlp)) << in.y[i] << ", " << in.x[i];
  }
  const auto x = LogInputs();
  std::vector<float> y(x.size());
  kernels().log(y.data(), x.data(), static_cast<long>(x.size()));
  for (size_t i = 0; i < y.size(); ++i) ASSERT_TRUE(SameResult(y[i], LogReference(x[i]), kMaxUlp)) << x[i];
}

// No fused multiply-adds: every level rounds exactly as the portable one.
TEST_P(AccelerateKernelVariant, ArithmeticIsBitwiseIdenticalToThePortableKernels) {
  std::mt19937 rng(4);
  for (long n : {1L, 5L, 17L, 100L, 1025L}) {
    const auto a = RandomFloats(n, rng, -100.0f, 100.0f), b = RandomFloats(n, rng, -100.0f, 100.0f);
    std::vector<float> got(n), want(n);
    for (auto op : {&VectorKernels::mul, &VectorKernels::add, &VectorKernels::sub, &VectorKernels::dist}) {
      (kernels().*op)(a.data(), b.data(), got.data(), n);
      (portable().*op)(a.data(), b.data(), want.data(), n);
      ASSERT_EQ(got, want);
    }
    for (auto op : {&VectorKernels::scalarMul, &VectorKernels::scalarDiv, &VectorKernels::scalarAdd}) {
      (kernels().*op)(a.data(), 0.7f, got.data(), n);
      (portable().*op)(a.data(), 0.7f, want.data(), n);
      ASSERT_EQ(got, want);
    }
    kernels().ramp(1.5f, 0.1f, got.data(), n);
    portable().ramp(1.5f, 0.1f, want.data(), n);
    ASSERT_EQ(got, want);
  }
}

TEST_P(AccelerateKernelVariant, SpectrumPassesAreBitwiseIdenticalToThePortableKernels) {
  std::vector<float> cosine(1024), sine(1024);
  for (size_t k = 0; k < 1024; ++k) {
    cosine[k] = static_cast<float>(std::cos(2.0 * std::numbers::pi * static_cast<double>(k) / 2048.0));
    sine[k] = static_cast<float>(std::sin(2.0 * std::numbers::pi * static_cast<double>(k) / 2048.0));
  }
  std::mt19937 rng(5);
  for (long m : {1L, 2L, 4L, 64L, 1024L}) {
    for (bool inverse : {false, true}) {
      const auto re = RandomFloats(2 * m, rng), im = RandomFloats(2 * m, rng);
      for (auto pass : {&VectorKernels::realSpectrum, &VectorKernels::complexSpectrum}) {
        auto gotRe = re, gotIm = im, wantRe = re, wantIm = im;
        (kernels().*pass)(gotRe.data(), gotIm.data(), cosine.data(), sine.data(), m, inverse);
        (portable().*pass)(wantRe.data(), wantIm.data(), cosine.data(), sine.data(), m, inverse);
        ASSERT_EQ(gotRe, wantRe) << "m " << m;
        ASSERT_EQ(gotIm, wantIm) << "m " << m;
      }
      std::vector<float> gotA(m), gotB(m), wantA(m), wantB(m);
      kernels().deinterleave(re.data(), gotA.data(), gotB.data(), m);
      portable().deinterleave(re.data(), wantA.data(), wantB.data(), m);
      ASSERT_EQ(gotA, wantA);
      ASSERT_EQ(gotB, wantB);
    }
  }
}

TEST_P(AccelerateKernelVariant, ZeroScanSeesAnyNonZeroEntry) {
  std::vector<float> v(3000, 0.0f);
  EXPECT_FALSE(kernels().anyNonZero(v.data(), 3000));
  v[1234] = -0.0f;
  EXPECT_FALSE(kernels().anyNonZero(v.data(), 3000));
  for (float odd : {1e-45f, -1.0f, std::numeric_limits<float>::infinity(), std::nanf("")}) {
    for (size_t at : {size_t{0}, size_t{255}, size_t{256}, size_t{2999}}) {
      v[at] = odd;
      EXPECT_TRUE(kernels().anyNonZero(v.data(), 3000)) << odd << " at " << at;
      EXPECT_EQ(kernels().anyNonZero(v.data(), static_cast<long>(at)), false);
      v[at] = 0.0f;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(, AccelerateKernelVariant,
                         ::testing::Values(&varsile::accelerate::kVectorKernelsSSE2,
                                           &varsile::accelerate::kVectorKernelsSSE4,
                                           &varsile::accelerate::kVectorKernelsAVX2,
                                           &varsile::accelerate::kVectorKernelsAVX512F),
                         [](const auto& info) {
                           std::string name = info.param->name;
                           std::erase_if(name, [](char c) { return c == '-' || c == '.'; });
                           return name;
                         });

TEST(AccelerateDispatch, ActiveKernelsAreTheBestThisProcessorRuns) {
  using varsile::accelerate::VectorISASupported;
  const VectorISA best = VectorISASupported(VectorISA::AVX512F) ? VectorISA::AVX512F
                         : VectorISASupported(VectorISA::AVX2)  ? VectorISA::AVX2
                         : VectorISASupported(VectorISA::SSE4)  ? VectorISA::SSE4
                                                                : VectorISA::SSE2;
  EXPECT_EQ(varsile::accelerate::ActiveVectorKernels().isa, best);
  EXPECT_TRUE(VectorISASupported(VectorISA::SSE2));
}

}  // namespace
