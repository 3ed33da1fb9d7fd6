// The element-wise vDSP operations against obvious loops, at stride 1 (the
// vector kernels, every tail length) and other strides, in place and not.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "AccelerateTestSupport.h"

namespace {

using accelerate_test::RandomFloats;

// Lengths around every vector width and its tails.
const std::vector<vDSP_Length> kLengths = {0, 1, 3, 4, 5, 7, 8, 15, 16, 17, 31, 33, 64, 1025};

using BinaryOp = std::function<void(const float*, vDSP_Stride, const float*, vDSP_Stride, float*, vDSP_Stride,
                                    vDSP_Length)>;
using Expected = std::function<float(float, float)>;

struct BinaryCase {
  const char* name;
  BinaryOp op;
  Expected expected;
};

const std::vector<BinaryCase>& BinaryCases() {
  static const std::vector<BinaryCase> cases = {
      {"vmul", vDSP_vmul, [](float a, float b) { return a * b; }},
      {"vadd", vDSP_vadd, [](float a, float b) { return a + b; }},
      // Subtrahend first: vsub(b, a) is a - b.
      {"vsub", vDSP_vsub, [](float b, float a) { return a - b; }},
      {"vdist", vDSP_vdist, [](float a, float b) { return std::sqrt(a * a + b * b); }},
  };
  return cases;
}

TEST(AccelerateArithmetic, BinaryOperationsAtStrideOne) {
  std::mt19937 rng(1);
  for (const BinaryCase& c : BinaryCases()) {
    for (vDSP_Length n : kLengths) {
      const auto a = RandomFloats(n + 1, rng, -10.0f, 10.0f), b = RandomFloats(n + 1, rng, -10.0f, 10.0f);
      std::vector<float> out(n + 1, 99.0f);
      c.op(a.data(), 1, b.data(), 1, out.data(), 1, n);
      for (size_t i = 0; i < n; ++i)
        ASSERT_EQ(out[i], c.expected(a[i], b[i])) << c.name << " n " << n << " i " << i;
      EXPECT_EQ(out[n], 99.0f) << c.name << " wrote past the end";
    }
  }
}

TEST(AccelerateArithmetic, BinaryOperationsAtOtherStrides) {
  std::mt19937 rng(2);
  constexpr vDSP_Length n = 37;
  for (const BinaryCase& c : BinaryCases()) {
    for (auto [sa, sb, sc] : {std::tuple{2L, 1L, 1L}, {1L, 3L, 1L}, {1L, 1L, 2L}, {3L, 2L, 4L}}) {
      const auto a = RandomFloats(n * sa, rng), b = RandomFloats(n * sb, rng);
      std::vector<float> out(n * sc, 99.0f);
      c.op(a.data(), sa, b.data(), sb, out.data(), sc, n);
      for (size_t i = 0; i < n * sc; ++i) {
        const float want = i % sc == 0 ? c.expected(a[i / sc * sa], b[i / sc * sb]) : 99.0f;
        ASSERT_EQ(out[i], want) << c.name << " strides " << sa << sb << sc << " i " << i;
      }
    }
    // A negative stride walks backwards from the given element.
    const auto a = RandomFloats(n, rng), b = RandomFloats(n, rng);
    std::vector<float> out(n);
    c.op(a.data() + n - 1, -1, b.data(), 1, out.data(), 1, n);
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], c.expected(a[n - 1 - i], b[i])) << c.name;
  }
}

TEST(AccelerateArithmetic, BinaryOperationsInPlace) {
  std::mt19937 rng(3);
  for (const BinaryCase& c : BinaryCases()) {
    const auto a = RandomFloats(1025, rng), b = RandomFloats(1025, rng);
    auto first = a;
    c.op(first.data(), 1, b.data(), 1, first.data(), 1, first.size());
    auto second = b;
    c.op(a.data(), 1, second.data(), 1, second.data(), 1, second.size());
    auto both = a;
    c.op(both.data(), 1, both.data(), 1, both.data(), 1, both.size());
    for (size_t i = 0; i < a.size(); ++i) {
      ASSERT_EQ(first[i], c.expected(a[i], b[i])) << c.name;
      ASSERT_EQ(second[i], c.expected(a[i], b[i])) << c.name;
      ASSERT_EQ(both[i], c.expected(a[i], a[i])) << c.name;
    }
  }
}

