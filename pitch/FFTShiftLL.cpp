#include "FFTShiftLL.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "FloatLanes.h"

FFTShiftLL::FFTShiftLL()
    : mTwo(2.0f),
      mZero(0.0f),
      mPi(std::numbers::pi_v<float>),
      mTwelveOverLn2(static_cast<float>(12.0 / std::numbers::ln2)),
      mA4NotePlusHalf(69.5f),
      mSpectrum{mSpectrumReal, mSpectrumImag},
      mWindowType(kWindowHann) {
  // A setup that cannot be created stays null; Reset and Process tolerate that.
  for (long i = 0; i < kSetupCount; ++i) {
    mFFTSetups[i] = vDSP_create_fftsetup(static_cast<vDSP_Length>(kMinLog2Size + i), kFFTRadix2);
  }
  Reset(kMinLog2Size);
}

FFTShiftLL::~FFTShiftLL() {
  for (FFTSetup setup : mFFTSetups) {
    if (setup != nullptr) vDSP_destroy_fftsetup(setup);
  }
}

void FFTShiftLL::Reset(long log2Size) noexcept {
  vDSP_vclr(mInputFIFO, 1, kMaxSize);
  vDSP_vclr(mBinFrequency, 1, kMaxSize);
  vDSP_vclr(mBinMagnitude, 1, kMaxSize);
  vDSP_vclr(mPrevPhase, 1, kMaxBins);
  mWritePos = 0;

  const bool supported = log2Size >= kMinLog2Size && log2Size <= kMaxLog2Size;
  mActiveSetup = supported ? &mFFTSetups[log2Size - kMinLog2Size] : nullptr;
  if (supported && mWindowType == kWindowHann) {
    const auto n = static_cast<vDSP_Length>(1L << log2Size);
    vDSP_hann_window(mWorkA, n, vDSP_HANN_NORM);
    vDSP_vsdiv(mWorkA, 1, &mTwo, mWindow, 1, n);
  }

  mPitchClass.store(-1, std::memory_order_relaxed);
  mHoldCount = 0;
  mShift = 0.0f;
  mAccuracy.store(0.0f, std::memory_order_relaxed);
}

std::int64_t FFTShiftLL::Process(UInt32 /*mode*/, const float* shiftTable, long frameCount, long log2Size,
                                 long oversampling, float sampleRate, const float* input, float* /*output*/,
                                 int /*windowType*/, float a4Frequency, long holdThreshold,
                                 float accuracyThreshold, long /*resetFlag*/) noexcept {
  // The FIFO position is only meaningful for the size of the last Reset; any
  // other size could carry it past the end of the buffers.
  if (log2Size < kMinLog2Size || log2Size > kMaxLog2Size ||
      mActiveSetup != &mFFTSetups[log2Size - kMinLog2Size]) {
    return PitchClass();
  }
  const long n = 1L << log2Size;
  if (oversampling < 1 || oversampling > n || frameCount < 0 || (frameCount > 0 && input == nullptr)) {
    return PitchClass();
  }
  const long hop = n / oversampling;
  const long latency = n - hop;
  const long bins = n / 2 + 1;
  const auto binWidth = static_cast<float>(static_cast<double>(sampleRate) / static_cast<double>(n));
  const auto expectedAdvance =
      static_cast<float>(2.0 * std::numbers::pi * static_cast<double>(hop) / static_cast<double>(n));
  const auto frequencyFactor = static_cast<float>(
      static_cast<double>(binWidth) * static_cast<double>(oversampling) / (2.0 * std::numbers::pi));

  if (mWritePos == 0) mWritePos = latency;
  long done = 0;
  while (done < frameCount) {
    // mWritePos stays in [latency, n) between calls, so there is always room.
    const long take = std::min(n - static_cast<long>(mWritePos), frameCount - done);
    std::copy_n(input + done, take, mInputFIFO + mWritePos);
    mWritePos += take;
    done += take;
    if (mWritePos == n) {
      mWritePos = latency;
      if (CanAnalyse()) {
        AnalyseFrame(log2Size, bins, binWidth, expectedAdvance, frequencyFactor, shiftTable, a4Frequency,
                     holdThreshold, accuracyThreshold);
      }
      if (latency > 0) {
        const auto keep = static_cast<vDSP_Length>(latency);
        vDSP_mmov(mInputFIFO + hop, mInputFIFO, keep, 1, keep, keep);
      }
    }
  }
  return PitchClass();
}

