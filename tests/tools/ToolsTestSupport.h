// Helpers for the program's tests: a scratch folder, audio files written
// and read with libsndfile directly, and the commands run in-process with
// their output captured.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "Cli.h"

namespace toolstest {

namespace fs = std::filesystem;

// Interleaved samples.
struct Audio {
  int sampleRate = 44100;
  int channels = 1;
  std::vector<float> samples;

  std::size_t Frames() const { return samples.size() / static_cast<std::size_t>(channels); }
};

inline void WriteAudio(const fs::path& path, const Audio& audio,
                       int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
  SF_INFO info{};
  info.samplerate = audio.sampleRate;
  info.channels = audio.channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  sf_writef_float(file, audio.samples.data(), static_cast<sf_count_t>(audio.Frames()));
  sf_close(file);
}

inline Audio ReadAudio(const fs::path& path) {
  SF_INFO info{};
  Audio audio;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
  if (file == nullptr) return audio;
  audio.sampleRate = info.samplerate;
  audio.channels = info.channels;
  audio.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(file, audio.samples.data(), info.frames);
  sf_close(file);
  return audio;
}

// A harmonic tone of a MIDI note, per channel the same.
inline Audio Tone(int midiNote, double seconds, int channels = 1, int sampleRate = 44100) {
  Audio audio{sampleRate, channels, {}};
  const auto frames = static_cast<std::size_t>(seconds * sampleRate);
  const double f = 440.0 * std::pow(2.0, (midiNote - 69) / 12.0);
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / sampleRate;
    double v = 0.0;
    for (int k = 1; k <= 4; ++k) v += std::sin(2.0 * std::numbers::pi * k * f * t) / k;
    for (int c = 0; c < channels; ++c) audio.samples.push_back(static_cast<float>(0.2 * v));
  }
  return audio;
}

inline Audio Concatenate(const Audio& a, const Audio& b) {
  Audio joined = a;
  joined.samples.insert(joined.samples.end(), b.samples.begin(), b.samples.end());
  return joined;
}

class Scratch : public ::testing::Test {
 protected:
  void SetUp() override {
    mFolder = fs::temp_directory_path() / ("varsile-tools-" + std::to_string(getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(mFolder);
    fs::create_directories(mFolder);
  }
  void TearDown() override {
    fs::permissions(mFolder, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(mFolder);
  }

  std::string Path(const std::string& name) const { return (mFolder / name).string(); }

  // Runs "varsile <arguments>" in this process; keeps the output.
  int Run(std::vector<std::string> arguments) {
    mOut.str("");
    mErr.str("");
    varsile::cli::CliContext context{mOut, mErr, false, {}};
    context.componentSearch = mSearch;
    return varsile::cli::RunCli(arguments, context);
  }
  std::string Out() const { return mOut.str(); }
  std::string Err() const { return mErr.str(); }

  // Files in the scratch folder, hidden ones (temporary files) included.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(mFolder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path mFolder;
  varsile::host::ComponentSearch mSearch{"Varsile", "Varsile.component", {VARSILE_COMPONENT_MANIFEST}, ""};
  std::ostringstream mOut;
  std::ostringstream mErr;
};

inline std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace toolstest