TEST(AccelerateArithmetic, SubtractionTakesTheSubtrahendFirst) {
  const float b[] = {1.0f, 2.0f, 3.0f}, a[] = {10.0f, 20.0f, 30.0f};
  float c[3];
  vDSP_vsub(b, 1, a, 1, c, 1, 3);
  EXPECT_EQ(c[0], 9.0f);
  EXPECT_EQ(c[1], 18.0f);
  EXPECT_EQ(c[2], 27.0f);
}

struct ScalarCase {
  const char* name;
  void (*op)(const float*, vDSP_Stride, const float*, float*, vDSP_Stride, vDSP_Length);
  Expected expected;
};

TEST(AccelerateArithmetic, ScalarOperations) {
  const ScalarCase cases[] = {
      {"vsmul", vDSP_vsmul, [](float a, float s) { return a * s; }},
      {"vsdiv", vDSP_vsdiv, [](float a, float s) { return a / s; }},
      {"vsadd", vDSP_vsadd, [](float a, float s) { return a + s; }},
  };
  std::mt19937 rng(4);
  const float scalar = 3.1415927f;
  for (const ScalarCase& c : cases) {
    for (vDSP_Length n : kLengths) {
      const auto a = RandomFloats(n + 1, rng);
      std::vector<float> out(n + 1, 99.0f);
      c.op(a.data(), 1, &scalar, out.data(), 1, n);
      for (size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], c.expected(a[i], scalar)) << c.name << " n " << n;
      EXPECT_EQ(out[n], 99.0f) << c.name;
      auto inPlace = a;
      c.op(inPlace.data(), 1, &scalar, inPlace.data(), 1, n);
      for (size_t i = 0; i < n; ++i) ASSERT_EQ(inPlace[i], c.expected(a[i], scalar)) << c.name;
    }
    const auto a = RandomFloats(30, rng);
    std::vector<float> out(20, 99.0f);
    c.op(a.data(), 3, &scalar, out.data(), 2, 10);
    for (size_t i = 0; i < 20; ++i) {
      ASSERT_EQ(out[i], i % 2 == 0 ? c.expected(a[i / 2 * 3], scalar) : 99.0f) << c.name;
    }
  }
}

