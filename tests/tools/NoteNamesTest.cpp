#include <gtest/gtest.h>

#include "AudioUnitHandle.h"
#include "CliError.h"
#include "NoteNames.h"
#include "ToolsTestSupport.h"

namespace {

using varsile::cli::FindNote;
using varsile::cli::IntervalTable;
using varsile::cli::ParseKey;
using varsile::cli::UsageError;
using varsile::host::ParameterCatalogue;
using varsile::host::ParameterDescription;

// The key parameter as the component describes it, value strings untrimmed.
ParameterDescription KeyParameter() {
  ParameterDescription key;
  key.name = "key";
  key.unit = kAudioUnitParameterUnit_Indexed;
  key.maxValue = 11.0f;
  key.valueStrings = {"C  ", "C#", "D  ", "D#", "E  ", "F  ", "F#", "G  ", "G#", "A  ", "A#", "B  "};
  return key;
}

std::string KeyError(std::string_view text) {
  try {
    ParseKey(text, KeyParameter());
  } catch (const UsageError& error) {
    return error.what();
  }
  return "no error";
}

TEST(NoteNames, KeysByValueStringSharpFlatOrNumber) {
  const ParameterDescription key = KeyParameter();
  const std::vector<std::pair<std::string, int>> cases{
      {"C", 0},  {"C#", 1},  {"Db", 1}, {"d", 2},   {"D#", 3},  {"Eb", 3}, {"E", 4},   {"Fb", 4},
      {"E#", 5}, {"F", 5},   {"Gb", 6}, {"G", 7},   {"Ab", 8},  {"a", 9},  {"Bb", 10}, {"A#", 10},
      {"B", 11}, {"Cb", 11}, {"B#", 0}, {"Bbb", 9}, {"C##", 2}, {"0", 0},  {"11", 11}, {"7", 7}};
  for (const auto& [text, pitchClass] : cases) EXPECT_EQ(ParseKey(text, key), pitchClass) << text;
}

TEST(NoteNames, UnknownKeysNameTheChoices) {
  const std::string tail = "' (use a note name such as C, F# or Bb, or a number from 0 to 11)";
  EXPECT_EQ(KeyError("H"), "unknown key 'H" + tail);
  EXPECT_EQ(KeyError("12"), "unknown key '12" + tail);
  EXPECT_EQ(KeyError("-1"), "unknown key '-1" + tail);
  EXPECT_EQ(KeyError("C-sharp"), "unknown key 'C-sharp" + tail);
  EXPECT_EQ(KeyError(""), "unknown key '" + tail);
  EXPECT_EQ(KeyError("1.5"), "unknown key '1.5" + tail);
}

TEST(NoteNames, FindNoteIgnoresBlanksAndCase) {
  const std::vector<std::string> names{"C  ", "C#", "Pitch tracker off"};
  EXPECT_EQ(FindNote("c", names), 0);
  EXPECT_EQ(FindNote(" C# ", names), 1);
  EXPECT_EQ(FindNote("pitch tracker off", names), 2);
  EXPECT_FALSE(FindNote("", names).has_value());
  EXPECT_FALSE(FindNote("D", names).has_value());
}

class Intervals : public toolstest::Scratch {};

TEST_F(Intervals, AreFoundByTheirNamesWhateverTheKey) {
  auto unit = varsile::host::AudioUnitHandle::Open(varsile::host::LocateComponent(mSearch));
  const auto check = [&](float key) {
    unit.SetParameter(0, key);
    const ParameterCatalogue catalogue = ParameterCatalogue::Read(unit);
    const IntervalTable table = IntervalTable::Find(catalogue);
    for (int n = 0; n < 12; ++n)
      EXPECT_EQ(table.Parameter(n).id, static_cast<UInt32>(2 + n)) << "key " << key;
    EXPECT_EQ(table.Name(3), "minor third");
    EXPECT_EQ(table.Name(6), "aug. fourth");
    EXPECT_EQ(table.Parse("Minor-Third"), 3);
    EXPECT_EQ(table.Parse("aug fourth"), 6);
    EXPECT_EQ(table.Parse("aug. fourth"), 6);
    EXPECT_EQ(table.Parse("fifth"), 7);
    EXPECT_EQ(table.Parse("11"), 11);
    EXPECT_EQ(table.Parse("0"), 0);
  };
  check(0.0f);
  check(3.0f);
  check(11.0f);
}

TEST_F(Intervals, UnknownIntervalsAreUsageErrors) {
  auto unit = varsile::host::AudioUnitHandle::Open(varsile::host::LocateComponent(mSearch));
  const IntervalTable table = IntervalTable::Find(ParameterCatalogue::Read(unit));
  for (const char* bad : {"tenth", "12", "-1", "", "minor"}) {
    try {
      table.Parse(bad);
      ADD_FAILURE() << bad;
    } catch (const UsageError& error) {
      EXPECT_EQ(std::string(error.what()),
                std::string("unknown interval '") + bad +
                    "' (use a name such as 'minor third' or 'fifth', or semitones from 0 to 11)");
    }
  }
}

}  // namespace
