#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

#include "AudioUnitHandle.h"
#include "Lv2TestSupport.h"
#include "ParameterCatalogue.h"
#include "PortTable.h"
#include "TurtleWriter.h"

namespace {

using varsile::host::AudioUnitHandle;
using varsile::host::ParameterCatalogue;
using varsile::host::ParameterDescription;
using varsile::lv2::PortKind;
using varsile::lv2::PortSpec;
using varsile::lv2::PortTable;
using varsile::lv2::SymbolFor;

// Presets and sessions are keyed by these symbols in every host. A failure
// here means a change that breaks users' saved work: do not "fix" the list.
const std::vector<std::string> kControlSymbols = {"key",
                                                  "master_volume",
                                                  "vol_unison",
                                                  "vol_minor_second",
                                                  "vol_major_second",
                                                  "vol_minor_third",
                                                  "vol_major_third",
                                                  "vol_fourth",
                                                  "vol_aug_fourth",
                                                  "vol_fifth",
                                                  "vol_minor_sixth",
                                                  "vol_major_sixth",
                                                  "vol_minor_seventh",
                                                  "vol_major_seventh",
                                                  "attack_time",
                                                  "release_time",
                                                  "a4_frequency",
                                                  "accuracy_threshold",
                                                  "jitter_threshold",
                                                  "current_volume",
                                                  "current_note",
                                                  "accuracy"};
// Later ports follow them: the bypass, then the right channel's meters.
const std::vector<std::string> kMonoAudioSymbols = {"in", "out", "enabled"};
const std::vector<std::string> kStereoAudioSymbols = {
    "in_l", "in_r", "out_l", "out_r", "enabled", "current_volume_r", "current_note_r", "accuracy_r"};

std::vector<std::string> Symbols(const PortTable& table) {
  std::vector<std::string> symbols;
  for (const PortSpec& port : table.Ports()) symbols.push_back(port.symbol);
  return symbols;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(PortSymbols, AreForever) {
  EXPECT_EQ(Symbols(lv2test::Table(lv2test::kMonoURI)), Concat(kControlSymbols, kMonoAudioSymbols));
  EXPECT_EQ(Symbols(lv2test::Table(lv2test::kStereoURI)), Concat(kControlSymbols, kStereoAudioSymbols));
  const std::vector<std::string> latency = {"latency"};
  EXPECT_EQ(Symbols(lv2test::Table(lv2test::kLookaheadURI)),
            Concat(Concat(kControlSymbols, kMonoAudioSymbols), latency));
  EXPECT_EQ(Symbols(lv2test::Table("urn:varsile:gate:lookahead:stereo")),
            Concat(Concat(kControlSymbols, kStereoAudioSymbols), latency));
  // And the installed description carries them, at these indices.
  const std::string turtle = ReadFile(lv2test::BundlePath() + "/varsile.ttl");
  for (std::size_t i = 0; i < kControlSymbols.size(); ++i) {
    const std::string entry =
        "lv2:index " + std::to_string(i) + " ;\n\t\tlv2:symbol \"" + kControlSymbols[i] + "\" ;";
    EXPECT_NE(turtle.find(entry), std::string::npos) << entry;
  }
  for (const char* uri : {"<urn:varsile:gate:mono>", "<urn:varsile:gate:stereo>"}) {
    EXPECT_NE(turtle.find(uri), std::string::npos) << uri;
  }
}

TEST(PortSymbols, AreDerivedFromNamesAsLv2AllowsThem) {
  EXPECT_EQ(SymbolFor("A4 frequency"), "a4_frequency");
  EXPECT_EQ(SymbolFor("aug. fourth"), "aug_fourth");
  EXPECT_EQ(SymbolFor("  Gate Monitor "), "gate_monitor");
  EXPECT_EQ(SymbolFor("4th"), "_4th");
  EXPECT_EQ(SymbolFor(""), "_");
  EXPECT_EQ(SymbolFor("caf\xC3\xA9 au lait"), "caf_au_lait");
}

TEST(PortTable, HasOneControlPortPerParameterAsTheComponentDescribesIt) {
  const AudioUnitHandle unit = AudioUnitHandle::Open(lv2test::BundleComponent());
  const ParameterCatalogue catalogue = ParameterCatalogue::Read(unit);
  const PortTable table = PortTable::Build(catalogue, 2);
  ASSERT_EQ(table.Ports().size(), catalogue.All().size() + 8);

  for (std::size_t i = 0; i < catalogue.All().size(); ++i) {
    const ParameterDescription& parameter = catalogue.All()[i];
    const PortSpec& port = table.Ports()[i];
    SCOPED_TRACE(parameter.name);
    EXPECT_EQ(port.index, i);
    EXPECT_EQ(port.parameter, parameter.id);
    EXPECT_EQ(port.kind, parameter.IsWritable() ? PortKind::ControlInput : PortKind::ControlOutput);
    EXPECT_EQ(port.minimum, parameter.minValue);
    EXPECT_EQ(port.maximum, parameter.maxValue);
    // Melodies need far shorter times than the component's 1 s.
    const bool timing = parameter.unit == kAudioUnitParameterUnit_Seconds;
    EXPECT_EQ(port.defaultValue, timing ? 0.02f : parameter.defaultValue);
    EXPECT_EQ(port.logarithmic, timing);
    EXPECT_EQ(port.unit, parameter.unit);
    EXPECT_FALSE(port.comment.empty());
    // Names in sentence case, the intervals without the key's note, which a
    // fixed name can't follow.
    const std::string stem(parameter.clumpName == "Volume" ? varsile::host::NameStem(parameter.name)
                                                           : std::string_view(parameter.name));
    EXPECT_EQ(SymbolFor(port.name).rfind(SymbolFor(stem), 0), 0u) << port.name;  // "... (Left)" in stereo
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(port.name[0])));
    EXPECT_EQ(port.symbol, (parameter.clumpName == "Volume" ? "vol_" : "") + SymbolFor(stem));
    EXPECT_EQ(port.group, port.symbol == "master_volume" ? "master" : SymbolFor(parameter.clumpName));
    ASSERT_EQ(port.scalePoints.size(), parameter.valueStrings.size());
    for (std::size_t k = 0; k < port.scalePoints.size(); ++k) {
      EXPECT_EQ(port.scalePoints[k].value, parameter.minValue + static_cast<float>(k));
      EXPECT_EQ(port.scalePoints[k].label, parameter.valueStrings[k]);
    }
  }

