#include "DemoMelody.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace varsile::cli {

namespace {

constexpr int kHarmonics = 6;
constexpr double kFadeSeconds = 0.005;
constexpr double kPeak = 0.4;

}  // namespace

std::size_t DemoMelody::SteadyBegin(int note) const {
  // The tracker needs a window of audio and the gate its attack after each
  // change; the level is measured once both have settled.
  return static_cast<std::size_t>((note + 0.4) * noteSeconds * sampleRate);
}

std::size_t DemoMelody::SteadyEnd(int note) const {
  return static_cast<std::size_t>((note + 0.95) * noteSeconds * sampleRate);
}

DemoMelody MakeDemoMelody(Float64 sampleRate) {
  DemoMelody melody;
  melody.sampleRate = sampleRate;
  const auto noteFrames = static_cast<std::size_t>(melody.noteSeconds * sampleRate);
  const auto fadeFrames = static_cast<std::size_t>(kFadeSeconds * sampleRate);
  melody.samples.assign(noteFrames * static_cast<std::size_t>(melody.notes), 0.0f);

  double harmonicSum = 0.0;
  for (int k = 1; k <= kHarmonics; ++k) harmonicSum += 1.0 / k;

  for (int n = 0; n < melody.notes; ++n) {
    const double frequency = 440.0 * std::pow(2.0, (melody.firstMidiNote + n - 69) / 12.0);
    Float32* note = melody.samples.data() + noteFrames * static_cast<std::size_t>(n);
    for (std::size_t i = 0; i < noteFrames; ++i) {
      const double t = static_cast<double>(i) / sampleRate;
      double value = 0.0;
      for (int k = 1; k <= kHarmonics; ++k) {
        if (k * frequency < sampleRate / 2) value += std::sin(2.0 * std::numbers::pi * k * frequency * t) / k;
      }
      const double fade = std::min(
          {1.0, static_cast<double>(i) / fadeFrames, static_cast<double>(noteFrames - 1 - i) / fadeFrames});
      note[i] = static_cast<Float32>(kPeak * fade * value / harmonicSum);
    }
  }
  return melody;
}

double LevelDb(const std::vector<Float32>& samples, std::size_t begin, std::size_t end, double floorDb) {
  end = std::min(end, samples.size());
  if (begin >= end) return floorDb;
  double sum = 0.0;
  for (std::size_t i = begin; i < end; ++i) sum += static_cast<double>(samples[i]) * samples[i];
  const double rms = std::sqrt(sum / static_cast<double>(end - begin));
  return rms > 0.0 ? std::max(floorDb, 20.0 * std::log10(rms)) : floorDb;
}

}  // namespace varsile::cli
