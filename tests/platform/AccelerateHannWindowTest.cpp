// The periodic Hann window: w[n] = s (1 - cos(2 pi n / N)), s = 0.8165 with
// vDSP_HANN_NORM and 0.5 without.
#include <Accelerate/Accelerate.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

TEST(AccelerateHannWindow, FollowsTheFormulaInDoublePrecision) {
  for (int flag : {vDSP_HANN_NORM, vDSP_HANN_DENORM}) {
    const double scale = flag == vDSP_HANN_NORM ? 0.8165 : 0.5;
    for (vDSP_Length n : {2ul, 5ul, 512ul, 2048ul, 8192ul}) {
      std::vector<float> w(n + 1, 99.0f);
      vDSP_hann_window(w.data(), n, flag);
      for (size_t k = 0; k < n; ++k) {
        const double want = scale * (1.0 - std::cos(2.0 * std::numbers::pi * static_cast<double>(k) / n));
        ASSERT_NEAR(w[k], want, std::abs(want) * 1e-7 + 1e-12) << "flag " << flag << " n " << n << " k " << k;
      }
      EXPECT_EQ(w[n], 99.0f) << "wrote past the end";
    }
  }
}

TEST(AccelerateHannWindow, PeriodicShapeZeroAtStartPeakAtHalf) {
  std::vector<float> w(2048);
  vDSP_hann_window(w.data(), w.size(), vDSP_HANN_NORM);
  EXPECT_EQ(w[0], 0.0f);
  // The peak is twice the scale; the tracker halves the window afterwards.
  EXPECT_EQ(w[1024], static_cast<float>(2.0 * 0.8165));
  EXPECT_EQ(w[1024] / 2.0f, 0.8165f);
  for (size_t k = 1; k < 1024; ++k) {
    ASSERT_EQ(w[k], w[2048 - k]) << k;
    ASSERT_LT(w[k - 1], w[k]) << k;
  }
  vDSP_hann_window(w.data(), w.size(), vDSP_HANN_DENORM);
  EXPECT_EQ(w[0], 0.0f);
  EXPECT_EQ(w[1024], 1.0f);
}

TEST(AccelerateHannWindow, SingleEntryIsZero) {
  float w = 99.0f;
  vDSP_hann_window(&w, 1, vDSP_HANN_NORM);
  EXPECT_EQ(w, 0.0f);
}

}  // namespace