  const PortSpec& key = *table.Find("key");
  EXPECT_TRUE(key.integer && key.enumeration);
  const PortSpec& note = *table.Find("current_note");
  EXPECT_EQ(note.kind, PortKind::ControlOutput);
  EXPECT_TRUE(note.enumeration);
  EXPECT_TRUE(table.Find("jitter_threshold")->integer);
  EXPECT_FALSE(table.Find("jitter_threshold")->enumeration);
  EXPECT_FALSE(table.Find("attack_time")->integer);
  EXPECT_EQ(table.Find("vol_fifth")->name, "Fifth");

  std::set<std::string> labels;
  for (const auto& group : table.Groups()) labels.insert(group.label);
  EXPECT_EQ(labels, (std::set<std::string>{"Transposition", "Master", "Volume", "Timing", "Gate Monitor",
                                           "Pitch Tracking", "Stereo input", "Stereo output"}));
}

TEST(PortTable, EndsWithTheAudioPortsTheBypassAndTheOtherChannelsMeters) {
  const PortTable& mono = lv2test::Table(lv2test::kMonoURI);
  ASSERT_EQ(mono.Ports().size(), 25u);
  EXPECT_EQ(mono.Ports()[22].kind, PortKind::AudioInput);
  EXPECT_EQ(mono.Ports()[23].kind, PortKind::AudioOutput);
  EXPECT_EQ(mono.Ports()[24].role, varsile::lv2::PortRole::Enabled);
  const PortTable& stereo = lv2test::Table(lv2test::kStereoURI);
  ASSERT_EQ(stereo.Ports().size(), 30u);
  EXPECT_EQ(stereo.Ports()[23].kind, PortKind::AudioInput);
  EXPECT_EQ(stereo.Ports()[23].channel, 1u);
  EXPECT_EQ(stereo.Ports()[24].kind, PortKind::AudioOutput);
  EXPECT_EQ(stereo.Ports()[24].channel, 0u);
  EXPECT_EQ(stereo.Ports()[25].name, "Right output");
  EXPECT_EQ(stereo.Ports()[28].parameter, stereo.Find("current_note")->parameter);
  EXPECT_EQ(stereo.Ports()[28].channel, 1u);
  EXPECT_EQ(stereo.Ports()[28].kind, PortKind::ControlOutput);
}

