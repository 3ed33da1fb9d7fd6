// varsile_soak: renders a long stretch of stereo audio through the gate as
// fast as it goes, changing parameters before every block, and checks that
// the output stays finite, the meters stay in range, memory does not grow and
// no property-list value leaks. CI runs two minutes of audio; scripts/soak
// runs an hour or more.
//
//   varsile_soak [--seconds S] [--rate HZ] [--seed N] [--quiet]
#include <AudioToolbox/AudioComponentRegistry.h>
#include <CoreFoundation/CoreFoundation.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "HostedGate.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARSILE_SOAK_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VARSILE_SOAK_ASAN 1
#endif

namespace {

using namespace reliability;

struct Options {
  double seconds = 120.0;
  double rate = 48000.0;
  unsigned seed = 1;
  bool quiet = false;
};

[[noreturn]] void Usage() {
  std::fprintf(stderr, "usage: varsile_soak [--seconds S] [--rate HZ] [--seed N] [--quiet]\n");
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> const char* {
      if (i + 1 >= argc) Usage();
      return argv[++i];
    };
    if (arg == "--seconds") {
      o.seconds = std::atof(value());
    } else if (arg == "--rate") {
      o.rate = std::atof(value());
    } else if (arg == "--seed") {
      o.seed = static_cast<unsigned>(std::strtoul(value(), nullptr, 10));
    } else if (arg == "--quiet") {
      o.quiet = true;
    } else {
      Usage();
    }
  }
  if (!(o.seconds > 0.0) || !(o.rate >= 8000.0 && o.rate <= 384000.0)) Usage();
  return o;
}

// Resident memory in bytes, from /proc/self/statm.
long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

int gFailures = 0;

void Fail(const char* what, double atSecond, double value) {
  if (++gFailures <= 20)
    std::fprintf(stderr, "varsile_soak: %s at %.3f s (value %g)\n", what, atSecond, value);
}

// A parameter change for block n: every writable parameter in turn, with
// values across its whole range.
void ChangeParameters(HostedGate& gate, std::mt19937& random, long block) {
  std::uniform_real_distribution<Float32> unit(0.0f, 1.0f);
  const auto id = static_cast<AudioUnitParameterID>(block % kGateParam_CurrentVolume);
  Float32 value = 0.0f;
  switch (id) {
    case kGateParam_Key:
      value = static_cast<Float32>(random() % 12);
      break;
    case kGateParam_AttackTime:
    case kGateParam_ReleaseTime:
      value = 0.01f + 2.0f * unit(random);
      break;
    case kGateParam_A4Frequency:
      value = 400.0f + 80.0f * unit(random);
      break;
    case kGateParam_JitterThreshold:
      value = static_cast<Float32>(random() % 17);
      break;
    default:  // master, intervals, accuracy threshold: percent
      value = 100.0f * unit(random);
      break;
  }
  gate.SetParameter(id, value);
}

void ScheduleEvents(HostedGate& gate, std::mt19937& random, UInt32 frames) {
  if (frames < 4) return;
  const auto offset = static_cast<UInt32>(random() % frames);
  const auto interval = static_cast<AudioUnitParameterID>(kGateParam_FirstInterval + random() % 12);
  const AudioUnitParameterEvent events[] = {
      RampedEvent(interval, static_cast<SInt32>(offset / 2), frames, 100.0f, 0.0f),
      ImmediateEvent(kGateParam_ReleaseTime, offset, 0.05f + 0.1f * static_cast<Float32>(random() % 10)),
  };
  Check(AudioUnitScheduleParameters(gate.Unit(), events, 2), "scheduling events");
}

