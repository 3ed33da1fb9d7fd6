// The scales the command line's --scale and the LV2 presets know, as sets of
// semitones above the key: one table, so the two always agree.
#pragma once

#include <array>
#include <bitset>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varsile::music {

struct Scale {
  std::string_view name;      // the name to type: "harmonic-minor"
  std::bitset<12> semitones;  // bit n: n semitones above the key is in the scale
};

// Every scale in the order the help lists them.
const std::vector<Scale>& Scales();

// Looks a scale up by name: case, blanks and underscores do not matter
// ("Harmonic Minor", "harmonic_minor"), and "minor" is the natural minor.
std::optional<Scale> FindScale(std::string_view name);

// "chromatic, major, natural-minor, ..." for messages and help.
std::string ScaleNames();

}  // namespace varsile::music
