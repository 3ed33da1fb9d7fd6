#include <gtest/gtest.h>

#include "CliError.h"
#include "ParameterCatalogue.h"
#include "Presets.h"
#include "ToolsTestSupport.h"

namespace {

using varsile::CFRef;
using varsile::cli::CliError;
using varsile::cli::LoadPreset;
using varsile::cli::ReadPresetFile;
using varsile::cli::SavePreset;
using varsile::host::AudioUnitHandle;

class Presets : public toolstest::Scratch {
 protected:
  AudioUnitHandle Open() { return AudioUnitHandle::Open(varsile::host::LocateComponent(mSearch)); }

  static std::vector<float> Values(const AudioUnitHandle& unit) {
    std::vector<float> values;
    for (UInt32 id = 0; id < 22; ++id) values.push_back(unit.GetParameter(id));
    return values;
  }
  std::string LoadError(const std::string& path) {
    AudioUnitHandle unit = Open();
    try {
      LoadPreset(unit, path);
    } catch (const CliError& error) {
      return error.what();
    }
    return "no error";
  }
};

TEST_F(Presets, ASavedPresetLoadsBackIntoTheSameState) {
  varsile::host::LocateComponent(mSearch);  // the registry keeps the component's name for good
  const CFIndex live = CFLiveObjectCount();
  const std::string path = Path("dorian.aupreset");
  std::vector<float> saved;
  CFRef<CFPropertyListRef> savedState;
  {
    AudioUnitHandle unit = Open();
    unit.SetParameter(0, 2.0f);
    unit.SetParameter(1, 80.0f);
    unit.SetParameter(5, 33.5f);
    unit.SetParameter(14, 0.125f);
    unit.SetParameter(16, 432.0f);
    SavePreset(unit, path);
    saved = Values(unit);
    savedState =
        unit.CopyProperty<CFPropertyListRef>(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0);
  }
  {
    AudioUnitHandle fresh = Open();
    ASSERT_NE(Values(fresh), saved);
    LoadPreset(fresh, path);
    EXPECT_EQ(Values(fresh), saved);
    // Saved again, the state is the one that was saved, name included.
    const auto state =
        fresh.CopyProperty<CFPropertyListRef>(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0);
    EXPECT_TRUE(CFEqual(state.Get(), savedState.Get()));
    const auto preset =
        fresh.GetProperty<AUPreset>(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0);
    EXPECT_EQ(varsile::host::ToStdString(preset.presetName), "dorian");
    CFRelease(preset.presetName);
  }
  savedState = {};
  EXPECT_EQ(CFLiveObjectCount(), live);
  const std::string text = toolstest::ReadText(path);
  EXPECT_NE(text.find("<key>name</key>"), std::string::npos);
  EXPECT_NE(text.find("<string>dorian</string>"), std::string::npos);
  EXPECT_EQ(Files(), std::vector<std::string>{"dorian.aupreset"});
}

TEST_F(Presets, BadFilesAreRefusedByName) {
  const std::string missing = Path("missing.aupreset");
  EXPECT_EQ(LoadError(missing), "cannot open '" + missing + "': No such file or directory");
  EXPECT_EQ(LoadError(mFolder.string()), "cannot open '" + mFolder.string() + "': Is a directory");

  const std::string text = Path("text.aupreset");
  std::ofstream(text) << "hello";
  EXPECT_EQ(LoadError(text), "cannot read preset '" + text + "': not an XML property list");

  const std::string array = Path("array.aupreset");
  std::ofstream(array) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>";
  EXPECT_EQ(LoadError(array), "cannot read preset '" + array + "': it does not hold a dictionary");

  const std::string dated = Path("dated.aupreset");
  std::ofstream(dated) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>d</key>"
                          "<date>2020-01-01T00:00:00Z</date></dict></plist>";
  EXPECT_EQ(LoadError(dated),
            "cannot read preset '" + dated + "': the property list holds a date, which presets cannot carry");
}

TEST_F(Presets, APresetOfAnotherComponentIsRefusedByTheComponent) {
  const std::string other = Path("other.aupreset");
  std::ofstream(other) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                          "<key>version</key><integer>0</integer>"
                          "<key>subtype</key><integer>1</integer>"
                          "<key>manufacturer</key><integer>2</integer>"
                          "<key>data</key><data></data></dict></plist>";
  EXPECT_EQ(LoadError(other), "the component refused the preset '" + other +
                                  "': it holds a value the component does not accept");
}

TEST_F(Presets, DamagedValuesAndMissingDataAreRefusedByName) {
  toolstest::WriteAudio(Path("in.wav"), toolstest::Tone(69, 0.1));
  AudioUnitHandle unit = Open();
  unit.SetParameter(0, 99.0f);  // the key
  SavePreset(unit, Path("bad.aupreset"));
  EXPECT_EQ(Run({"process", Path("in.wav"), "-o", Path("out.wav"), "--preset", Path("bad.aupreset")}), 1);
  EXPECT_EQ(Err(), "varsile: cannot use preset '" + Path("bad.aupreset") +
                       "': it sets key to 99, outside 0 to 11\n");
  const std::string empty = Path("empty.aupreset");
  std::ofstream(empty) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>";
  EXPECT_EQ(LoadError(empty), "cannot use preset '" + empty + "': it holds no 'data' (the parameter values)");
  EXPECT_EQ(Files(), (std::vector<std::string>{"bad.aupreset", "empty.aupreset", "in.wav"}));
}

TEST_F(Presets, AFailedSaveLeavesNothingBehind) {
  AudioUnitHandle unit = Open();
  const std::string path = Path("no/such/folder/x.aupreset");
  try {
    SavePreset(unit, path);
    FAIL() << "no throw";
  } catch (const CliError& error) {
    EXPECT_EQ(std::string(error.what()), "cannot write '" + path + "': No such file or directory");
  }
  EXPECT_TRUE(Files().empty());
}

}  // namespace
