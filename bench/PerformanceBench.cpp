// The performance suite: what one analysed frame costs next to the least any
// implementation of the analysis must do (the floor), next to the tracker a
// user would pick instead (aubio's yinfft), and what a whole render through
// the host calls costs at the block sizes hosts use. Prints a summary of the
// ratios at the end; scripts/bench builds and runs it.
//
// Times are CPU times of the benchmark thread, so that the other processes
// of a shared machine count less; with --benchmark_repetitions the summary
// takes the median of each case. Every case runs on the same audio.
#include <Accelerate/Accelerate.h>
#include <AudioToolbox/AudioComponentRegistry.h>
#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "Accelerate/VectorKernels.h"
#include "AudioUnitHandle.h"
#include "FFTShiftLL.h"
#include "FFTShiftLLPasses.h"
#include "GainRamp.h"
#include "RenderLoop.h"
#include "Varsile.h"

#ifdef VARSILE_BENCH_AUBIO
#include <aubio/aubio.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace {

constexpr double kRate = 44100.0;
constexpr long kLog2Size = Varsile::VarsileKernel::kLog2Size;
constexpr long kOversampling = Varsile::VarsileKernel::kOversampling;
constexpr long kN = 1L << kLog2Size;
constexpr long kHop = kN / kOversampling;
constexpr int kBins = kN / 2 + 1;
constexpr long kFrames = 16;  // distinct analysed frames that the per-frame cases cycle through
constexpr UInt32 kChannels = 2;
constexpr UInt32 kMaxBlock = 4096;

// About six seconds of a G3 with eight harmonics falling off as 1/h and noise
// about 30 dB down, a little different in each channel: every frame has a
// clear winner, yet no bin is empty.
const std::vector<float>& Audio(UInt32 channel) {
  static const std::array<std::vector<float>, kChannels> audio = [] {
    std::array<std::vector<float>, kChannels> out;
    for (UInt32 c = 0; c < kChannels; ++c) {
      std::mt19937 engine(1 + c);
      std::normal_distribution<double> noise(0.0, 0.01);
      out[c].resize(64 * kMaxBlock);
      for (std::size_t i = 0; i < out[c].size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        double x = 0.0;
        for (int h = 1; h <= 8; ++h) x += 0.3 / h * std::sin(2.0 * std::numbers::pi * 196.0 * h * t + c);
        out[c][i] = static_cast<float>(x + noise(engine));
      }
    }
    return out;
  }();
  return audio[channel];
}

template <typename T>
using Aligned = std::unique_ptr<T[], decltype(&fftwf_free)>;

Aligned<float> AllocateFloats(std::size_t n) {
  Aligned<float> p(fftwf_alloc_real(n), &fftwf_free);
  if (!p) throw std::bad_alloc();
  std::fill_n(p.get(), n, 0.0f);
  return p;
}

// kFrames consecutive analysed frames of the first channel, from the FIFO
// full onward, with what the tracker made of them: the raw frame, its
// windowed spectrum and the bins' frequencies and magnitudes.
struct Frames {
  Aligned<float> window = AllocateFloats(kN);
  Aligned<float> raw = AllocateFloats(kFrames * kN);
  Aligned<float> re = AllocateFloats(kFrames * kN);  // bins 0..kBins-1 used
  Aligned<float> im = AllocateFloats(kFrames * kN);
  Aligned<float> phase = AllocateFloats(kFrames * kN);     // atan2 of the spectrum
  Aligned<float> quotient = AllocateFloats(kFrames * kN);  // frequency / A4, the logarithm's input
  Aligned<float> frequency = AllocateFloats(kFrames * kN);
  Aligned<float> magnitude = AllocateFloats(kFrames * kN);

