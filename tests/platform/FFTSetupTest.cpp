// Set-up lifecycle and the ways vDSP_fft_zip can be called: several sizes
// from one set-up, several set-ups at once, strides, unaligned arrays,
// concurrent use, and calls that must leave the arrays alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "AccelerateTestSupport.h"

namespace {

using accelerate_test::CompareSpectrum;
using accelerate_test::RandomFloats;
using accelerate_test::ReferenceFFT;

void ExpectTransformed(const float* re, const float* im, const accelerate_test::Spectrum& want) {
  const auto error = CompareSpectrum(re, im, want);
  EXPECT_LT(error.relativeRMS, 1e-6);
  EXPECT_LT(error.relativePeak, 5e-6);
}

TEST(FFTSetup, RefusesRadixOtherThanTwoAndSizesAbove2To20) {
  EXPECT_EQ(vDSP_create_fftsetup(10, 1), nullptr);
  EXPECT_EQ(vDSP_create_fftsetup(10, -1), nullptr);
  EXPECT_EQ(vDSP_create_fftsetup(21, kFFTRadix2), nullptr);
  EXPECT_EQ(vDSP_create_fftsetup(~vDSP_Length{0}, kFFTRadix2), nullptr);
  for (vDSP_Length log2n : {0ul, 1ul, 20ul}) {
    FFTSetup setup = vDSP_create_fftsetup(log2n, kFFTRadix2);
    EXPECT_NE(setup, nullptr) << log2n;
    vDSP_destroy_fftsetup(setup);
  }
  vDSP_destroy_fftsetup(nullptr);
}

// Plans are shared, so a set-up after the first of its size costs no
// planning. The median of several keeps a busy machine from failing this.
TEST(FFTSetup, CreatingAgainTakesNoPlanning) {
  vDSP_destroy_fftsetup(vDSP_create_fftsetup(13, kFFTRadix2));
  std::vector<double> millis;
  for (int i = 0; i < 21; ++i) {
    const auto start = std::chrono::steady_clock::now();
    FFTSetup setup = vDSP_create_fftsetup(13, kFFTRadix2);
    millis.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    ASSERT_NE(setup, nullptr);
    vDSP_destroy_fftsetup(setup);
  }
  std::nth_element(millis.begin(), millis.begin() + 10, millis.end());
  EXPECT_LT(millis[10], 1.0);
}

TEST(FFTSetup, OneSetupServesEverySmallerSizeAndTwoSetupsCoexist) {
  FFTSetup large = vDSP_create_fftsetup(13, kFFTRadix2);
  FFTSetup small = vDSP_create_fftsetup(9, kFFTRadix2);
  ASSERT_NE(large, nullptr);
  ASSERT_NE(small, nullptr);
  std::mt19937 rng(1);
  for (unsigned log2n = 2; log2n <= 13; ++log2n) {
    for (FFTSetup setup : {large, small}) {
      if (setup == small && log2n > 9) continue;
      auto re = RandomFloats(size_t{1} << log2n, rng);
      std::vector<float> im(re.size(), 0.0f);
      const auto want = ReferenceFFT(re, im);
      DSPSplitComplex split{re.data(), im.data()};
      vDSP_fft_zip(setup, &split, 1, log2n, kFFTDirection_Forward);
      ExpectTransformed(re.data(), im.data(), want);
    }
  }
  vDSP_destroy_fftsetup(small);
  // The other set-up keeps working after one is gone.
  auto re = RandomFloats(8192, rng), im = RandomFloats(8192, rng);
  const auto want = ReferenceFFT(re, im);
  DSPSplitComplex split{re.data(), im.data()};
  vDSP_fft_zip(large, &split, 1, 13, kFFTDirection_Forward);
  ExpectTransformed(re.data(), im.data(), want);
  vDSP_destroy_fftsetup(large);
}

// Arrays one float past an aligned address take the copying path.
TEST(FFTSetup, UnalignedArraysGiveTheSameResults) {
  FFTSetup setup = vDSP_create_fftsetup(11, kFFTRadix2);
  ASSERT_NE(setup, nullptr);
  std::mt19937 rng(2);
  for (bool realInput : {true, false}) {
    std::vector<float> reStore(2049 + 16), imStore(2049 + 16);
    for (size_t offset : {size_t{1}, size_t{2}, size_t{3}}) {
      float* re = reStore.data() + offset;
      float* im = imStore.data() + offset;
      const auto reIn = RandomFloats(2048, rng);
      const auto imIn = realInput ? std::vector<float>(2048, 0.0f) : RandomFloats(2048, rng);
      std::copy(reIn.begin(), reIn.end(), re);
      std::copy(imIn.begin(), imIn.end(), im);
      DSPSplitComplex split{re, im};
      vDSP_fft_zip(setup, &split, 1, 11, kFFTDirection_Forward);
      ExpectTransformed(re, im, ReferenceFFT(reIn, imIn));
    }
  }
  vDSP_destroy_fftsetup(setup);
}

TEST(FFTSetup, StridedArraysAreTransformedAndGapsLeftAlone) {
  FFTSetup setup = vDSP_create_fftsetup(10, kFFTRadix2);
  ASSERT_NE(setup, nullptr);
  std::mt19937 rng(3);
  for (vDSP_Stride stride : {2, 3}) {
    for (FFTDirection direction : {kFFTDirection_Forward, kFFTDirection_Inverse}) {
      auto re = RandomFloats(1024 * stride, rng), im = RandomFloats(1024 * stride, rng);
      std::vector<float> packedRe(1024), packedIm(1024);
      for (size_t k = 0; k < 1024; ++k) {
        packedRe[k] = re[k * stride];
        packedIm[k] = im[k * stride];
      }
      const auto gapsRe = re, gapsIm = im;
      DSPSplitComplex split{re.data(), im.data()};
      vDSP_fft_zip(setup, &split, stride, 10, direction);
      const auto want = ReferenceFFT(packedRe, packedIm, direction == kFFTDirection_Inverse);
      for (size_t k = 0; k < re.size(); ++k) {
        if (k % stride == 0) {
          packedRe[k / stride] = re[k];
          packedIm[k / stride] = im[k];
        } else {
          ASSERT_EQ(re[k], gapsRe[k]);
          ASSERT_EQ(im[k], gapsIm[k]);
        }
      }
      ExpectTransformed(packedRe.data(), packedIm.data(), want);
    }
  }
  vDSP_destroy_fftsetup(setup);
}

// Two threads on one set-up: whichever finds the scratch taken runs the
// in-place path, and both stay correct.
TEST(FFTSetup, ConcurrentUseOfOneSetupStaysCorrect) {
  FFTSetup setup = vDSP_create_fftsetup(11, kFFTRadix2);
  ASSERT_NE(setup, nullptr);
  std::mt19937 rng(4);
  const auto re = RandomFloats(2048, rng);
  const std::vector<float> im(2048, 0.0f);
  const auto want = ReferenceFFT(re, im);
  auto worker = [&](int* failures) {
    for (int i = 0; i < 300; ++i) {
      auto outRe = re, outIm = im;
      DSPSplitComplex split{outRe.data(), outIm.data()};
      vDSP_fft_zip(setup, &split, 1, 11, kFFTDirection_Forward);
      if (CompareSpectrum(outRe.data(), outIm.data(), want).relativeRMS > 1e-5) ++*failures;
    }
  };
  int failuresA = 0, failuresB = 0;
  std::thread a(worker, &failuresA), b(worker, &failuresB);
  a.join();
  b.join();
  EXPECT_EQ(failuresA, 0);
  EXPECT_EQ(failuresB, 0);
  vDSP_destroy_fftsetup(setup);
}

TEST(FFTSetup, CallsThatCannotBeCarriedOutLeaveTheArraysAlone) {
  FFTSetup setup = vDSP_create_fftsetup(10, kFFTRadix2);
  ASSERT_NE(setup, nullptr);
  std::mt19937 rng(5);
  const auto reIn = RandomFloats(2048, rng), imIn = RandomFloats(2048, rng);
  auto re = reIn, im = imIn;
  DSPSplitComplex split{re.data(), im.data()};
  vDSP_fft_zip(setup, &split, 1, 11, kFFTDirection_Forward);  // above the setup's size
  vDSP_fft_zip(setup, &split, 0, 10, kFFTDirection_Forward);  // stride 0
  vDSP_fft_zip(setup, &split, -1, 10, kFFTDirection_Forward);
  vDSP_fft_zip(setup, &split, 1, 10, 0);                     // no such direction
  vDSP_fft_zip(setup, &split, 1, 0, kFFTDirection_Forward);  // one point: the identity
  vDSP_fft_zip(nullptr, &split, 1, 10, kFFTDirection_Forward);
  EXPECT_EQ(re, reIn);
  EXPECT_EQ(im, imIn);
  vDSP_fft_zip(setup, nullptr, 1, 10, kFFTDirection_Forward);
  DSPSplitComplex noArrays{nullptr, im.data()};
  vDSP_fft_zip(setup, &noArrays, 1, 10, kFFTDirection_Forward);
  EXPECT_EQ(im, imIn);
  vDSP_destroy_fftsetup(setup);
}

// A NaN makes its transform NaN, as the tracker's description expects, and
// the next call is clean again.
TEST(FFTSetup, NaNInputPropagatesWithoutHarm) {
  FFTSetup setup = vDSP_create_fftsetup(9, kFFTRadix2);
  ASSERT_NE(setup, nullptr);
  for (bool inImaginary : {false, true}) {
    std::vector<float> re(512, 1.0f), im(512, 0.0f);
    (inImaginary ? im : re)[100] = std::nanf("");
    DSPSplitComplex split{re.data(), im.data()};
    vDSP_fft_zip(setup, &split, 1, 9, kFFTDirection_Forward);
    EXPECT_TRUE(std::isnan(inImaginary ? im[0] : re[0]));
    EXPECT_TRUE(std::isnan(re[300]) || std::isnan(im[300]));
  }
  std::vector<float> re(512, 1.0f), im(512, 0.0f);
  DSPSplitComplex split{re.data(), im.data()};
  vDSP_fft_zip(setup, &split, 1, 9, kFFTDirection_Forward);
  EXPECT_EQ(re[0], 512.0f);
  EXPECT_EQ(re[1], 0.0f);
  vDSP_destroy_fftsetup(setup);
}

}  // namespace
