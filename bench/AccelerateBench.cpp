// The vector library's hot operations next to plain scalar code: one
// 2048-point vDSP_fft_zip (real input, as the pitch tracker feeds it, and
// general complex input) against a recursive radix-2 FFT, and one pass of
// vvatan2f and vvlogf over 1025 bins against a loop over the standard
// library. Prints the ratios at the end.
#include <Accelerate/Accelerate.h>
#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "Accelerate/VectorKernels.h"

namespace {

constexpr unsigned kLog2n = 11;
constexpr size_t kPoints = size_t{1} << kLog2n;
constexpr int kBins = kPoints / 2 + 1;
// Several input sets, cycled, so that the branchy scalar functions see
// changing data as they do in a running tracker.
constexpr size_t kInputSets = 16;

struct alignas(64) Frame {
  float re[kPoints];
  float im[kPoints];
};

// A windowed harmonic tone with noise: the tracker's kind of input.
std::vector<Frame> MakeFrames(bool complexInput) {
  std::mt19937 rng(42);
  std::normal_distribution<double> noise(0.0, 0.01);
  std::vector<Frame> frames(kInputSets);
  for (size_t f = 0; f < kInputSets; ++f) {
    for (size_t k = 0; k < kPoints; ++k) {
      const double t = static_cast<double>(k + f * 256) / 44100.0;
      double x = noise(rng);
      for (int h = 1; h <= 8; ++h) x += std::sin(2.0 * std::numbers::pi * 196.0 * h * t) / h;
      const double window = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * static_cast<double>(k) / kPoints));
      frames[f].re[k] = static_cast<float>(x * window);
      frames[f].im[k] = complexInput ? static_cast<float>(noise(rng)) : 0.0f;
    }
  }
  return frames;
}

// Spectra of those frames, as the per-bin passes see them.
struct Bins {
  std::vector<float> re, im, magnitude;
};

std::vector<Bins> MakeBins() {
  std::vector<Bins> bins;
  FFTSetup setup = vDSP_create_fftsetup(kLog2n, kFFTRadix2);
  for (Frame frame : MakeFrames(false)) {
    DSPSplitComplex split{frame.re, frame.im};
    vDSP_fft_zip(setup, &split, 1, kLog2n, kFFTDirection_Forward);
    Bins b{{frame.re, frame.re + kBins}, {frame.im, frame.im + kBins}, std::vector<float>(kBins)};
    for (int k = 0; k < kBins; ++k) b.magnitude[k] = std::hypot(b.re[k], b.im[k]);
    bins.push_back(std::move(b));
  }
  vDSP_destroy_fftsetup(setup);
  return bins;
}

// The scalar baseline: a plain recursive radix-2 decimation-in-time FFT with
// a twiddle table, out of place into two work arrays. Real and imaginary
// parts are kept apart, as the split-complex interface holds them (GCC
// compiles std::complex<float> butterflies into store-forwarding stalls that
// would triple this time and flatter the comparison).
class ScalarFFT {
 public:
  ScalarFFT() : mCos(kPoints / 2), mSin(kPoints / 2), mRe(kPoints), mIm(kPoints) {
    for (size_t k = 0; k < kPoints / 2; ++k) {
      const double angle = 2.0 * std::numbers::pi * static_cast<double>(k) / kPoints;
      mCos[k] = static_cast<float>(std::cos(angle));
      mSin[k] = static_cast<float>(-std::sin(angle));
    }
  }

  void Transform(float* re, float* im) {
    Recurse(re, im, mRe.data(), mIm.data(), kPoints, 1);
    std::memcpy(re, mRe.data(), kPoints * sizeof(float));
    std::memcpy(im, mIm.data(), kPoints * sizeof(float));
  }