  Frames() {
    const float two = 2.0f;
    vDSP_hann_window(window.get(), kN, vDSP_HANN_NORM);
    vDSP_vsdiv(window.get(), 1, &two, window.get(), 1, kN);

    auto tracker = std::make_unique<FFTShiftLL>();
    tracker->Reset(kLog2Size);
    FFTSetup setup = vDSP_create_fftsetup(kLog2Size, kFFTRadix2);
    const std::vector<float>& x = Audio(0);
    const float shifts[12] = {};
    constexpr long kFirst = kOversampling + 1;
    for (long f = 0; f < kFirst + kFrames; ++f) {
      tracker->Process(FFTShiftLL::kModeAnalysisOnly, shifts, kHop, kLog2Size, kOversampling,
                       static_cast<float>(kRate), x.data() + f * kHop, nullptr, FFTShiftLL::kWindowHann,
                       440.0f, 1, 25.0f, 0);
      if (f < kFirst) continue;
      const long j = f - kFirst;
      float* frame = raw.get() + j * kN;
      std::copy_n(x.data() + (f + 1) * kHop - kN, kN, frame);
      DSPSplitComplex spectrum{re.get() + j * kN, im.get() + j * kN};
      vDSP_vmul(frame, 1, window.get(), 1, spectrum.realp, 1, kN);
      vDSP_fft_zip(setup, &spectrum, 1, kLog2Size, FFT_FORWARD);
      spectrum.imagp[0] = 0.0f;
      vvatan2f(phase.get() + j * kN, spectrum.imagp, spectrum.realp, &kBins);
      std::copy_n(tracker->BinFrequencies(), kBins, frequency.get() + j * kN);
      std::copy_n(tracker->BinMagnitudes(), kBins, magnitude.get() + j * kN);
      for (long k = 0; k < kBins; ++k) quotient[j * kN + k] = frequency[j * kN + k] / 440.0f;
    }
    vDSP_destroy_fftsetup(setup);
  }
};

const Frames& TestFrames() {
  static const Frames frames;
  return frames;
}

double PerFrame(benchmark::State& state) {
  return static_cast<double>(state.iterations());
}

