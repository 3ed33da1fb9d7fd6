// Denormals: a decaying input, whose tails and spectra fall into the
// denormal range, must render as fast as a normal one. The render switches on
// flush-to-zero and denormals-are-zero, so the figure to watch is the printed
// ratio of the two render times, close to 1. The same two inputs through the
// bare pitch tracker with flushing switched off show what is at stake.
#include <Accelerate/Accelerate.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "FFTShiftLL.h"
#include "HostedGate.h"
#include "ProcessorMode.h"
#include "RunWithSummary.h"

namespace {

using namespace reliability;

constexpr Float64 kRate = 48000.0;
constexpr UInt32 kBlock = 512;
constexpr long kBurst = 8192;  // frames per decaying note

// One signal period of 64 bursts. Normal: an A3 with harmonics at a steady
// level. Decaying: each burst starts at 1e-30 and falls to 1e-46 by its end,
// so half of every burst and most of the transforms' products are denormal,
// as a reverberation tail dies away.
std::vector<Float32> Signal(bool decaying) {
  std::vector<Float32> out(64 * kBurst);
  const double fall = std::pow(1e-16, 1.0 / kBurst);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double w =
        2.0 * std::numbers::pi * 220.0 * (1.0 + 0.06 * static_cast<double>((i / kBurst) % 5)) * t;
    const double tone = 0.6 * std::sin(w) + 0.3 * std::sin(2.0 * w) + 0.1 * std::sin(3.0 * w);
    const double level = decaying ? 1e-30 * std::pow(fall, static_cast<double>(i % kBurst)) : 0.5;
    out[i] = static_cast<Float32>(level * tone);
  }
  return out;
}

// Hands out the signal in order, looping.
struct SignalInput {
  std::vector<Float32> samples;
  std::size_t position = 0;

  static OSStatus Render(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                         UInt32 frames, AudioBufferList* io) noexcept {
    auto& self = *static_cast<SignalInput*>(refCon);
    for (UInt32 b = 0; b < io->mNumberBuffers; ++b) {
      auto* out = static_cast<Float32*>(io->mBuffers[b].mData);
      for (UInt32 i = 0; i < frames; ++i) out[i] = self.samples[(self.position + i) % self.samples.size()];
    }
    self.position = (self.position + frames) % self.samples.size();
    return noErr;
  }
};

void Render(benchmark::State& state, bool decaying) {
  SignalInput input{Signal(decaying)};
  HostedGate gate(GateComponent(), 2, kRate, kBlock, &SignalInput::Render, &input);
  gate.Initialize();
  for (int i = 0; i < 16; ++i) gate.Render(kBlock, true);  // FIFOs full
  for (auto _ : state) {
    if (gate.Render(kBlock, true) != noErr) state.SkipWithError("render failed");
    benchmark::ClobberMemory();
  }
  state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(state.iterations()) * kBlock / kRate,
                                                    benchmark::Counter::kIsRate);
}

void BM_RenderNormalInput(benchmark::State& state) {
  Render(state, false);
}
void BM_RenderDecayingInput(benchmark::State& state) {
  Render(state, true);
}
BENCHMARK(BM_RenderNormalInput);
BENCHMARK(BM_RenderDecayingInput);

#ifdef VARSILE_HAS_MXCSR
// The tracker alone, with flush-to-zero and denormals-are-zero off.
void TrackerWithoutFlush(benchmark::State& state, bool decaying) {
  const std::vector<Float32> signal = Signal(decaying);
  auto tracker = std::make_unique<FFTShiftLL>();
  tracker->Reset(11);
  const float shifts[12] = {};
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(saved & ~processormode::kFtzDaz);
  std::size_t position = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tracker->Process(FFTShiftLL::kModeAnalysisOnly, shifts, kBlock, 11, 8,
                                              static_cast<float>(kRate), signal.data() + position, nullptr, 3,
                                              440.0f, 1, 25.0f, 0));
    position = (position + kBlock) % signal.size();
  }
  _mm_setcsr(saved);
}

void BM_TrackerNormalInputNoFlush(benchmark::State& state) {
  TrackerWithoutFlush(state, false);
}
void BM_TrackerDecayingInputNoFlush(benchmark::State& state) {
  TrackerWithoutFlush(state, true);
}
BENCHMARK(BM_TrackerNormalInputNoFlush);
BENCHMARK(BM_TrackerDecayingInputNoFlush);
#endif

// Prints decaying over normal for the render and for the unflushed tracker,
// from the medians when runs are repeated.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Iteration || median) {
        mTime[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatios() const {
    Print("render, decaying / normal input", "BM_RenderDecayingInput", "BM_RenderNormalInput");
    Print("tracker without flush-to-zero, decaying / normal input", "BM_TrackerDecayingInputNoFlush",
          "BM_TrackerNormalInputNoFlush");
  }

 private:
  void Print(const char* what, const char* slow, const char* fast) const {
    const auto a = mTime.find(slow);
    const auto b = mTime.find(fast);
    if (a == mTime.end() || b == mTime.end() || b->second <= 0.0) return;
    std::printf("%s: %.2f\n", what, a->second / b->second);
  }

  std::map<std::string, double> mTime;
};

}  // namespace

int main(int argc, char** argv) {
  return RunWithSummary<RatioReporter>(argc, argv, [](RatioReporter& reporter) { reporter.PrintRatios(); });
}