TEST(AccelerateArithmetic, DivisionIsTrueDivision) {
  const float a[] = {1.0f, 10.0f, -7.0f, 0.0f, 1e30f};
  const float divisor = 3.0f;
  float c[5];
  vDSP_vsdiv(a, 1, &divisor, c, 1, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(c[i], a[i] / 3.0f);
}

TEST(AccelerateArithmetic, DistanceIsTheEuclideanNorm) {
  const float a[] = {3.0f, 0.0f, -5.0f, 0.0f}, b[] = {4.0f, 2.0f, 12.0f, 0.0f};
  float c[4];
  vDSP_vdist(a, 1, b, 1, c, 1, 4);
  EXPECT_EQ(c[0], 5.0f);
  EXPECT_EQ(c[1], 2.0f);
  EXPECT_EQ(c[2], 13.0f);
  EXPECT_EQ(c[3], 0.0f);
}

// The tracker subtracts k times the expected advance; from 0 the ramp must be
// exactly the rounded products.
TEST(AccelerateArithmetic, RampIsStartPlusIndexTimesStep) {
  const float zero = 0.0f, step = 0.78539819f;
  for (vDSP_Length n : kLengths) {
    std::vector<float> out(n + 1, 99.0f);
    vDSP_vramp(&zero, &step, out.data(), 1, n);
    for (size_t k = 0; k < n; ++k) ASSERT_EQ(out[k], static_cast<float>(k) * step) << k;
    EXPECT_EQ(out[n], 99.0f);
  }
  const float start = -2.5f, down = -0.125f;
  std::vector<float> out(20, 99.0f);
  vDSP_vramp(&start, &down, out.data(), 2, 10);
  for (size_t i = 0; i < 20; ++i) {
    ASSERT_EQ(out[i], i % 2 == 0 ? start + static_cast<float>(i / 2) * down : 99.0f) << i;
  }
}

TEST(AccelerateArithmetic, ClearSetsZeroAtAnyStride) {
  std::vector<float> v(40, 5.0f);
  vDSP_vclr(v.data(), 1, 17);
  for (size_t i = 0; i < 40; ++i) ASSERT_EQ(v[i], i < 17 ? 0.0f : 5.0f);
  std::fill(v.begin(), v.end(), 5.0f);
  vDSP_vclr(v.data(), 3, 10);
  for (size_t i = 0; i < 40; ++i) ASSERT_EQ(v[i], i % 3 == 0 && i < 30 ? 0.0f : 5.0f);
  EXPECT_FALSE(std::signbit(v[0]));
}

// The tracker's use: move entries hop .. N-1 to the start of the same array.
TEST(AccelerateArithmetic, MatrixMoveOfOneRowIsAnOverlapSafeMove) {
  std::vector<float> v(2048);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i);
  vDSP_mmov(v.data() + 256, v.data(), 1792, 1, 1792, 1792);
  for (size_t i = 0; i < 1792; ++i) ASSERT_EQ(v[i], static_cast<float>(i + 256));
  for (size_t i = 1792; i < 2048; ++i) ASSERT_EQ(v[i], static_cast<float>(i));
  // And toward the end.
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i);
  vDSP_mmov(v.data(), v.data() + 100, 1000, 1, 1000, 1000);
  for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(v[i + 100], static_cast<float>(i));
}

TEST(AccelerateArithmetic, MatrixMoveCopiesASubmatrix) {
  // 3 columns by 2 rows out of a 5-wide matrix into a 4-wide one.
  std::vector<float> a(15), c(12, -1.0f);
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<float>(i);
  vDSP_mmov(a.data() + 1, c.data(), 3, 2, 5, 4);
  const std::vector<float> want = {1, 2, 3, -1, 6, 7, 8, -1, -1, -1, -1, -1};
  EXPECT_EQ(c, want);
  // Overlapping rows inside one matrix, moved down a row.
  std::vector<float> m(16);
  for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<float>(i);
  vDSP_mmov(m.data(), m.data() + 4, 3, 3, 4, 4);
  const std::vector<float> moved = {0, 1, 2, 3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15};
  EXPECT_EQ(m, moved);
}

TEST(AccelerateArithmetic, EmptyCallsTouchNothing) {
  const float scalar = 1.0f;
  vDSP_vmul(nullptr, 1, nullptr, 1, nullptr, 1, 0);
  vDSP_vsub(nullptr, 2, nullptr, 2, nullptr, 2, 0);
  vDSP_vsmul(nullptr, 1, &scalar, nullptr, 1, 0);
  vDSP_vsdiv(nullptr, 1, nullptr, nullptr, 1, 0);
  vDSP_vramp(nullptr, nullptr, nullptr, 1, 0);
  vDSP_vclr(nullptr, 1, 0);
  vDSP_mmov(nullptr, nullptr, 0, 5, 0, 0);
  vDSP_hann_window(nullptr, 0, vDSP_HANN_NORM);
  const int none = 0;
  vvatan2f(nullptr, nullptr, nullptr, &none);
  vvlogf(nullptr, nullptr, &none);
  vvlogf(nullptr, nullptr, nullptr);
}

}  // namespace
