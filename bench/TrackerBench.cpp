// What one channel of pitch tracking costs, next to the bare transform that
// each analysed frame is built on. The figure to drive down is the ratio.
#include <Accelerate/Accelerate.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "FFTShiftLL.h"
#include "RunWithSummary.h"

namespace {

constexpr double kSampleRate = 44100.0;
constexpr long kBlock = 512;
constexpr long kLog2Size = 11;
constexpr long kOversampling = 8;
constexpr long kHop = (1L << kLog2Size) / kOversampling;

// A G3 with eight harmonics falling off as 1/h and noise about 30 dB down:
// every frame has a clear winner but no bin is empty.
std::vector<float> HarmonicToneWithNoise(long blocks) {
  std::mt19937 engine(1);
  std::normal_distribution<double> noise(0.0, 0.01);
  std::vector<float> out(static_cast<std::size_t>(blocks * kBlock));
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / kSampleRate;
    double x = 0.0;
    for (int h = 1; h <= 8; ++h) x += 0.3 / h * std::sin(2.0 * std::numbers::pi * 196.0 * h * t);
    out[i] = static_cast<float>(x + noise(engine));
  }
  return out;
}

void BM_Tracker(benchmark::State& state) {
  static const std::vector<float> signal = HarmonicToneWithNoise(344);  // about 4 s
  auto tracker = std::make_unique<FFTShiftLL>();
  tracker->Reset(kLog2Size);
  const float shifts[12] = {};
  // Measured from the steady state, with the FIFO full.
  std::size_t position = 0;
  const auto feed = [&] {
    const std::int64_t pitchClass = tracker->Process(
        FFTShiftLL::kModeAnalysisOnly, shifts, kBlock, kLog2Size, kOversampling,
        static_cast<float>(kSampleRate), signal.data() + position, nullptr, 3, 440.0f, 1, 25.0f, 0);
    position += kBlock;
    if (position == signal.size()) position = 0;
    return pitchClass;
  };
  for (int i = 0; i < 8; ++i) feed();
  for (auto _ : state) benchmark::DoNotOptimize(feed());
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["time_per_frame"] = benchmark::Counter(
      iterations * kBlock / kHop, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["x_realtime"] =
      benchmark::Counter(iterations * kBlock / kSampleRate, benchmark::Counter::kIsRate);
  if (tracker->PitchClass() != 7) state.SkipWithError("the tone was not tracked as G");
}
BENCHMARK(BM_Tracker);

void BM_BareFFT2048(benchmark::State& state) {
  FFTSetup setup = vDSP_create_fftsetup(kLog2Size, kFFTRadix2);
  if (setup == nullptr) {
    state.SkipWithError("no FFT setup");
    return;
  }
  const long n = 1L << kLog2Size;
  std::mt19937 engine(2);
  std::uniform_real_distribution<float> uniform(-0x1p-44f, 0x1p-44f);
  std::vector<float> real(static_cast<std::size_t>(n)), imag(static_cast<std::size_t>(n));
  for (long i = 0; i < n; ++i) real[i] = uniform(engine), imag[i] = uniform(engine);
  const DSPSplitComplex data{real.data(), imag.data()};
  // Two forward transforms give the input back reversed and scaled by exactly
  // 2^11; scaling back every 16 transforms keeps the data in range at a cost
  // of well under a percent.
  const float down = 0x1p-88f;
  long count = 0;
  for (auto _ : state) {
    vDSP_fft_zip(setup, &data, 1, kLog2Size, FFT_FORWARD);
    benchmark::ClobberMemory();
    if (++count % 16 == 0) {
      vDSP_vsmul(real.data(), 1, &down, real.data(), 1, static_cast<vDSP_Length>(n));
      vDSP_vsmul(imag.data(), 1, &down, imag.data(), 1, static_cast<vDSP_Length>(n));
    }
  }
  vDSP_destroy_fftsetup(setup);
  state.counters["time_per_frame"] = benchmark::Counter(
      static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BareFFT2048);

// Prints the tracker's cost per frame as a multiple of the bare transform's,
// from the medians when the runs are repeated.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const auto counter = run.counters.find("time_per_frame");
      if (counter == run.counters.end() || run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Iteration || median)
        mPerFrame[run.run_name.function_name] = counter->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatio() const {
    const auto tracker = mPerFrame.find("BM_Tracker");
    const auto fft = mPerFrame.find("BM_BareFFT2048");
    if (tracker == mPerFrame.end() || fft == mPerFrame.end() || fft->second <= 0.0) return;
    std::printf("tracker frame / bare 2048-point FFT: %.2f\n", tracker->second / fft->second);
  }

 private:
  std::map<std::string, double> mPerFrame;
};

}  // namespace

int main(int argc, char** argv) {
  return RunWithSummary<RatioReporter>(argc, argv, [](RatioReporter& reporter) { reporter.PrintRatio(); });
}
