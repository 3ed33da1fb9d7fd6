#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "SampleScan.h"

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace varsile::validate {
namespace {

const std::vector<float> kMixed{0.0f,
                                -0.0f,
                                0.5f,
                                -0.75f,
                                std::numeric_limits<float>::quiet_NaN(),
                                -std::numeric_limits<float>::infinity(),
                                std::numeric_limits<float>::denorm_min(),
                                -std::numeric_limits<float>::min() / 2,
                                std::numeric_limits<float>::min()};

void ExpectMixedCounts(const SampleStats& stats) {
  EXPECT_EQ(stats.samples, 9u);
  EXPECT_EQ(stats.nans, 1u);
  EXPECT_EQ(stats.infinities, 1u);
  EXPECT_EQ(stats.subnormals, 2u);
  EXPECT_EQ(stats.nonZero, 7u);
  EXPECT_EQ(stats.peak, 0.75f);
  EXPECT_FALSE(stats.Clean());
  EXPECT_FALSE(stats.Silent());
}

TEST(SampleScan, CountsWhatIsNotANormalNumber) {
  SampleStats stats;
  stats.Add(kMixed);
  ExpectMixedCounts(stats);
  EXPECT_NE(stats.Describe().find("2 subnormal"), std::string::npos);
}

TEST(SampleScan, SilenceIsCleanAndSilentNegativeZeroIncluded) {
  SampleStats stats;
  stats.Add(std::vector<float>{0.0f, -0.0f, 0.0f});
  EXPECT_TRUE(stats.Clean());
  EXPECT_TRUE(stats.Silent());
  SampleStats total;
  total.Add(stats);
  total.Add(std::vector<float>{0.25f});
  EXPECT_EQ(total.samples, 4u);
  EXPECT_FALSE(total.Silent());
  EXPECT_EQ(total.peak, 0.25f);
}

#if defined(__x86_64__)
// A unit that leaves flush-to-zero and denormals-are-zero on must not hide
// its subnormals from the scan.
TEST(SampleScan, SeesSubnormalsWhileTheThreadTreatsThemAsZero) {
  const unsigned int saved = _mm_getcsr();
  _mm_setcsr(saved | 0x8040);
  SampleStats stats;
  stats.Add(kMixed);
  _mm_setcsr(saved);
  ExpectMixedCounts(stats);
}
#endif

}  // namespace
}  // namespace varsile::validate
