// Hosts keep a plug-in's state as its control-port values and restore it by
// setting them on a fresh instance. The audio must not tell the two apart.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Lv2TestSupport.h"

namespace {

using lv2test::DirectRender;
using lv2test::MaxDifference;
using lv2test::Melody;
using lv2test::Planar;
using lv2test::PluginInstance;

constexpr double kRate = 48000.0;

using Step = std::pair<std::string, float>;

// Sets each port in turn, letting the plug-in see every value in a block.
void Play(PluginInstance& plugin, const std::vector<Step>& history) {
  const Planar silence(plugin.Channels(), std::vector<float>(32, 0.0f));
  for (const auto& [symbol, value] : history) {
    plugin.Control(symbol) = value;
    plugin.Process(silence, 32);
  }
}

Planar AfterRestart(PluginInstance& plugin, const Planar& input) {
  plugin.Deactivate();
  plugin.Activate();
  return plugin.Process(input, 256);
}

Planar Restored(const std::map<std::string, float>& saved, const Planar& input) {
  PluginInstance plugin(input.size() == 1 ? lv2test::kMonoURI : lv2test::kStereoURI, kRate);
  for (const auto& [symbol, value] : saved) plugin.Control(symbol) = value;
  plugin.Activate();
  return plugin.Process(input, 256);
}

TEST(SessionRoundTrip, ARestoredInstanceSoundsLikeTheSavedOne) {
  const Planar input = Melody(2, kRate, 1.2);
  const std::vector<std::vector<Step>> histories = {
      {{"key", 2}, {"vol_minor_second", 0}, {"vol_minor_third", 10}, {"attack_time", 0.05f}},
      // An interval set at the neutral master, then the master moved down.
      {{"key", 9}, {"vol_fourth", 30}, {"master_volume", 50}, {"release_time", 0.1f}},
      // The master moved first, then intervals; then the master again.
      {{"master_volume", 60}, {"vol_fifth", 20}, {"vol_unison", 90}, {"master_volume", 80}, {"key", 5}},
      // Tuning and tracking.
      {{"a4_frequency", 432}, {"accuracy_threshold", 60}, {"jitter_threshold", 4}, {"vol_major_third", 0}},
  };
  for (std::size_t h = 0; h < histories.size(); ++h) {
    SCOPED_TRACE("history " + std::to_string(h));
    PluginInstance original(lv2test::kStereoURI, kRate);
    original.Activate();
    Play(original, histories[h]);
    const std::map<std::string, float> saved = original.Controls();
    EXPECT_EQ(MaxDifference(AfterRestart(original, input), Restored(saved, input)), 0.0f);
  }
}

TEST(SessionRoundTrip, TheOrderOfChangesDoesNotMatterOnlyTheFinalValues) {
  const Planar input = Melody(1, kRate, 1.2);
  const std::vector<Step> one = {{"vol_minor_second", 30}, {"master_volume", 50}, {"vol_fourth", 70}};
  const std::vector<Step> other = {{"master_volume", 50}, {"vol_fourth", 70}, {"vol_minor_second", 30}};
  PluginInstance a(lv2test::kMonoURI, kRate);
  PluginInstance b(lv2test::kMonoURI, kRate);
  a.Activate();
  b.Activate();
  Play(a, one);
  Play(b, other);
  ASSERT_EQ(a.Controls(), b.Controls());
  EXPECT_EQ(MaxDifference(AfterRestart(a, input), AfterRestart(b, input)), 0.0f);
}

TEST(SessionRoundTrip, IntervalPortsAreVolumesAtTheNeutralMaster) {
  // Master 50 takes 50 points off every interval port, down to 0 at most.
  const Planar input = Melody(1, kRate, 1.2);
  PluginInstance plugin(lv2test::kMonoURI, kRate);
  plugin.Control("key") = 2;
  plugin.Control("master_volume") = 50;
  plugin.Control("vol_unison") = 80;
  plugin.Control("vol_minor_second") = 40;
  plugin.Control("vol_major_third") = 100;
  plugin.Activate();
  const std::map<std::string, float> effective = {{"key", 2},
                                                  {"vol_unison", 30},
                                                  {"vol_minor_second", 0},
                                                  {"vol_major_second", 50},
                                                  {"vol_minor_third", 50},
                                                  {"vol_major_third", 50},
                                                  {"vol_fourth", 50},
                                                  {"vol_aug_fourth", 50},
                                                  {"vol_fifth", 50},
                                                  {"vol_minor_sixth", 50},
                                                  {"vol_major_sixth", 50},
                                                  {"vol_minor_seventh", 50},
                                                  {"vol_major_seventh", 50}};
  EXPECT_EQ(MaxDifference(plugin.Process(input, 256), DirectRender(input, kRate, 256, effective)), 0.0f);
}

}  // namespace
