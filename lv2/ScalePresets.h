// The bundle's presets: one per scale the command line knows, in C, with
// the notes outside the scale silent and attack and release for melodies.
// The key is left for the user to turn: the interval volumes count from it.
#pragma once

#include <MacTypes.h>

#include <string>
#include <utility>
#include <vector>

#include "PortTable.h"

namespace varsile::lv2 {

struct PresetSpec {
  std::string uri;                                      // "urn:varsile:gate:preset:natural-minor"
  std::string label;                                    // "C natural minor"
  std::vector<std::pair<std::string, Float32>> values;  // by port symbol
};

inline constexpr std::string_view kPresetURIPrefix = "urn:varsile:gate:preset:";

// Throws std::runtime_error if the table lacks the twelve interval ports.
std::vector<PresetSpec> ScalePresets(const PortTable& table);

}  // namespace varsile::lv2