 private:
  void Recurse(const float* inRe, const float* inIm, float* outRe, float* outIm, size_t n, size_t stride) {
    if (n == 1) {
      outRe[0] = inRe[0];
      outIm[0] = inIm[0];
      return;
    }
    const size_t half = n / 2;
    Recurse(inRe, inIm, outRe, outIm, half, stride * 2);
    Recurse(inRe + stride, inIm + stride, outRe + half, outIm + half, half, stride * 2);
    for (size_t k = 0; k < half; ++k) {
      const float wr = mCos[k * stride], wi = mSin[k * stride];
      const float vr = outRe[k + half], vi = outIm[k + half];
      const float tr = wr * vr - wi * vi, ti = wr * vi + wi * vr;
      outRe[k + half] = outRe[k] - tr;
      outIm[k + half] = outIm[k] - ti;
      outRe[k] += tr;
      outIm[k] += ti;
    }
  }

  std::vector<float> mCos, mSin, mRe, mIm;
};

// Each FFT iteration restores its input first (the transform is in place);
// the copy is the same for both sides and is timed alone as well.
void BM_FFTInputCopy(benchmark::State& state) {
  const auto frames = MakeFrames(state.range(0) != 0);
  Frame work;
  size_t f = 0;
  for (auto _ : state) {
    std::memcpy(&work, &frames[f], sizeof work);
    f = (f + 1) % kInputSets;
    benchmark::DoNotOptimize(work.re);
    benchmark::ClobberMemory();
  }
}

void BM_FFT_vDSP(benchmark::State& state) {
  const auto frames = MakeFrames(state.range(0) != 0);
  FFTSetup setup = vDSP_create_fftsetup(kLog2n, kFFTRadix2);
  Frame work;
  DSPSplitComplex split{work.re, work.im};
  size_t f = 0;
  for (auto _ : state) {
    std::memcpy(&work, &frames[f], sizeof work);
    f = (f + 1) % kInputSets;
    vDSP_fft_zip(setup, &split, 1, kLog2n, kFFTDirection_Forward);
    benchmark::DoNotOptimize(work.re);
    benchmark::ClobberMemory();
  }
  vDSP_destroy_fftsetup(setup);
}

void BM_FFT_ScalarRadix2(benchmark::State& state) {
  const auto frames = MakeFrames(state.range(0) != 0);
  ScalarFFT fft;
  Frame work;
  size_t f = 0;
  for (auto _ : state) {
    std::memcpy(&work, &frames[f], sizeof work);
    f = (f + 1) % kInputSets;
    fft.Transform(work.re, work.im);
    benchmark::DoNotOptimize(work.re);
    benchmark::ClobberMemory();
  }
}

