#include <gtest/gtest.h>

#include <sstream>

#include "CliError.h"
#include "GateSettings.h"
#include "ToolsTestSupport.h"

namespace {

using varsile::cli::GateOptions;
using varsile::cli::ParameterSetting;
using varsile::cli::ResolveGateOptions;
using varsile::cli::UsageError;
using varsile::host::AudioUnitHandle;
using varsile::host::ParameterCatalogue;

class GateSettings : public toolstest::Scratch {
 protected:
  void SetUp() override {
    Scratch::SetUp();
    mUnit = AudioUnitHandle::Open(varsile::host::LocateComponent(mSearch));
    mCatalogue = ParameterCatalogue::Read(mUnit);
  }

  static GateOptions Read(const std::vector<std::string>& arguments) {
    CLI::App app("", "process");
    GateOptions options;
    varsile::cli::AddGateOptions(app, options);
    std::ostringstream help;
    varsile::cli::ParseCommand(app, arguments, "", help);
    varsile::cli::CheckGateOptions(options);
    return options;
  }
  std::vector<ParameterSetting> Resolve(std::vector<std::string> arguments) {
    return ResolveGateOptions(Read(arguments), mCatalogue);
  }
  std::string Error(std::vector<std::string> arguments) {
    try {
      Resolve(std::move(arguments));
    } catch (const UsageError& error) {
      return error.what();
    }
    return "no error";
  }
  // The values the unit holds after the settings are applied.
  std::vector<float> Applied(std::vector<std::string> arguments) {
    const GateOptions options = Read(arguments);
    ApplyGateSettings(mUnit, ResolveGateOptions(options, mCatalogue), options.bypass);
    std::vector<float> values;
    for (UInt32 id = 0; id < 22; ++id) values.push_back(mUnit.GetParameter(id));
    return values;
  }

  AudioUnitHandle mUnit;
  ParameterCatalogue mCatalogue;
};

TEST_F(GateSettings, AScaleSetsEveryIntervalVolume) {
  const auto values = Applied({"--key", "D", "--scale", "minor-pentatonic", "--out-of-scale", "10"});
  EXPECT_EQ(values[0], 2.0f);
  const std::vector<float> expected{100, 10, 10, 100, 10, 100, 10, 100, 10, 10, 100, 10};
  EXPECT_EQ(std::vector<float>(values.begin() + 2, values.begin() + 14), expected);
}

TEST_F(GateSettings, VolumesOverrideTheScaleAndTheMasterMovesThemAll) {
  const auto values =
      Applied({"--master", "60", "--scale", "major", "--volume", "minor third=50", "--volume", "11=20"});
  // Set in order: scale, single volumes, then the master 40 below its 100.
  EXPECT_EQ(values[1], 60.0f);
  EXPECT_EQ(values[2 + 0], 60.0f);
  EXPECT_EQ(values[2 + 1], 0.0f);
  EXPECT_EQ(values[2 + 3], 10.0f);
  EXPECT_EQ(values[2 + 11], 0.0f);
  EXPECT_EQ(values[2 + 7], 60.0f);
}

TEST_F(GateSettings, TimesAndTrackerSettingsReachTheirParameters) {
  const auto values = Applied({"--attack", "0.5", "--release", "2", "--a4", "432", "--accuracy-threshold",
                               "40", "--jitter-threshold", "3"});
  EXPECT_EQ(values[14], 0.5f);
  EXPECT_EQ(values[15], 2.0f);
  EXPECT_EQ(values[16], 432.0f);
  EXPECT_EQ(values[17], 40.0f);
  EXPECT_EQ(values[18], 3.0f);
}

TEST_F(GateSettings, BypassIsTheProperty) {
  Applied({"--bypass"});
  EXPECT_EQ(mUnit.GetProperty<UInt32>(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0), 1u);
}

TEST_F(GateSettings, ValuesOutsideTheirRangeNameTheRange) {
  EXPECT_EQ(Error({"--master", "150"}), "--master 150 is out of range: master volume takes 0 to 100%");
  EXPECT_EQ(Error({"--attack", "0"}), "--attack 0 is out of range: attack time takes 0.01 to 10 s");
  EXPECT_EQ(Error({"--release", "11"}), "--release 11 is out of range: release time takes 0.01 to 10 s");
  EXPECT_EQ(Error({"--a4", "500"}), "--a4 500 is out of range: A4 frequency takes 400 to 480 Hz");
  EXPECT_EQ(Error({"--accuracy-threshold", "-1"}),
            "--accuracy-threshold -1 is out of range: accuracy threshold takes 0 to 100%");
  EXPECT_EQ(Error({"--jitter-threshold", "17"}),
            "--jitter-threshold 17 is out of range: jitter threshold takes 0 to 16 sample frames");
  EXPECT_EQ(Error({"--volume", "fifth=101"}),
            "--volume fifth 101 is out of range: fifth / G takes 0 to 100%");
  EXPECT_EQ(Error({"--scale", "major", "--out-of-scale", "-5"}),
            "--out-of-scale -5 is out of range: unison / C takes 0 to 100%");
}

TEST_F(GateSettings, UnknownNamesAndMalformedOptions) {
  EXPECT_EQ(
      Error({"--scale", "hungarian"}),
      "unknown scale 'hungarian' (use one of: chromatic, major, natural-minor, harmonic-minor, "
      "melodic-minor, ionian, dorian, phrygian, lydian, mixolydian, aeolian, locrian, major-pentatonic, "
      "minor-pentatonic, blues, whole-tone)");
  EXPECT_EQ(Error({"--key", "H"}),
            "unknown key 'H' (use a note name such as C, F# or Bb, or a number from 0 to 11)");
  EXPECT_EQ(
      Error({"--volume", "tenth=5"}),
      "unknown interval 'tenth' (use a name such as 'minor third' or 'fifth', or semitones from 0 to 11)");
  EXPECT_EQ(Error({"--volume", "fifth"}), "--volume needs INTERVAL=PCT, got 'fifth'");
  EXPECT_EQ(Error({"--volume", "=5"}), "--volume needs INTERVAL=PCT, got '=5'");
  EXPECT_EQ(Error({"--volume", "fifth=loud"}), "--volume fifth needs a number, got 'loud'");
  EXPECT_EQ(Error({"--master", "loud"}), "--master needs a number, got 'loud'");
  EXPECT_EQ(Error({"--out-of-scale", "5"}), "--out-of-scale needs --scale");
}

TEST_F(GateSettings, NothingAskedSetsNothing) {
  EXPECT_TRUE(Resolve({}).empty());
}

}  // namespace
