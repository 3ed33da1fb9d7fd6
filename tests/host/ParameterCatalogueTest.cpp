#include <gtest/gtest.h>

#include "HostTestSupport.h"
#include "ParameterCatalogue.h"

namespace {

using varsile::host::AudioUnitHandle;
using varsile::host::NameStem;
using varsile::host::ParameterCatalogue;
using varsile::host::ParameterDescription;
using varsile::host::Trim;

TEST(ParameterCatalogue, ReadsEveryParameterAsTheUnitDescribesIt) {
  AudioUnitHandle unit = hosttest::OpenGate();
  const ParameterCatalogue catalogue = ParameterCatalogue::Read(unit);
  ASSERT_EQ(catalogue.All().size(), 22u);
  for (std::size_t i = 0; i < catalogue.All().size(); ++i) EXPECT_EQ(catalogue.All()[i].id, i);

  const ParameterDescription& key = catalogue.Require("key");
  EXPECT_EQ(key.clumpName, "Transposition");
  EXPECT_EQ(key.unit, kAudioUnitParameterUnit_Indexed);
  EXPECT_EQ(key.maxValue, 11.0f);
  ASSERT_EQ(key.valueStrings.size(), 12u);
  // Trailing blanks of the natural notes are gone.
  EXPECT_EQ(key.valueStrings[0], "C");
  EXPECT_EQ(key.valueStrings[1], "C#");

  const ParameterDescription& attack = catalogue.Require("attack time");
  EXPECT_EQ(attack.clumpName, "Timing");
  EXPECT_EQ(attack.minValue, 0.01f);
  EXPECT_EQ(attack.value, 1.0f);
  EXPECT_TRUE(attack.IsWritable());
  EXPECT_TRUE(attack.InRange(10.0));
  EXPECT_FALSE(attack.InRange(10.001));

  // The meters carry no name flag; their names come from the C-string field.
  const ParameterDescription& accuracy = catalogue.Require("accuracy");
  EXPECT_EQ(accuracy.clumpName, "Gate Monitor");
  EXPECT_FALSE(accuracy.IsWritable());
  ASSERT_NE(catalogue.Find("current note"), nullptr);
  EXPECT_EQ(catalogue.Find("current note")->valueStrings.back(), "Pitch tracker off");

  EXPECT_EQ(catalogue.Group("Volume").size(), 12u);
  EXPECT_EQ(catalogue.Group("Volume").front()->name, "unison / C");
  EXPECT_EQ(catalogue.Find("no such thing"), nullptr);
  EXPECT_THROW(catalogue.Require("no such thing"), std::runtime_error);
  EXPECT_EQ(catalogue.FindID(16)->name, "A4 frequency");
}

TEST(ParameterCatalogue, IntervalNamesFollowTheKeyWhenReadAgain) {
  AudioUnitHandle unit = hosttest::OpenGate();
  unit.SetParameter(ParameterCatalogue::Read(unit).Require("key").id, 3.0f);
  const ParameterCatalogue catalogue = ParameterCatalogue::Read(unit);
  EXPECT_EQ(catalogue.Group("Volume")[0]->name, "unison / D#");
  EXPECT_EQ(catalogue.Group("Volume")[11]->name, "major seventh / D");
  EXPECT_EQ(catalogue.Require("key").value, 3.0f);
}

TEST(ParameterCatalogue, ReadingLeaksNoValues) {
  AudioUnitHandle unit = hosttest::OpenGate();
  static_cast<void>(ParameterCatalogue::Read(unit));  // first use builds the unit's name cache
  const CFIndex live = CFLiveObjectCount();
  static_cast<void>(ParameterCatalogue::Read(unit));
  EXPECT_EQ(CFLiveObjectCount(), live);
}

TEST(ParameterNames, StemAndTrim) {
  EXPECT_EQ(NameStem("minor third / D#"), "minor third");
  EXPECT_EQ(NameStem("aug. fourth / C  "), "aug. fourth");
  EXPECT_EQ(NameStem("master volume"), "master volume");
  EXPECT_EQ(Trim("  C  "), "C");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("   "), "");
}

}  // namespace
