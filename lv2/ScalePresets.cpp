#include "ScalePresets.h"

#include <algorithm>
#include <stdexcept>

#include "MelodyTiming.h"
#include "Scales.h"

namespace varsile::lv2 {

std::vector<PresetSpec> ScalePresets(const PortTable& table) {
  // The interval ports come in order of semitones above the key.
  std::vector<std::string> intervals;
  for (const PortSpec& port : table.Ports()) {
    if (port.IsIntervalVolume()) intervals.push_back(port.symbol);
  }
  if (intervals.size() != 12) throw std::runtime_error("the presets need twelve interval ports");

  std::vector<PresetSpec> presets;
  for (const music::Scale& scale : music::Scales()) {
    PresetSpec preset;
    preset.uri = std::string(kPresetURIPrefix) + std::string(scale.name);
    preset.label = "C " + std::string(scale.name);
    std::replace(preset.label.begin(), preset.label.end(), '-', ' ');
    preset.values.emplace_back("key", 0.0f);
    // Neutral: the interval ports then are the volumes.
    preset.values.emplace_back(std::string(kMasterVolumeSymbol), 100.0f);
    for (std::size_t n = 0; n < intervals.size(); ++n) {
      preset.values.emplace_back(intervals[n], scale.semitones.test(n) ? 100.0f : 0.0f);
    }
    preset.values.emplace_back("attack_time", static_cast<Float32>(music::kMelodyAttackSeconds));
    preset.values.emplace_back("release_time", static_cast<Float32>(music::kMelodyReleaseSeconds));
    presets.push_back(std::move(preset));
  }
  return presets;
}

}  // namespace varsile::lv2