TEST(PortTable, DoesNotDependOnTheKeyTheComponentHolds) {
  AudioUnitHandle unit = AudioUnitHandle::Open(lv2test::BundleComponent());
  const PortTable before = PortTable::Build(ParameterCatalogue::Read(unit), 1);
  unit.SetParameter(0, 7.0f);
  const PortTable after = PortTable::Build(ParameterCatalogue::Read(unit), 1);
  ASSERT_EQ(Symbols(before), Symbols(after));
  for (std::size_t i = 0; i < before.Ports().size(); ++i)
    EXPECT_EQ(before.Ports()[i].name, after.Ports()[i].name);
}

TEST(BundleFiles, AreWhatTheComponentDescribesNow) {
  const auto& description = lv2test::Description();
  EXPECT_EQ(ReadFile(lv2test::BundlePath() + "/manifest.ttl"), varsile::lv2::ManifestTurtle(description));
  EXPECT_EQ(ReadFile(lv2test::BundlePath() + "/varsile.ttl"), varsile::lv2::PluginTurtle(description));
  EXPECT_EQ(ReadFile(lv2test::BundlePath() + "/presets.ttl"), varsile::lv2::PresetTurtle(description));
}

TEST(TurtleText, WritesNumbersAsDecimalsThatReadBackExactly) {
  using varsile::lv2::DecimalText;
  EXPECT_EQ(DecimalText(0.0f), "0.0");
  EXPECT_EQ(DecimalText(100.0f), "100.0");
  EXPECT_EQ(DecimalText(0.01f), "0.01");
  EXPECT_EQ(DecimalText(-2.5f), "-2.5");
  EXPECT_EQ(std::stof(DecimalText(1.0f / 3.0f)), 1.0f / 3.0f);
  EXPECT_EQ(DecimalText(1e20f).find('e'), std::string::npos);
  EXPECT_THROW(DecimalText(std::nanf("")), std::invalid_argument);
}

TEST(TurtleText, EscapesStrings) {
  using varsile::lv2::QuotedText;
  EXPECT_EQ(QuotedText("C#"), "\"C#\"");
  EXPECT_EQ(QuotedText("a \"b\" \\ c"), "\"a \\\"b\\\" \\\\ c\"");
  EXPECT_EQ(QuotedText("line\nnext\x01"), "\"line\\nnext\\u0001\"");
}

TEST(TurtleText, DescribesEveryPortOfBothPlugins) {
  const std::string turtle = varsile::lv2::PluginTurtle(lv2test::Description());
  EXPECT_NE(turtle.find("lv2:symbol \"current_note\" ;\n\t\tlv2:name \"Current note\""), std::string::npos);
  EXPECT_NE(turtle.find("rdfs:label \"Pitch tracker off\" ;\n\t\t\trdf:value 12.0"), std::string::npos);
  EXPECT_NE(turtle.find("lv2:minimum 400.0 ;\n\t\tlv2:maximum 480.0 ;\n\t\tunits:unit units:hz"),
            std::string::npos);
  EXPECT_NE(turtle.find("a lv2:OutputPort , lv2:ControlPort ;\n\t\tlv2:index 21 ;"), std::string::npos);
  EXPECT_NE(turtle.find("lv2:index 25 ;\n\t\tlv2:symbol \"out_r\""), std::string::npos);
  // Nothing is required of the host.
  EXPECT_EQ(turtle.find("requiredFeature"), std::string::npos);
  EXPECT_EQ(turtle.find("requiredOption"), std::string::npos);
}

}  // namespace