// A host's periodic work: save the state and restore it, read every
// interval name. Exercises the property-list values the leak check counts.
void RoundTripState(HostedGate& gate) {
  CFPropertyListRef state = nullptr;
  UInt32 size = sizeof state;
  Check(AudioUnitGetProperty(gate.Unit(), kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &state,
                             &size),
        "saving the state");
  const OSStatus restored = AudioUnitSetProperty(gate.Unit(), kAudioUnitProperty_ClassInfo,
                                                 kAudioUnitScope_Global, 0, &state, size);
  CFRelease(state);
  Check(restored, "restoring the state");
  for (UInt32 n = 0; n < 12; ++n) {
    AudioUnitParameterInfo info{};
    UInt32 infoSize = sizeof info;
    Check(AudioUnitGetProperty(gate.Unit(), kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global,
                               kGateParam_FirstInterval + n, &info, &infoSize),
          "reading an interval name");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  try {
    const AudioComponent component = GateComponent();
    // The interval names live in a process-wide cache: fill it before counting.
    {
      Melody melody(options.rate);
      HostedGate warm(component, 2, options.rate, 1156, &Melody::Render, &melody);
      RoundTripState(warm);
    }
    const CFIndex liveAtStart = CFLiveObjectCount();

    static constexpr UInt32 kBlockSizes[] = {512, 64, 1156, 256, 1, 480, 1024, 37, 128, 735};
    constexpr UInt32 kMaxFrames = 1156;
    std::mt19937 random(options.seed);
    Melody melody(options.rate);
    long residentWarm = 0;
    long residentEnd = 0;
    long blocks = 0;
    double seconds = 0.0;
    const auto started = std::chrono::steady_clock::now();
    {
      HostedGate gate(component, 2, options.rate, kMaxFrames, &Melody::Render, &melody);
      gate.Initialize();
      const auto total = static_cast<Float64>(options.seconds * options.rate);
      const double warmUpAt = std::min(10.0, options.seconds / 4.0);
      double nextReport = 60.0;
      double nextRoundTrip = 5.0;
      while (gate.SampleTime() < total) {
        const UInt32 frames = kBlockSizes[blocks % std::size(kBlockSizes)];
        ChangeParameters(gate, random, blocks);
        if (blocks % 3 == 0) ScheduleEvents(gate, random, frames);
        const OSStatus status = gate.Render(frames, blocks % 2 == 0);
        seconds = gate.SampleTime() / options.rate;
        if (status != noErr) Fail("a render failed", seconds, status);
        for (UInt32 c = 0; c < 2; ++c) {
          const Float32* out = gate.Output(c);
          for (UInt32 i = 0; i < frames; ++i) {
            if (!std::isfinite(out[i])) {
              Fail("non-finite output", seconds, out[i]);
              break;
            }
          }
        }
        const Float32 volume = gate.Parameter(kGateParam_CurrentVolume);
        if (!(volume >= 0.0f && volume <= 100.0f)) Fail("the current volume left 0..100", seconds, volume);
        const Float32 accuracy = gate.Parameter(kGateParam_Accuracy);
        if (!(accuracy >= 0.0f && accuracy <= 100.0f)) Fail("the accuracy left 0..100", seconds, accuracy);
        const Float32 note = gate.Parameter(kGateParam_CurrentNote);
        if (!(note >= 0.0f && note <= 12.0f)) Fail("the current note left 0..12", seconds, note);
        if (seconds >= nextRoundTrip) {
          RoundTripState(gate);
          nextRoundTrip += 5.0;
        }
        if (residentWarm == 0 && seconds >= warmUpAt) residentWarm = ResidentBytes();
        if (!options.quiet && seconds >= nextReport) {
          std::printf("varsile_soak: %.0f s of audio, resident %ld KiB\n", seconds, ResidentBytes() / 1024);
          std::fflush(stdout);
          nextReport += 60.0;
        }
        ++blocks;
      }
      residentEnd = ResidentBytes();
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const CFIndex liveAtEnd = CFLiveObjectCount();

    std::printf(
        "varsile_soak: %.1f s of stereo audio at %.0f Hz in %ld blocks, %.1f s (%.0fx real time); "
        "resident %ld KiB after warm-up, %ld KiB at the end; property-list values %ld before, %ld after\n",
        seconds, options.rate, blocks, elapsed, seconds / elapsed, residentWarm / 1024, residentEnd / 1024,
        static_cast<long>(liveAtStart), static_cast<long>(liveAtEnd));

    if (liveAtEnd != liveAtStart)
      Fail("property-list values leaked", seconds, double(liveAtEnd - liveAtStart));
#ifndef VARSILE_SOAK_ASAN
    // Allocator slack, not growth: a leak of a few bytes per block over an
    // hour would be far above this.
    constexpr long kMarginBytes = 2L << 20;
    if (residentEnd > residentWarm + kMarginBytes) {
      Fail("resident memory grew", seconds, double(residentEnd - residentWarm));
    }
#else
      // The sanitizer's quarantine holds freed blocks for a while; its leak
      // check at exit stands in for the resident-memory comparison.
#endif
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "varsile_soak: %s\n", failure.what());
    return 1;
  }
  if (gFailures != 0) {
    std::fprintf(stderr, "varsile_soak: %d failures\n", gFailures);
    return 1;
  }
  return 0;
}
