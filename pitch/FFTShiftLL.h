// Spectral pitch tracker for one channel: a windowed complex FFT every hop
// samples, the true frequency of every bin by the phase-difference method, and
// a per-frame vote of the bins' magnitudes over the twelve pitch classes.
//
// Everything is sized at construction for transforms up to 8192 points, so
// Process and CalculateRatio allocate nothing, lock nothing and never throw.
//
// Defensive behaviour the owner can rely on:
// - Reset to a log2 size outside 9..13 leaves no active setup; Process then
//   returns the current class and touches nothing.
// - Process with a log2 size other than the last Reset's, an oversampling
//   outside 1..N, a negative frame count or a null input with samples does
//   nothing either, so the FIFO can never be indexed outside its size.
// - If the FFT setup of the reset size could not be created, mActiveSetup still
//   marks that size but holds no setup: Process keeps buffering samples and
//   keeps the hop schedule, yet analyses no frame; the class stays where it was
//   (-1 after Reset) and the accuracy 0.
// - Note values and phase quotients are only truncated to integers when they
//   are finite and in range; bins whose note value is not are skipped like
//   bins that give no class.
#pragma once

#include <Accelerate/Accelerate.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace varsile::pitch {

// The tracker's arrays start a whole number of 4 KB pages apart: padding of
// this many bytes follows the fields that sit between two of them. A pass that
// stores into one array while it loads from another then never finds a load
// whose address matches a pending store's in the low 12 bits, which the
// processor takes for a possible overlap and waits on; it did when each array
// sat a few cache lines further into its page than the one before.
constexpr std::size_t PadToPage(std::size_t bytes) {
  return 4096 - bytes % 4096;
}

}  // namespace varsile::pitch

class FFTShiftLL {
 public:
  static constexpr long kMinLog2Size = 9;
  static constexpr long kMaxLog2Size = 13;
  static constexpr long kSetupCount = kMaxLog2Size - kMinLog2Size + 1;
  static constexpr long kMaxSize = 1L << kMaxLog2Size;
  static constexpr long kMaxBins = kMaxSize / 2 + 1;
  // The one mode this tracker implements: it reads its input and never writes audio.
  static constexpr UInt32 kModeAnalysisOnly = 2;
  static constexpr UInt32 kWindowHann = 3;

  FFTShiftLL();
  ~FFTShiftLL();
  FFTShiftLL(const FFTShiftLL&) = delete;
  FFTShiftLL& operator=(const FFTShiftLL&) = delete;
  FFTShiftLL(FFTShiftLL&&) = delete;
  FFTShiftLL& operator=(FFTShiftLL&&) = delete;

  // Clears the analysis state and prepares window and setup for N = 2^log2Size.
  void Reset(long log2Size) noexcept;

  // Buffers the block and analyses a frame at every hop-th sample since Reset.
  // Returns the pitch class after the call: 0..11, or -1 while none has been
  // decided. `output` is neither read nor written; `mode`, `windowType` and
  // `resetFlag` are accepted for the caller's interface and change nothing.
  std::int64_t Process(UInt32 mode, const float* shiftTable, long frameCount, long log2Size,
                       long oversampling, float sampleRate, const float* input, float* output, int windowType,
                       float a4Frequency, long holdThreshold, float accuracyThreshold,
                       long resetFlag) noexcept VARSILE_NONBLOCKING;

  // The decision step of one frame: votes the bins over the pitch classes,
  // updates mAccuracy, mPitchClass, mHoldCount and mShift, and returns the
  // frequency ratio of mShift cents. `count` is clamped to 0..8192, null
  // tables count no bin, and a null shift table leaves mShift alone.
  float CalculateRatio(const float* frequencies, const float* magnitudes, int count, const float* shiftTable,
                       float a4Frequency, long holdThreshold,
                       float accuracyThreshold) noexcept VARSILE_NONBLOCKING;

  // Wraps a phase deviation into [-pi, pi] the way the analysis does: the
  // quotient by the single-precision pi is truncated toward zero and moved one
  // step away from zero when odd. Non-finite values are returned unchanged.
  static float WrapPhase(float phase) noexcept;

