#include "Scales.h"

#include <cctype>
#include <initializer_list>

namespace varsile::music {

namespace {

std::bitset<12> Steps(std::initializer_list<int> semitones) {
  std::bitset<12> set;
  for (const int s : semitones) set.set(static_cast<std::size_t>(s));
  return set;
}

std::string Normalised(std::string_view name) {
  std::string text;
  for (const char c : name) {
    if (c == ' ' || c == '_' || c == '-') {
      if (!text.empty() && text.back() != '-') text += '-';
    } else {
      text += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  while (!text.empty() && text.back() == '-') text.pop_back();
  return text;
}

}  // namespace

const std::vector<Scale>& Scales() {
  static const std::vector<Scale> scales = {
      {"chromatic", Steps({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})},
      {"major", Steps({0, 2, 4, 5, 7, 9, 11})},
      {"natural-minor", Steps({0, 2, 3, 5, 7, 8, 10})},
      {"harmonic-minor", Steps({0, 2, 3, 5, 7, 8, 11})},
      // The ascending form; descending, melodic minor is the natural minor.
      {"melodic-minor", Steps({0, 2, 3, 5, 7, 9, 11})},
      {"ionian", Steps({0, 2, 4, 5, 7, 9, 11})},
      {"dorian", Steps({0, 2, 3, 5, 7, 9, 10})},
      {"phrygian", Steps({0, 1, 3, 5, 7, 8, 10})},
      {"lydian", Steps({0, 2, 4, 6, 7, 9, 11})},
      {"mixolydian", Steps({0, 2, 4, 5, 7, 9, 10})},
      {"aeolian", Steps({0, 2, 3, 5, 7, 8, 10})},
      {"locrian", Steps({0, 1, 3, 5, 6, 8, 10})},
      {"major-pentatonic", Steps({0, 2, 4, 7, 9})},
      {"minor-pentatonic", Steps({0, 3, 5, 7, 10})},
      {"blues", Steps({0, 3, 5, 6, 7, 10})},
      {"whole-tone", Steps({0, 2, 4, 6, 8, 10})},
  };
  return scales;
}

std::optional<Scale> FindScale(std::string_view name) {
  std::string wanted = Normalised(name);
  if (wanted == "minor") wanted = "natural-minor";
  for (const Scale& scale : Scales()) {
    if (scale.name == wanted) return scale;
  }
  return std::nullopt;
}

std::string ScaleNames() {
  std::string names;
  for (const Scale& scale : Scales()) {
    if (!names.empty()) names += ", ";
    names += scale.name;
  }
  return names;
}

}  // namespace varsile::music
