// Writes the audio of the whole-process comparison (scripts/bench): a 16-bit
// WAV at 44.1 kHz of harmonic tones that step through the twelve notes from
// G3, half a second each, with a little noise, each channel starting on a
// different note.
//
//   bench_whole_process_audio OUT.wav SECONDS CHANNELS
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s OUT.wav SECONDS CHANNELS\n", argv[0]);
    return 2;
  }
  constexpr int kRate = 44100;
  const long frames = std::atol(argv[2]) * kRate;
  const int channels = std::atoi(argv[3]);
  if (frames <= 0 || channels <= 0) return 2;
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(argv[1], SFM_WRITE, &info);
  if (file == nullptr) {
    std::fprintf(stderr, "cannot write '%s': %s\n", argv[1], sf_strerror(nullptr));
    return 1;
  }
  std::mt19937 engine(1);
  std::normal_distribution<double> noise(0.0, 0.01);
  std::vector<double> phase(channels, 0.0);
  std::vector<float> block;
  constexpr long kBlock = 4096;
  for (long at = 0; at < frames; at += kBlock) {
    const long n = std::min(kBlock, frames - at);
    block.resize(static_cast<std::size_t>(n * channels));
    for (long i = 0; i < n; ++i) {
      for (int c = 0; c < channels; ++c) {
        const long note = ((at + i) / (kRate / 2) + c) % 12;
        phase[c] += 2.0 * std::numbers::pi * 196.0 * std::exp2(note / 12.0) / kRate;
        const double x = 0.3 * std::sin(phase[c]) + 0.15 * std::sin(2.0 * phase[c]) + noise(engine);
        block[static_cast<std::size_t>(i * channels + c)] = static_cast<float>(x);
      }
    }
    if (sf_writef_float(file, block.data(), n) != n) {
      std::fprintf(stderr, "cannot write '%s': %s\n", argv[1], sf_strerror(file));
      sf_close(file);
      return 1;
    }
  }
  return sf_close(file) == 0 ? 0 : 1;
}