// For reference: FFTW's own real-input transform of the same frame, the
// least a 2048-point real spectrum costs here (half spectrum, out of place).
void BM_FFT_FFTWRealInput(benchmark::State& state) {
  const auto frames = MakeFrames(false);
  Frame work;
  fftwf_complex* out = fftwf_alloc_complex(kPoints / 2 + 1);
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(kPoints, work.re, out, FFTW_ESTIMATE);
  size_t f = 0;
  for (auto _ : state) {
    std::memcpy(&work, &frames[f], sizeof work);
    f = (f + 1) % kInputSets;
    fftwf_execute_dft_r2c(plan, work.re, out);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(plan);
  fftwf_free(out);
}

void BM_Atan2_vvatan2f(benchmark::State& state) {
  const auto bins = MakeBins();
  std::vector<float> phase(kBins);
  size_t f = 0;
  for (auto _ : state) {
    vvatan2f(phase.data(), bins[f].im.data(), bins[f].re.data(), &kBins);
    f = (f + 1) % kInputSets;
    benchmark::DoNotOptimize(phase.data());
    benchmark::ClobberMemory();
  }
}

void BM_Atan2_StdLoop(benchmark::State& state) {
  const auto bins = MakeBins();
  std::vector<float> phase(kBins);
  size_t f = 0;
  for (auto _ : state) {
    const Bins& b = bins[f];
    for (int k = 0; k < kBins; ++k) phase[k] = std::atan2(b.im[k], b.re[k]);
    f = (f + 1) % kInputSets;
    benchmark::DoNotOptimize(phase.data());
    benchmark::ClobberMemory();
  }
}

void BM_Log_vvlogf(benchmark::State& state) {
  const auto bins = MakeBins();
  std::vector<float> out(kBins);
  size_t f = 0;
  for (auto _ : state) {
    vvlogf(out.data(), bins[f].magnitude.data(), &kBins);
    f = (f + 1) % kInputSets;
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

void BM_Log_StdLoop(benchmark::State& state) {
  const auto bins = MakeBins();
  std::vector<float> out(kBins);
  size_t f = 0;
  for (auto _ : state) {
    const Bins& b = bins[f];
    for (int k = 0; k < kBins; ++k) out[k] = std::log(b.magnitude[k]);
    f = (f + 1) % kInputSets;
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

// range(0): 0 = real input (zero imaginary part), 1 = complex input.
BENCHMARK(BM_FFTInputCopy)->ArgName("complex")->Arg(0)->Arg(1);
BENCHMARK(BM_FFT_vDSP)->ArgName("complex")->Arg(0)->Arg(1);
BENCHMARK(BM_FFT_ScalarRadix2)->ArgName("complex")->Arg(0)->Arg(1);
BENCHMARK(BM_FFT_FFTWRealInput);
BENCHMARK(BM_Atan2_vvatan2f);
BENCHMARK(BM_Atan2_StdLoop);
BENCHMARK(BM_Log_vvlogf);
BENCHMARK(BM_Log_StdLoop);

// Keeps each run's CPU time per iteration for the summary: on a shared
// machine the wall-clock time also counts other processes' turns.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  // Colour only on a terminal, so that piped output stays plain text.
  SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_Defaults : OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      const double nanos = run.GetAdjustedCPUTime() *
                           benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                           benchmark::GetTimeUnitMultiplier(run.time_unit);
      // With --benchmark_repetitions the fastest repetition is the one least
      // disturbed by other processes.
      const auto [entry, added] = mNanos.emplace(run.benchmark_name(), nanos);
      if (!added && nanos < entry->second) entry->second = nanos;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintSummary() const {
    std::printf("\nvector kernels: %s\n", varsile::accelerate::ActiveVectorKernels().name);
    std::printf("%-34s %12s %12s %8s\n", "operation", "vector (us)", "scalar (us)", "speed-up");
    Line("2048-point FFT, real input", "BM_FFT_vDSP/complex:0", "BM_FFT_ScalarRadix2/complex:0",
         "BM_FFTInputCopy/complex:0");
    Line("2048-point FFT, complex input", "BM_FFT_vDSP/complex:1", "BM_FFT_ScalarRadix2/complex:1",
         "BM_FFTInputCopy/complex:1");
    Line("atan2 over 1025 bins", "BM_Atan2_vvatan2f", "BM_Atan2_StdLoop", "");
    Line("log over 1025 bins", "BM_Log_vvlogf", "BM_Log_StdLoop", "");
    std::printf("(FFT times exclude the input copy, measured on its own.)\n");
    const auto ours = mNanos.find("BM_FFT_vDSP/complex:0"), fftw = mNanos.find("BM_FFT_FFTWRealInput");
    const auto copy = mNanos.find("BM_FFTInputCopy/complex:0");
    if (ours != mNanos.end() && fftw != mNanos.end() && copy != mNanos.end()) {
      std::printf("vDSP_fft_zip real input / FFTW r2c (ESTIMATE) of the same frame: %.3f / %.3f us = %.2f\n",
                  (ours->second - copy->second) / 1000.0, (fftw->second - copy->second) / 1000.0,
                  (ours->second - copy->second) / (fftw->second - copy->second));
    }
  }

 private:
  void Line(const char* label, const std::string& vector, const std::string& scalar,
            const std::string& overhead) const {
    const auto v = mNanos.find(vector), s = mNanos.find(scalar);
    if (v == mNanos.end() || s == mNanos.end()) return;
    const auto o = mNanos.find(overhead);
    const double copy = o == mNanos.end() ? 0.0 : o->second;
    const double vectorTime = v->second - copy, scalarTime = s->second - copy;
    std::printf("%-34s %12.3f %12.3f %7.1fx\n", label, vectorTime / 1000.0, scalarTime / 1000.0,
                scalarTime / vectorTime);
  }

  std::map<std::string, double> mNanos;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
