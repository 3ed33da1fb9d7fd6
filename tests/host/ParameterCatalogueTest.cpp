#include <gtest/gtest.h>

#include "HostTestSupport.h"
#include "ParameterCatalogue.h"

namespace {

using varsile::host::AudioUnitHandle;
using varsile::host::NameStem;
using varsile::host::ParameterCatalogue;
using varsile::host::ParameterDescription;
using varsile::host::Trim;

// What it reads is pinned by the golden `varsile params` text; here, the
// lookups and range checks the programs build on.
TEST(ParameterCatalogue, FindsParametersByNameGroupAndId) {
  AudioUnitHandle unit = hosttest::OpenGate();
  const ParameterCatalogue catalogue = ParameterCatalogue::Read(unit);
  for (std::size_t i = 0; i < catalogue.All().size(); ++i) EXPECT_EQ(catalogue.All()[i].id, i);

  const ParameterDescription& attack = catalogue.Require("attack time");
  EXPECT_TRUE(attack.IsWritable());
  EXPECT_TRUE(attack.InRange(10.0));
  EXPECT_FALSE(attack.InRange(10.001));
  EXPECT_FALSE(attack.InRange(0.0));
  EXPECT_FALSE(catalogue.Require("accuracy").IsWritable());
  EXPECT_EQ(catalogue.Group("Volume").size(), 12u);
  EXPECT_EQ(catalogue.Find("no such thing"), nullptr);
  EXPECT_THROW(catalogue.Require("no such thing"), std::runtime_error);
  EXPECT_EQ(catalogue.FindID(16)->name, "A4 frequency");
  EXPECT_EQ(catalogue.FindID(22), nullptr);
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
