#include "FFTShiftLL.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <numbers>

#include "FFTShiftLLPasses.h"

FFTShiftLL::FFTShiftLL()
    : mTwo(2.0f),
      mZero(0.0f),
      mPi(std::numbers::pi_v<float>),
      mTwelveOverLn2(static_cast<float>(12.0 / std::numbers::ln2)),
      mA4NotePlusHalf(69.5f),
      mSpectrum{mSpectrumReal, mSpectrumImag},
      mWindowType(kWindowHann) {
  // offsetof on a class with private members is an extension, but one that
  // both compilers that build this evaluate at compile time.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  constexpr std::size_t kArrays[] = {offsetof(FFTShiftLL, mInputFIFO),    offsetof(FFTShiftLL, mPrevPhase),
                                     offsetof(FFTShiftLL, mBinFrequency), offsetof(FFTShiftLL, mBinMagnitude),
                                     offsetof(FFTShiftLL, mSpectrumReal), offsetof(FFTShiftLL, mSpectrumImag),
                                     offsetof(FFTShiftLL, mWindow),       offsetof(FFTShiftLL, mWorkA),
                                     offsetof(FFTShiftLL, mWorkB),        offsetof(FFTShiftLL, mWorkC)};
#pragma GCC diagnostic pop
  static_assert(
      std::all_of(std::begin(kArrays), std::end(kArrays),
                  [first = kArrays[0]](std::size_t offset) { return (offset - first) % 4096 == 0; }),
      "the arrays must start whole pages apart");
  // The passes are picked here rather than at the first frame.
  static_cast<void>(varsile::pitch::ActivePasses());
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
  mCheckedLog2Size = 0;
  mCheckedOversampling = 0;

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
                                 float accuracyThreshold, long /*resetFlag*/) noexcept VARSILE_NONBLOCKING {
  // Most calls of a host that renders a few frames at a time reach no hop:
  // with the size and oversampling the last full call checked, the samples
  // only join the FIFO.
  if (log2Size == mCheckedLog2Size && oversampling == mCheckedOversampling && frameCount > 0 &&
      input != nullptr && frameCount < (1L << log2Size) - mWritePos) [[likely]] {
    Append(input, frameCount);
    return PitchClass();
  }
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
  // A division costs a render of a few frames more than the rest of this
  // call; the oversampling is a power of two in every use there is.
  const auto shift = std::countr_zero(static_cast<unsigned long>(oversampling));
  const long hop = (oversampling & (oversampling - 1)) == 0 ? n >> shift : n / oversampling;
  const long latency = n - hop;

  if (mWritePos == 0) mWritePos = latency;
  long done = 0;
  while (done < frameCount) {
    // mWritePos stays in [latency, n) between calls, so there is always room.
    const long take = std::min(n - static_cast<long>(mWritePos), frameCount - done);
    Append(input + done, take);
    done += take;
    if (mWritePos == n) {
      mWritePos = latency;
      if (CanAnalyse()) {
        AnalyseFrame(log2Size, oversampling, sampleRate, shiftTable, a4Frequency, holdThreshold,
                     accuracyThreshold);
      }
      if (latency > 0) {
        const auto keep = static_cast<vDSP_Length>(latency);
        vDSP_mmov(mInputFIFO + hop, mInputFIFO, keep, 1, keep, keep);
      }
    }
  }
  mCheckedLog2Size = log2Size;
  mCheckedOversampling = oversampling;
  return PitchClass();
}

void FFTShiftLL::Append(const float* input, long count) noexcept {
  float* const to = mInputFIFO + mWritePos;
  // Hosts that render a few frames at a time would otherwise pay for a
  // library call per sample.
  if (count <= 4) {
    for (long i = 0; i < count; ++i) to[i] = input[i];
  } else {
    std::copy_n(input, count, to);
  }
  mWritePos += count;
}

float FFTShiftLL::WrapPhase(float phase) noexcept {
  varsile::pitch::ActivePasses().wrap(&phase, 1);
  return phase;
}

// Every step of the analysis over the bins is one of the dispatched passes
// or a vector-library call, each a short sweep over arrays that stay in the
// first-level cache: the transform, the phases (vvatan2f), magnitudes, true
// frequencies and the quotients by A4 in one pass, then the decision.
void FFTShiftLL::AnalyseFrame(long log2Size, long oversampling, float sampleRate, const float* shiftTable,
                              float a4Frequency, long holdThreshold,
                              float accuracyThreshold) noexcept VARSILE_NONBLOCKING {
  const long n = 1L << log2Size;
  const long hop = n / oversampling;
  const long bins = n / 2 + 1;
  const auto binWidth = static_cast<float>(static_cast<double>(sampleRate) / static_cast<double>(n));
  const varsile::pitch::PhaseConstants constants{
      static_cast<float>(2.0 * std::numbers::pi * static_cast<double>(hop) / static_cast<double>(n)),
      binWidth,
      static_cast<float>(static_cast<double>(binWidth) * static_cast<double>(oversampling) /
                         (2.0 * std::numbers::pi)),
      a4Frequency};
  const int binCount = static_cast<int>(bins);

  vDSP_vmul(mInputFIFO, 1, mWindow, 1, mSpectrumReal, 1, static_cast<vDSP_Length>(n));
  vDSP_vclr(mSpectrumImag, 1, static_cast<vDSP_Length>(n));
  vDSP_fft_zip(*mActiveSetup, &mSpectrum, 1, static_cast<vDSP_Length>(log2Size), FFT_FORWARD);
  mSpectrumImag[0] = 0.0f;

  vvatan2f(mWorkB, mSpectrumImag, mSpectrumReal, &binCount);
  varsile::pitch::ActivePasses().phases(mSpectrumReal, mSpectrumImag, mWorkB, mPrevPhase, mBinMagnitude,
                                        mBinFrequency, mWorkA, bins, constants);
  Decide(mBinFrequency, mBinMagnitude, binCount, shiftTable, holdThreshold, accuracyThreshold);
}