void SetPerFrame(benchmark::State& state) {
  state.counters["per_frame"] =
      benchmark::Counter(PerFrame(state), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// ---- The floor -------------------------------------------------------------
// The least any implementation of this analysis has to do for a frame, at
// the best vector width of this processor: the window multiply, the fastest
// real-input 2048-point transform to be had here, and one vector atan2 and
// one vector logarithm over the 1025 bins. The summary adds the parts; the
// transform is the faster of FFTW's r2c with a measured plan and the
// platform's own transform on real input (BM_FFTStandIn).

struct FloorWork {
  Aligned<float> in = AllocateFloats(kN);
  Aligned<float> phase = AllocateFloats(kN);
  Aligned<float> logarithm = AllocateFloats(kN);
  fftwf_complex* out = fftwf_alloc_complex(kN / 2 + 1);
  // Planned on the main thread, never while another thread plans: FFTW's
  // planner is not thread-safe, and the platform and aubio plan with it too.
  // Measuring overwrites the arrays, which hold nothing yet.
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(static_cast<int>(kN), in.get(), out, FFTW_MEASURE);

  FloorWork() {
    if (out == nullptr || plan == nullptr) throw std::bad_alloc();
  }
  ~FloorWork() {
    fftwf_destroy_plan(plan);
    fftwf_free(out);
  }
  FloorWork(const FloorWork&) = delete;
  FloorWork& operator=(const FloorWork&) = delete;
};

FloorWork& Floor() {
  static FloorWork work;
  return work;
}

void BM_FloorWindow(benchmark::State& state) {
  const Frames& frames = TestFrames();
  FloorWork& w = Floor();
  long f = 0;
  for (auto _ : state) {
    vDSP_vmul(frames.raw.get() + f * kN, 1, frames.window.get(), 1, w.in.get(), 1, kN);
    benchmark::ClobberMemory();
    f = (f + 1) % kFrames;
  }
}
BENCHMARK(BM_FloorWindow);

void BM_FloorRealFFT(benchmark::State& state) {
  const Frames& frames = TestFrames();
  FloorWork& w = Floor();
  vDSP_vmul(frames.raw.get(), 1, frames.window.get(), 1, w.in.get(), 1, kN);
  for (auto _ : state) {
    fftwf_execute_dft_r2c(w.plan, w.in.get(), w.out);  // keeps its input
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FloorRealFFT);

void BM_FloorAtan2(benchmark::State& state) {
  const Frames& frames = TestFrames();
  FloorWork& w = Floor();
  long f = 0;
  for (auto _ : state) {
    vvatan2f(w.phase.get(), frames.im.get() + f * kN, frames.re.get() + f * kN, &kBins);
    benchmark::ClobberMemory();
    f = (f + 1) % kFrames;
  }
}
BENCHMARK(BM_FloorAtan2);

void BM_FloorLog(benchmark::State& state) {
  const Frames& frames = TestFrames();
  FloorWork& w = Floor();
  long f = 0;
  for (auto _ : state) {
    vvlogf(w.logarithm.get(), frames.quotient.get() + f * kN, &kBins);
    benchmark::ClobberMemory();
    f = (f + 1) % kFrames;
  }
}
BENCHMARK(BM_FloorLog);

// ---- The tracker -------------------------------------------------------------

// One hop of samples per iteration, so one analysed frame each, with the
// FIFO full: everything the tracker does per frame.
void BM_TrackerFrame(benchmark::State& state) {
  const std::vector<float>& x = Audio(0);
  auto tracker = std::make_unique<FFTShiftLL>();
  tracker->Reset(kLog2Size);
  const float shifts[12] = {};
  const long hops = static_cast<long>(x.size()) / kHop;
  long hop = 0;
  const auto feed = [&] {
    const std::int64_t pitchClass = tracker->Process(
        FFTShiftLL::kModeAnalysisOnly, shifts, kHop, kLog2Size, kOversampling, static_cast<float>(kRate),
        x.data() + hop * kHop, nullptr, FFTShiftLL::kWindowHann, 440.0f, 1, 25.0f, 0);
    hop = (hop + 1) % hops;
    return pitchClass;
  };
  for (long i = 0; i < kOversampling; ++i) feed();
  for (auto _ : state) benchmark::DoNotOptimize(feed());
  SetPerFrame(state);
  if (tracker->PitchClass() != 7) state.SkipWithError("the tone was not tracked as G");
}
BENCHMARK(BM_TrackerFrame);

// The transform as the tracker calls it: a windowed real frame, imaginary
// part cleared. The input has to be put back every time (the transform is in
// place); BM_FFTStandInInput times that alone, for the summary to subtract.
struct StandInWork {
  Aligned<float> re = AllocateFloats(kN);
  Aligned<float> im = AllocateFloats(kN);
  Aligned<float> windowed = AllocateFloats(kFrames * kN);
  FFTSetup setup = vDSP_create_fftsetup(kLog2Size, kFFTRadix2);

  StandInWork() {
    const Frames& frames = TestFrames();
    for (long f = 0; f < kFrames; ++f) {
      vDSP_vmul(frames.raw.get() + f * kN, 1, frames.window.get(), 1, windowed.get() + f * kN, 1, kN);
    }
  }
  ~StandInWork() { vDSP_destroy_fftsetup(setup); }
  StandInWork(const StandInWork&) = delete;
  StandInWork& operator=(const StandInWork&) = delete;
};

template <bool kTransform>
void StandIn(benchmark::State& state) {
  StandInWork w;
  const DSPSplitComplex spectrum{w.re.get(), w.im.get()};
  long f = 0;
  for (auto _ : state) {
    std::memcpy(w.re.get(), w.windowed.get() + f * kN, kN * sizeof(float));
    vDSP_vclr(w.im.get(), 1, kN);
    if constexpr (kTransform) vDSP_fft_zip(w.setup, &spectrum, 1, kLog2Size, FFT_FORWARD);
    benchmark::ClobberMemory();
    f = (f + 1) % kFrames;
  }
}
void BM_FFTStandIn(benchmark::State& state) {
  StandIn<true>(state);
}
void BM_FFTStandInInput(benchmark::State& state) {
  StandIn<false>(state);
}
BENCHMARK(BM_FFTStandIn);
BENCHMARK(BM_FFTStandInInput);

// The tracker's own passes over the bins, each alone on the tracker's bins:
// the phase pass (magnitudes, true frequencies, quotients by A4) and the
// pass that classifies the bins and marks the runs of one class.
void BM_PhasePass(benchmark::State& state) {
  const Frames& frames = TestFrames();
  Aligned<float> previous = AllocateFloats(kN), magnitude = AllocateFloats(kN),
                 frequency = AllocateFloats(kN), quotient = AllocateFloats(kN);
  const varsile::pitch::PhaseConstants constants{static_cast<float>(std::numbers::pi / 4.0),
                                                 static_cast<float>(kRate / kN), 27.41693f, 440.0f};
  long f = 0;
  for (auto _ : state) {
    const long at = f * kN;
    // Consecutive frames, so that the previous phases are those of the frame before.
    varsile::pitch::ActivePasses().phases(frames.re.get() + at, frames.im.get() + at, frames.phase.get() + at,
                                          previous.get(), magnitude.get(), frequency.get(), quotient.get(),
                                          kBins, constants);
    benchmark::ClobberMemory();
    f = (f + 1) % kFrames;
  }
}
BENCHMARK(BM_PhasePass);

void BM_ClassifyPass(benchmark::State& state) {
  const Frames& frames = TestFrames();
  Aligned<float> logarithm = AllocateFloats(kFrames * kN), classes = AllocateFloats(kN),
                 weights = AllocateFloats(kN);
  for (long f = 0; f < kFrames; ++f) vvlogf(logarithm.get() + f * kN, frames.quotient.get() + f * kN, &kBins);
  std::uint64_t runStarts[kN / 64];
  long f = 0;
  for (auto _ : state) {
    const long at = f * kN;
    varsile::pitch::ActivePasses().classify(
        logarithm.get() + at, frames.frequency.get() + at, frames.magnitude.get() + at, classes.get(),
        weights.get(), runStarts, kBins, static_cast<float>(12.0 / std::numbers::ln2), 69.5f);
    benchmark::ClobberMemory();
    f = (f + 1) % kFrames;
  }
}
BENCHMARK(BM_ClassifyPass);

// The decision step alone on the tracker's own bins.
void BM_Decision(benchmark::State& state) {
  const Frames& frames = TestFrames();
  auto tracker = std::make_unique<FFTShiftLL>();
  tracker->Reset(kLog2Size);
  const float shifts[12] = {};
  long f = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tracker->CalculateRatio(
        frames.frequency.get() + f * kN, frames.magnitude.get() + f * kN, kBins, shifts, 440.0f, 1, 25.0f));
    f = (f + 1) % kFrames;
  }
  if (tracker->PitchClass() != 7) state.SkipWithError("the frames were not decided as G");
}
BENCHMARK(BM_Decision);

// ---- The gain loop -------------------------------------------------------------

// range(0): 0 = the gain holds (the usual case), 1 = it ramps all block long.
void BM_GainLoop(benchmark::State& state) {
  constexpr UInt32 kBlock = 512;
  const bool ramping = state.range(0) != 0;
  const std::vector<float>& x = Audio(0);
  std::vector<float> out(kBlock);
  const Float32 step = 100.0f / static_cast<Float32>(kRate * 10.0);  // the longest attack
  std::size_t at = 0;
  for (auto _ : state) {
    const Float32 volume = ramping ? 20.0f : 50.0f;
    benchmark::DoNotOptimize(varsile::effect::ApplyGainRamp(x.data() + at, out.data(), kBlock, volume,
                                                            ramping ? 100.0f : 50.0f, step));
    benchmark::ClobberMemory();
    at = (at + kBlock) % (x.size() - kBlock);
  }
  state.counters["per_sample"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kBlock,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_GainLoop)->ArgName("ramping")->Arg(0)->Arg(1);

// ---- The render through the host calls --------------------------------------

AudioComponent GateComponent() {
  static const AudioComponent component = [] {
    AudioComponent loaded = nullptr;
    if (AudioComponentLoadManifest(VARSILE_COMPONENT_MANIFEST, &loaded) != noErr) {
      std::fprintf(stderr, "cannot load the gate: %s\n", AudioComponentLastLoadError());
      std::exit(1);
    }
    return loaded;
  }();
  return component;
}

// A stereo instance at 44.1 kHz, formats set and initialized, as a host
// prepares it; the loop pulls the input from the caller's channels.
struct HostedInstance {
  varsile::host::AudioUnitHandle unit = varsile::host::AudioUnitHandle::Open(GateComponent());
  varsile::host::RenderLoop loop{unit, kRate, kChannels, kMaxBlock};

  HostedInstance() { unit.Initialize(); }
};

// range(0): frames per render call.
void Render(benchmark::State& state) {
  const auto block = static_cast<UInt32>(state.range(0));
  HostedInstance gate;
  std::vector<float> out[kChannels];
  for (auto& o : out) o.resize(kMaxBlock);
  Float32* outputs[kChannels] = {out[0].data(), out[1].data()};
  const std::size_t length = Audio(0).size();
  std::size_t at = 0;
  const auto render = [&] {
    const Float32* inputs[kChannels] = {Audio(0).data() + at, Audio(1).data() + at};
    gate.loop.Render(inputs, outputs, block);
    at += block;
    if (at + block > length) at = 0;
  };
  // The FIFOs full, the gain settled, before the clock starts.
  for (UInt32 done = 0; done < 8 * kN; done += block) render();
  for (auto _ : state) {
    render();
    benchmark::ClobberMemory();
  }
  const double frames = static_cast<double>(state.iterations()) * block;
  state.counters["x_realtime"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
  state.counters["per_frame"] =
      benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
void BM_Render(benchmark::State& state) {
  Render(state);
}
BENCHMARK(BM_Render)->ArgName("frames")->Arg(1)->Arg(64)->Arg(512)->Arg(4096);

#if defined(__x86_64__) || defined(__i386__)
// The same from a host thread that runs with flush-to-zero and
// denormals-are-zero already, as audio hosts commonly do: the render then
// leaves the floating-point control register alone, and what remains is the
// rest of the per-call work.
void BM_RenderFlushingHost(benchmark::State& state) {
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(saved | 0x8040u);
  Render(state);
  _mm_setcsr(saved);
}
BENCHMARK(BM_RenderFlushingHost)->ArgName("frames")->Arg(1)->Arg(512);
#endif

// Open, configure, initialize and close a stereo instance, again and again:
// the steady cost; the first instance of the process is timed in main.
void BM_OpenInitialize(benchmark::State& state) {
  for (auto _ : state) {
    HostedInstance gate;
    benchmark::DoNotOptimize(gate.unit.Get());
  }
}
BENCHMARK(BM_OpenInitialize)->Unit(benchmark::kMillisecond);

// ---- The peer: aubio's yinfft -------------------------------------------------

#ifdef VARSILE_BENCH_AUBIO
// One hop per iteration, window 2048, on the same audio. aubio plans its
// transforms with FFTW when the object is made: on this thread, never while
// anything else plans.
void BM_AubioYinFFT(benchmark::State& state) {
  aubio_pitch_t* pitch = new_aubio_pitch("yinfft", kN, kHop, static_cast<uint_t>(kRate));
  fvec_t* in = new_fvec(kHop);
  fvec_t* out = new_fvec(1);
  if (pitch == nullptr || in == nullptr || out == nullptr) {
    state.SkipWithError("aubio could not make its yinfft");
  } else {
    const std::vector<float>& x = Audio(0);
    const long hops = static_cast<long>(x.size()) / kHop;
    long hop = 0;
    const auto feed = [&] {
      std::copy_n(x.data() + hop * kHop, kHop, in->data);
      aubio_pitch_do(pitch, in, out);
      hop = (hop + 1) % hops;
    };
    for (long i = 0; i < kOversampling; ++i) feed();
    for (auto _ : state) {
      feed();
      benchmark::DoNotOptimize(out->data[0]);
    }
    // G3 is 196 Hz; yinfft reports the frequency.
    if (std::fabs(out->data[0] - 196.0f) > 3.0f) state.SkipWithError("aubio did not find the G3");
    SetPerFrame(state);
  }
  if (out != nullptr) del_fvec(out);
  if (in != nullptr) del_fvec(in);
  if (pitch != nullptr) del_aubio_pitch(pitch);
}
BENCHMARK(BM_AubioYinFFT);
#endif

// ---- Figures outside the benchmark loop ---------------------------------------

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

struct StartupFigures {
  double loadModuleMs = 0.0;
  double firstOpenInitializeMs = 0.0;
  double secondOpenInitializeMs = 0.0;
  std::size_t kernelBytes = 0;
  std::size_t setupBytes = 0;  // the FFT setups' heap memory of one tracker
};

// Must run first in the process: nothing planned yet, the module not loaded.
StartupFigures MeasureStartup() {
  StartupFigures figures;
  auto start = std::chrono::steady_clock::now();
  GateComponent();
  figures.loadModuleMs = MillisecondsSince(start);
  start = std::chrono::steady_clock::now();
  { HostedInstance first; }
  figures.firstOpenInitializeMs = MillisecondsSince(start);
  start = std::chrono::steady_clock::now();
  { HostedInstance second; }
  figures.secondOpenInitializeMs = MillisecondsSince(start);

  // A channel: its kernel (holding the tracker) plus what the tracker's
  // setups take from the heap, measured on a tracker built after the shared
  // FFT plans exist.
  figures.kernelBytes = sizeof(Varsile::VarsileKernel);
  void* storage = ::operator new (sizeof(FFTShiftLL), std::align_val_t{alignof(FFTShiftLL)});
  const struct mallinfo2 before = mallinfo2();
  auto* tracker = new (storage) FFTShiftLL;
  const struct mallinfo2 after = mallinfo2();
  figures.setupBytes = (after.uordblks + after.hblkhd) - (before.uordblks + before.hblkhd);
  tracker->~FFTShiftLL();
  ::operator delete (storage, std::align_val_t{alignof(FFTShiftLL)});
  return figures;
}

// Keeps every run's CPU time per iteration; the summary takes each case's
// median, and shows the fastest repetition beside it, the one least
// disturbed by the machine's other work.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  // With `aggregatesOnly` the repetitions are kept but only their aggregates
  // printed.
  SummaryReporter(OutputOptions options, const StartupFigures& startup, bool aggregatesOnly)
      : ConsoleReporter(options), mStartup(startup), mAggregatesOnly(aggregatesOnly) {}

  // Each repetition comes as an iteration run, unless the library was asked
  // to report aggregates only; then the median aggregate stands for them.
  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const Run& run : runs) {
      if (!mAggregatesOnly || run.run_type == Run::RT_Aggregate) shown.push_back(run);
      if (run.error_occurred) continue;
      const double nanos = run.GetAdjustedCPUTime() *
                           benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                           benchmark::GetTimeUnitMultiplier(run.time_unit);
      if (run.run_type == Run::RT_Iteration) {
        mNanos[run.run_name.str()].push_back(nanos);
      } else if (run.aggregate_name == "median") {
        mMedians[run.run_name.str()] = nanos;
      }
    }
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
  }

  void PrintSummary() const {
    std::printf("\nSummary (CPU time per iteration, median of each case; vector kernels: %s)\n",
                varsile::accelerate::ActiveVectorKernels().name);
    const double tracker = Median("BM_TrackerFrame");
    const double window = Median("BM_FloorWindow");
    const double standIn = Median("BM_FFTStandIn") - Median("BM_FFTStandInInput");
    const double fftw = Median("BM_FloorRealFFT");
    const double floor = window + std::min(fftw, standIn) + Median("BM_FloorAtan2") + Median("BM_FloorLog");
    std::printf("  %-58s %10s\n", "", "us");
    Line("floor per frame: window + fastest real FFT + atan2 + log", floor / 1e3);
    Line("  FFTW real-input 2048 (measured plan)", fftw / 1e3);
    Line("  the platform's transform on real input (FFT stand-in)", standIn / 1e3);
    Line("  vvatan2f over 1025 bins", Median("BM_FloorAtan2") / 1e3);
    Line("  vvlogf over 1025 bins", Median("BM_FloorLog") / 1e3);
    Line("  window multiply over 2048", window / 1e3);
    Line("tracker per analysed frame", tracker / 1e3);
    Line("  per-bin passes (tracker - window - FFT stand-in)", (tracker - window - standIn) / 1e3);
    Line("    the phase pass (magnitudes, frequencies, quotients)", Median("BM_PhasePass") / 1e3);
    Line("    the decision (CalculateRatio: quotients, log, classes, vote)", Median("BM_Decision") / 1e3);
    Line("      the classifying pass", Median("BM_ClassifyPass") / 1e3);
    const double aubio = Median("BM_AubioYinFFT");
    Line("aubio yinfft per hop (2048 / 256)", aubio / 1e3);
    std::printf("  %-58s %10.2f ns\n", "gain loop per sample, gain holding",
                Median("BM_GainLoop/ramping:0") / 512);
    std::printf("  %-58s %10.2f ns\n", "gain loop per sample, gain ramping",
                Median("BM_GainLoop/ramping:1") / 512);

    std::printf("\n  render through the host calls, stereo, 44.1 kHz:\n");
    std::printf("  %8s %14s %14s %14s\n", "frames", "us per call", "ns per frame", "x real time");
    for (const int block : {1, 64, 512, 4096}) {
      const double nanos = Median("BM_Render/frames:" + std::to_string(block));
      std::printf("  %8d %14.3f %14.2f %14.0f\n", block, nanos / 1e3, nanos / block,
                  block / kRate / (nanos * 1e-9));
    }
    const double at1 = Median("BM_Render/frames:1");
    const double at512 = Median("BM_Render/frames:512") / 512;
    const double flushing1 = Median("BM_RenderFlushingHost/frames:1");
    const double flushing512 = Median("BM_RenderFlushingHost/frames:512") / 512;
    if (!std::isnan(flushing1) && !std::isnan(flushing512)) {
      std::printf(
          "  from a host thread already flushing denormals: 1 frame %.3f us per call, 512 frames %.2f ns "
          "per frame; ratio %.2f\n",
          flushing1 / 1e3, flushing512, flushing1 / flushing512);
    }
    std::printf("  open + initialize + close, steady (BM_OpenInitialize): %.3f ms\n",
                Median("BM_OpenInitialize") / 1e6);
    std::printf("  module load (first in the process, not part of open): %.3f ms\n", mStartup.loadModuleMs);
    std::printf("  memory per channel: kernel %zu B + FFT setups %zu B\n", mStartup.kernelBytes,
                mStartup.setupBytes);

    // The goals are judged on the medians; the last column gives the same
    // figure from the fastest repetitions, for a sense of the noise.
    std::printf("\n  %-52s %10s %-14s %-12s %10s\n", "goal", "median", "  limit", "", "fastest");
    const double fastestFloor =
        Fastest("BM_FloorWindow") +
        std::min(Fastest("BM_FloorRealFFT"), Fastest("BM_FFTStandIn") - Fastest("BM_FFTStandInInput")) +
        Fastest("BM_FloorAtan2") + Fastest("BM_FloorLog");
    Goal("tracker per frame / floor", tracker / floor, 1.35, false,
         Fastest("BM_TrackerFrame") / fastestFloor);
    Goal("aubio yinfft per hop / tracker per frame", aubio / tracker, 3.0, true,
         Fastest("BM_AubioYinFFT") / Fastest("BM_TrackerFrame"));
    Goal("stereo render at 512-frame blocks, x real time",
         512 / kRate / (Median("BM_Render/frames:512") * 1e-9), 500.0, true,
         512 / kRate / (Fastest("BM_Render/frames:512") * 1e-9));
    Goal("cost per frame at 1-frame blocks / at 512", at1 / at512, 2.0, false,
         Fastest("BM_Render/frames:1") / (Fastest("BM_Render/frames:512") / 512));
    Goal("first open + initialize of a stereo instance, ms", mStartup.firstOpenInitializeMs, 20.0, false);
    Goal("memory per channel, KB", static_cast<double>(mStartup.kernelBytes + mStartup.setupBytes) / 1024.0,
         400.0, false);
  }

 private:
  // NaN when the repetitions were not kept.
  double Fastest(const std::string& name) const {
    const auto found = mNanos.find(name);
    if (found == mNanos.end() || found->second.empty()) return std::nan("");
    return *std::min_element(found->second.begin(), found->second.end());
  }

  double Median(const std::string& name) const {
    if (const auto reported = mMedians.find(name); reported != mMedians.end()) return reported->second;
    const auto found = mNanos.find(name);
    if (found == mNanos.end() || found->second.empty()) return std::nan("");
    std::vector<double> v = found->second;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
  }

  static void Line(const char* label, double micros) { std::printf("  %-58s %10.3f\n", label, micros); }

  static void Goal(const char* label, double value, double limit, bool atLeast,
                   double fastest = std::nan("")) {
    const bool met = atLeast ? value >= limit : value <= limit;
    std::printf("  %-52s %10.2f %8s%-6.4g %-12s", label, value, atLeast ? ">= " : "<= ", limit,
                std::isnan(value) ? "not measured"
                : met             ? "met"
                                  : "NOT MET");
    if (!std::isnan(fastest)) std::printf(" %10.2f", fastest);
    std::printf("\n");
  }

  std::map<std::string, std::vector<double>> mNanos;
  std::map<std::string, double> mMedians;
  StartupFigures mStartup;
  bool mAggregatesOnly;
};

}  // namespace

int main(int argc, char** argv) {
  const StartupFigures startup = MeasureStartup();
  std::printf(
      "first open + initialize of a stereo instance: %.3f ms (second: %.3f ms; module load %.3f ms)\n",
      startup.firstOpenInitializeMs, startup.secondOpenInitializeMs, startup.loadModuleMs);

  // With repetitions the console shows their aggregates only; the summary
  // still sees every repetition.
  bool console = true;
  bool repeated = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.starts_with("--benchmark_format=") && argument != "--benchmark_format=console")
      console = false;
    if (argument.starts_with("--benchmark_repetitions=") && argument != "--benchmark_repetitions=1")
      repeated = true;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (console) {
    SummaryReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                                   : benchmark::ConsoleReporter::OO_Tabular,
                             startup, repeated);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
  } else {
    benchmark::RunSpecifiedBenchmarks();
  }
  benchmark::Shutdown();
  return 0;
}