  // Safe to call from any thread while Process runs.
  float Accuracy() const noexcept { return mAccuracy.load(std::memory_order_relaxed); }
  std::int64_t PitchClass() const noexcept { return mPitchClass.load(std::memory_order_relaxed); }

  // Rendering-thread state, for the owner and for inspection.
  std::int64_t HoldCount() const noexcept { return mHoldCount; }
  float Shift() const noexcept { return mShift; }
  const float* BinFrequencies() const noexcept { return mBinFrequency; }
  const float* BinMagnitudes() const noexcept { return mBinMagnitude; }
  // Whether frames are transformed: the last Reset's size is supported and has a setup.
  bool CanAnalyse() const noexcept { return mActiveSetup != nullptr && *mActiveSetup != nullptr; }

  // Written once per analysed frame, read by the meters on other threads.
  std::atomic<float> mAccuracy{0.0f};
  std::atomic<std::int64_t> mPitchClass{-1};

 private:
  void AnalyseFrame(long log2Size, long oversampling, float sampleRate, const float* shiftTable,
                    float a4Frequency, long holdThreshold,
                    float accuracyThreshold) noexcept VARSILE_NONBLOCKING;
  // CalculateRatio from the point where mWorkA holds frequency / A4 of every
  // bin, without the ratio, which the analysis has no use for.
  void Decide(const float* frequencies, const float* magnitudes, int bins, const float* shiftTable,
              long holdThreshold, float accuracyThreshold) noexcept VARSILE_NONBLOCKING;

  // Copies count samples to the FIFO at mWritePos, which has room for them.
  void Append(const float* input, long count) noexcept VARSILE_NONBLOCKING;

  std::int64_t mHoldCount = 0;
  // What the last full Process call checked, or 0 since Reset: calls with the
  // same size and oversampling that reach no hop may skip the checks.
  long mCheckedLog2Size = 0;
  long mCheckedOversampling = 0;

  // The vector operations take their scalar operands by address.
  const float mTwo;
  const float mZero;
  const float mPi;
  const float mTwelveOverLn2;
  const float mA4NotePlusHalf;

  // The arrays start a whole number of 4 KB pages apart (PadToPage).
  alignas(64) float mInputFIFO[kMaxSize] = {};
  std::int64_t mWritePos = 0;
  char mPadAfterWritePos[varsile::pitch::PadToPage(sizeof(std::int64_t))];
  alignas(64) float mPrevPhase[kMaxBins] = {};
  char mPadAfterPrevPhase[varsile::pitch::PadToPage(sizeof(float) * kMaxBins)];
  alignas(64) float mBinFrequency[kMaxSize] = {};
  alignas(64) float mBinMagnitude[kMaxSize] = {};
  FFTSetup mFFTSetups[kSetupCount] = {};
  // Points at the entry of mFFTSetups for the last Reset's size (which may
  // itself be null), or is null after a Reset to an unsupported size.
  FFTSetup* mActiveSetup = nullptr;
  DSPSplitComplex mSpectrum;
  char mPadAfterSpectrum[varsile::pitch::PadToPage(sizeof(FFTSetup) * kSetupCount + sizeof(FFTSetup*) +
                                                   sizeof(DSPSplitComplex))];
  // 64-byte aligned, so the transform takes FFTW's aligned, copy-free path.
  alignas(64) float mSpectrumReal[kMaxSize] = {};
  alignas(64) float mSpectrumImag[kMaxSize] = {};
  UInt32 mWindowType;
  char mPadAfterWindowType[varsile::pitch::PadToPage(sizeof(UInt32))];
  alignas(64) float mWindow[kMaxSize] = {};
  alignas(64) float mWorkA[kMaxSize] = {};
  alignas(64) float mWorkB[kMaxSize] = {};
  alignas(64) float mWorkC[kMaxSize] = {};
  float mShift = 0.0f;

  static_assert(std::atomic<float>::is_always_lock_free && std::atomic<std::int64_t>::is_always_lock_free);
};