namespace {

using namespace FloatLanes;

// d - q pi with q = d / pi truncated toward zero and, when odd, moved one step
// away from zero. Quotients from 2^24 on are even whole numbers already, and
// their truncation is skipped so that it stays defined; NaN and infinity
// come back unchanged.
Floats Wrap(Floats d) noexcept {
  constexpr float pi = std::numbers::pi_v<float>;
  const Floats q = d / pi;
  const Mask small = Abs(q) < 0x1p24f;
  const Mask whole = TruncateToInt(Select(small, q, Floats{}));
  const Mask negative = whole < 0;
  const Mask stepped = whole + (((whole & 1) ^ negative) - negative);
  const Floats wrapped = d - ToFloat(stepped) * pi;
  const Floats large = d - q * pi;
  return Select(small, wrapped, Select(Abs(q) <= 0x1.fffffep127f, large, d));
}

}  // namespace

float FFTShiftLL::WrapPhase(float phase) noexcept {
  return Wrap(Splat(phase))[0];
}

void FFTShiftLL::AnalyseFrame(long log2Size, long bins, float binWidth, float expectedAdvance,
                              float frequencyFactor, const float* shiftTable, float a4Frequency,
                              long holdThreshold, float accuracyThreshold) noexcept {
  const auto n = static_cast<vDSP_Length>(1L << log2Size);
  const auto b = static_cast<vDSP_Length>(bins);
  const int binCount = static_cast<int>(bins);

  vDSP_vmul(mInputFIFO, 1, mWindow, 1, mSpectrumReal, 1, n);
  vDSP_vclr(mSpectrumImag, 1, n);
  vDSP_fft_zip(*mActiveSetup, &mSpectrum, 1, static_cast<vDSP_Length>(log2Size), FFT_FORWARD);
  mSpectrumImag[0] = 0.0f;

  vDSP_vdist(mSpectrumReal, 1, mSpectrumImag, 1, mWorkA, 1, b);
  vDSP_vsmul(mWorkA, 1, &mTwo, mBinMagnitude, 1, b);

  // Phase advance since the previous frame, less the advance of each bin's centre.
  vvatan2f(mWorkB, mSpectrumImag, mSpectrumReal, &binCount);
  vDSP_vsub(mPrevPhase, 1, mWorkB, 1, mWorkC, 1, b);
  vDSP_mmov(mWorkB, mPrevPhase, b, 1, b, b);
  vDSP_vramp(&mZero, &expectedAdvance, mWorkA, 1, b);
  vDSP_vsub(mWorkA, 1, mWorkC, 1, mWorkC, 1, b);
  long k = 0;
  for (; k + kWidth <= bins; k += kWidth) Store(mWorkC + k, Wrap(Load(mWorkC + k)));
  if (k < bins) StorePartial(mWorkC + k, Wrap(LoadPartial(mWorkC + k, bins - k)), bins - k);

  vDSP_vramp(&mZero, &binWidth, mWorkA, 1, b);
  vDSP_vsmul(mWorkC, 1, &frequencyFactor, mWorkB, 1, b);
  vDSP_vadd(mWorkA, 1, mWorkB, 1, mBinFrequency, 1, b);

  CalculateRatio(mBinFrequency, mBinMagnitude, binCount, shiftTable, a4Frequency, holdThreshold,
                 accuracyThreshold);
}
