// A host nobody here wrote: lilv's lv2apply runs the stereo plug-in over a
// file, one frame per run() call. Its result must equal the command-line
// program's with the same settings and one-frame blocks, and our own
// rendering through the host calls: all three drive the same component.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Lv2TestSupport.h"

extern char** environ;

namespace {

using lv2test::Planar;

constexpr double kRate = 44100.0;

std::filesystem::path WorkFolder() {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("varsile-lv2apply-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  return folder;
}

void WriteWave(const std::string& path, const Planar& signal) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(kRate);
  info.channels = static_cast<int>(signal.size());
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  std::vector<float> frames(signal[0].size() * signal.size());
  for (std::size_t i = 0; i < signal[0].size(); ++i) {
    for (std::size_t c = 0; c < signal.size(); ++c) frames[i * signal.size() + c] = signal[c][i];
  }
  EXPECT_EQ(sf_writef_float(file, frames.data(), static_cast<sf_count_t>(signal[0].size())),
            static_cast<sf_count_t>(signal[0].size()));
  sf_close(file);
}

Planar ReadWave(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) {
    ADD_FAILURE() << path << ": " << sf_strerror(nullptr);
    return {};
  }
  EXPECT_EQ(info.samplerate, static_cast<int>(kRate));
  EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
  std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  Planar signal(static_cast<std::size_t>(info.channels),
                std::vector<float>(static_cast<std::size_t>(info.frames)));
  for (std::size_t i = 0; i < signal[0].size(); ++i) {
    for (std::size_t c = 0; c < signal.size(); ++c) signal[c][i] = frames[i * signal.size() + c];
  }
  return signal;
}

// Runs a program with extra environment entries; its exit status.
int RunProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
  std::vector<std::string> entries = environment;
  for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
  std::vector<char*> env;
  for (std::string& entry : entries) env.push_back(entry.data());
  env.push_back(nullptr);
  std::vector<std::string> copies = arguments;
  std::vector<char*> argv;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), env.data()) != 0) return -1;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The environment lv2apply needs to load a plug-in built with sanitizers.
std::vector<std::string> HostEnvironment() {
  std::vector<std::string> environment = {"LV2_PATH=" + lv2test::BundleParent()};
  const std::string preload = VARSILE_LV2_HOST_PRELOAD;
  if (!preload.empty()) {
    environment.push_back("LD_PRELOAD=" + preload);
    // lv2apply's own allocations are not ours to judge.
    environment.push_back("ASAN_OPTIONS=detect_leaks=0");
  }
  return environment;
}

const std::map<std::string, float> kDMajor = {{"key", 2.0f},
                                              {"vol_minor_second", 0.0f},
                                              {"vol_minor_third", 0.0f},
                                              {"vol_aug_fourth", 0.0f},
                                              {"vol_minor_sixth", 0.0f},
                                              {"vol_minor_seventh", 0.0f},
                                              {"attack_time", 0.02f},
                                              {"release_time", 0.1f}};

class Lv2Apply : public testing::Test {
 protected:
  void SetUp() override {
    if (std::string(VARSILE_LV2APPLY).empty()) GTEST_SKIP() << "lv2apply (lilv-utils) is not installed";
    mFolder = WorkFolder();
    mInput = lv2test::Melody(2, kRate, 1.6);
    WriteWave(In(), mInput);
  }
  void TearDown() override {
    if (!mFolder.empty()) std::filesystem::remove_all(mFolder);
  }
  std::string In() const { return (mFolder / "in.wav").string(); }
  std::string Path(const char* name) const { return (mFolder / name).string(); }

  Planar ThroughLv2Apply() {
    std::vector<std::string> arguments = {VARSILE_LV2APPLY, "-i", In(), "-o", Path("lv2apply.wav")};
    for (const auto& [symbol, value] : kDMajor) {
      std::ostringstream text;
      text << value;
      arguments.insert(arguments.end(), {"-c", symbol, text.str()});
    }
    arguments.emplace_back(lv2test::kStereoURI);
    EXPECT_EQ(RunProgram(arguments, HostEnvironment()), 0);
    return ReadWave(Path("lv2apply.wav"));
  }

  std::filesystem::path mFolder;
  Planar mInput;
};

TEST_F(Lv2Apply, MatchesTheComponentDrivenThroughTheHostCallsFrameByFrame) {
  const Planar output = ThroughLv2Apply();
  ASSERT_EQ(output.size(), 2u);
  ASSERT_EQ(output[0].size(), mInput[0].size());
  EXPECT_LE(lv2test::MaxDifference(output, lv2test::DirectRender(mInput, kRate, 1, kDMajor)), 1e-7f);
  // The settings arrived: the D# (second tone of the left channel) is gated.
  const auto note = static_cast<std::size_t>(0.2 * kRate);
  EXPECT_LT(lv2test::Energy(output[0], note + note / 2, 2 * note),
            0.2 * lv2test::Energy(mInput[0], note + note / 2, 2 * note));
}

TEST_F(Lv2Apply, MatchesTheCommandLineProgramWithOneFrameBlocks) {
  if (std::string(VARSILE_CLI).empty()) GTEST_SKIP() << "the command-line program is not part of this build";
  const Planar output = ThroughLv2Apply();
  const int status =
      RunProgram({VARSILE_CLI, "process", In(), "-o", Path("cli.wav"), "--key", "D", "--scale", "major",
                  "--attack", "0.02", "--release", "0.1", "--block", "1", "--format", "float"},
                 {});
  ASSERT_EQ(status, 0);
  const Planar cli = ReadWave(Path("cli.wav"));
  ASSERT_EQ(cli.size(), output.size());
  ASSERT_EQ(cli[0].size(), output[0].size());
  EXPECT_LE(lv2test::MaxDifference(output, cli), 1e-7f);
}

}  // namespace
