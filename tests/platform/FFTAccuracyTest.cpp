// vDSP_fft_zip against double-precision references: the tracker relies on an
// unscaled transform with kernel e^(-2 pi i k n / N), in place.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "AccelerateTestSupport.h"

namespace {

using accelerate_test::CompareSpectrum;
using accelerate_test::NaiveDFT;
using accelerate_test::RandomFloats;
using accelerate_test::ReferenceFFT;

constexpr double kMaxRelativeRMS = 1e-6;
constexpr double kMaxRelativePeak = 5e-6;

struct Signal {
  std::vector<float> re, im;
};

Signal RealSignal(size_t n, std::mt19937& rng) {
  return {RandomFloats(n, rng), std::vector<float>(n, 0.0f)};
}
Signal ComplexSignal(size_t n, std::mt19937& rng) {
  return {RandomFloats(n, rng), RandomFloats(n, rng)};
}

// Runs the transform on a copy and reports the error against want.
accelerate_test::SpectrumError Transform(FFTSetup setup, const Signal& in, unsigned log2n,
                                         FFTDirection direction, const accelerate_test::Spectrum& want) {
  Signal out = in;
  DSPSplitComplex split{out.re.data(), out.im.data()};
  vDSP_fft_zip(setup, &split, 1, log2n, direction);
  return CompareSpectrum(out.re.data(), out.im.data(), want);
}

class FFTAccuracy : public ::testing::TestWithParam<unsigned> {
 protected:
  static void SetUpTestSuite() { sSetup = vDSP_create_fftsetup(13, kFFTRadix2); }
  static void TearDownTestSuite() { vDSP_destroy_fftsetup(sSetup); }
  static FFTSetup sSetup;
};
FFTSetup FFTAccuracy::sSetup = nullptr;

TEST_P(FFTAccuracy, RealInputMatchesTheNaiveDFT) {
  ASSERT_NE(sSetup, nullptr);
  const unsigned log2n = GetParam();
  std::mt19937 rng(log2n);
  const Signal in = RealSignal(size_t{1} << log2n, rng);
  const auto error = Transform(sSetup, in, log2n, kFFTDirection_Forward, NaiveDFT(in.re, in.im));
  EXPECT_LT(error.relativeRMS, kMaxRelativeRMS);
  EXPECT_LT(error.relativePeak, kMaxRelativePeak);
}

TEST_P(FFTAccuracy, ComplexInputMatchesTheNaiveDFT) {
  ASSERT_NE(sSetup, nullptr);
  const unsigned log2n = GetParam();
  std::mt19937 rng(100 + log2n);
  const Signal in = ComplexSignal(size_t{1} << log2n, rng);
  const auto error = Transform(sSetup, in, log2n, kFFTDirection_Forward, NaiveDFT(in.re, in.im));
  EXPECT_LT(error.relativeRMS, kMaxRelativeRMS);
  EXPECT_LT(error.relativePeak, kMaxRelativePeak);
}

TEST_P(FFTAccuracy, InverseUsesThePositiveKernel) {
  ASSERT_NE(sSetup, nullptr);
  const unsigned log2n = GetParam();
  std::mt19937 rng(200 + log2n);
  for (const Signal& in : {RealSignal(size_t{1} << log2n, rng), ComplexSignal(size_t{1} << log2n, rng)}) {
    const auto error = Transform(sSetup, in, log2n, kFFTDirection_Inverse, ReferenceFFT(in.re, in.im, true));
    EXPECT_LT(error.relativeRMS, kMaxRelativeRMS);
    EXPECT_LT(error.relativePeak, kMaxRelativePeak);
  }
}

INSTANTIATE_TEST_SUITE_P(TrackerSizes, FFTAccuracy, ::testing::Values(9u, 10u, 11u, 12u, 13u),
                         [](const auto& info) { return std::to_string(1u << info.param); });

TEST(FFTReference, RecursiveReferenceMatchesTheNaiveDFT) {
  std::mt19937 rng(7);
  const auto re = RandomFloats(256, rng), im = RandomFloats(256, rng);
  for (bool inverse : {false, true}) {
    const auto fast = ReferenceFFT(re, im, inverse);
    const auto slow = NaiveDFT(re, im, inverse);
    for (size_t k = 0; k < fast.size(); ++k) ASSERT_LT(std::abs(fast[k] - slow[k]), 1e-9) << k;
  }
}

// Every size a setup of 2^16 serves, from 2 points up, both kinds of input
// and both directions.
TEST(FFTSizes, EverySizeUpToTheSetupsMaximum) {
  FFTSetup setup = vDSP_create_fftsetup(16, kFFTRadix2);
  ASSERT_NE(setup, nullptr);
  std::mt19937 rng(11);
  for (unsigned log2n = 1; log2n <= 16; ++log2n) {
    const size_t n = size_t{1} << log2n;
    for (const Signal& in : {RealSignal(n, rng), ComplexSignal(n, rng)}) {
      for (FFTDirection direction : {kFFTDirection_Forward, kFFTDirection_Inverse}) {
        const auto want = ReferenceFFT(in.re, in.im, direction == kFFTDirection_Inverse);
        const auto error = Transform(setup, in, log2n, direction, want);
        EXPECT_LT(error.relativeRMS, kMaxRelativeRMS) << "N " << n << " direction " << direction;
        EXPECT_LT(error.relativePeak, kMaxRelativePeak) << "N " << n << " direction " << direction;
      }
    }
  }
  vDSP_destroy_fftsetup(setup);
}

TEST(FFTSizes, TwoPointAndFourPointTransformsAreExact) {
  FFTSetup setup = vDSP_create_fftsetup(2, kFFTRadix2);
  ASSERT_NE(setup, nullptr);
  float re2[] = {3.0f, 5.0f}, im2[] = {1.0f, -2.0f};
  DSPSplitComplex two{re2, im2};
  vDSP_fft_zip(setup, &two, 1, 1, kFFTDirection_Forward);
  EXPECT_EQ(re2[0], 8.0f);
  EXPECT_EQ(im2[0], -1.0f);
  EXPECT_EQ(re2[1], -2.0f);
  EXPECT_EQ(im2[1], 3.0f);

  // x = 1, 2, 3, 4: X = 10, -2+2i, -2, -2-2i.
  float re4[] = {1.0f, 2.0f, 3.0f, 4.0f}, im4[] = {0.0f, 0.0f, 0.0f, 0.0f};
  DSPSplitComplex four{re4, im4};
  vDSP_fft_zip(setup, &four, 1, 2, kFFTDirection_Forward);
  EXPECT_EQ(re4[0], 10.0f);
  EXPECT_EQ(im4[0], 0.0f);
  EXPECT_EQ(re4[1], -2.0f);
  EXPECT_EQ(im4[1], 2.0f);
  EXPECT_EQ(re4[2], -2.0f);
  EXPECT_EQ(im4[2], 0.0f);
  EXPECT_EQ(re4[3], -2.0f);
  EXPECT_EQ(im4[3], -2.0f);
  vDSP_destroy_fftsetup(setup);
}

// The tracker's reading of phase: a cosine at bin 5 with phase phi has
// X[5] = N/2 e^(i phi) under the forward kernel.
TEST(FFTSizes, ForwardKernelGivesPositivePhaseAdvance) {
  FFTSetup setup = vDSP_create_fftsetup(11, kFFTRadix2);
  ASSERT_NE(setup, nullptr);
  constexpr size_t n = 2048;
  constexpr double phi = 0.75;
  std::vector<float> re(n), im(n, 0.0f);
  for (size_t k = 0; k < n; ++k) {
    re[k] = static_cast<float>(std::cos(2.0 * std::numbers::pi * 5.0 * static_cast<double>(k) / n + phi));
  }
  DSPSplitComplex split{re.data(), im.data()};
  vDSP_fft_zip(setup, &split, 1, 11, FFT_FORWARD);
  EXPECT_NEAR(std::atan2(im[5], re[5]), phi, 1e-5);
  EXPECT_NEAR(std::hypot(im[5], re[5]), n / 2.0, 1e-2);
  EXPECT_NEAR(std::atan2(im[n - 5], re[n - 5]), -phi, 1e-5);
  vDSP_destroy_fftsetup(setup);
}

TEST(FFTSizes, RealInputGivesAnExactlyConjugateSymmetricSpectrum) {
  FFTSetup setup = vDSP_create_fftsetup(11, kFFTRadix2);
  ASSERT_NE(setup, nullptr);
  std::mt19937 rng(3);
  auto re = RandomFloats(2048, rng);
  std::vector<float> im(2048, 0.0f);
  im[17] = -0.0f;  // a negative zero is still a zero imaginary part
  DSPSplitComplex split{re.data(), im.data()};
  vDSP_fft_zip(setup, &split, 1, 11, kFFTDirection_Forward);
  EXPECT_EQ(im[0], 0.0f);
  EXPECT_EQ(im[1024], 0.0f);
  for (size_t k = 1; k < 1024; ++k) {
    ASSERT_EQ(re[k], re[2048 - k]) << k;
    ASSERT_EQ(im[k], -im[2048 - k]) << k;
  }
  vDSP_destroy_fftsetup(setup);
}

TEST(FFTSizes, ForwardThenInverseScalesByN) {
  FFTSetup setup = vDSP_create_fftsetup(12, kFFTRadix2);
  ASSERT_NE(setup, nullptr);
  std::mt19937 rng(5);
  const auto re = RandomFloats(4096, rng), im = RandomFloats(4096, rng);
  auto outRe = re, outIm = im;
  DSPSplitComplex split{outRe.data(), outIm.data()};
  vDSP_fft_zip(setup, &split, 1, 12, kFFTDirection_Forward);
  vDSP_fft_zip(setup, &split, 1, 12, kFFTDirection_Inverse);
  for (size_t k = 0; k < re.size(); ++k) {
    ASSERT_NEAR(outRe[k] / 4096.0f, re[k], 2e-6f) << k;
    ASSERT_NEAR(outIm[k] / 4096.0f, im[k], 2e-6f) << k;
  }
  vDSP_destroy_fftsetup(setup);
}

}  // namespace
