// The demo's input: harmonic tones walking up the chromatic scale, and the
// level of a stretch of samples.
#pragma once

#include <MacTypes.h>

#include <vector>

namespace varsile::cli {

struct DemoMelody {
  Float64 sampleRate = 44100.0;
  double noteSeconds = 0.5;
  int firstMidiNote = 60;  // C4
  int notes = 12;
  std::vector<Float32> samples;

  // Frames [begin, end) where note i is steady, for measuring its level.
  std::size_t SteadyBegin(int note) const;
  std::size_t SteadyEnd(int note) const;
};

// Each tone has six harmonics at 1/k of the fundamental's amplitude and
// short fades, at A4 = 440 Hz.
DemoMelody MakeDemoMelody(Float64 sampleRate = 44100.0);

// RMS level in dB relative to full scale, floored at floorDb.
double LevelDb(const std::vector<Float32>& samples, std::size_t begin, std::size_t end,
               double floorDb = -120.0);

}  // namespace varsile::cli
