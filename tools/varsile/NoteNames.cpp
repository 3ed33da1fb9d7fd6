#include "NoteNames.h"

#include <cctype>
#include <cmath>

#include "CliError.h"
#include "CommandLine.h"

namespace varsile::cli {

namespace {

// Interval names compared loosely: "Minor-Third", "aug fourth", "aug. fourth".
std::string Loose(std::string_view text) {
  std::string loose;
  for (const char c : text) {
    if (c == '.') continue;
    if (c == ' ' || c == '-' || c == '_') {
      if (!loose.empty() && loose.back() != ' ') loose += ' ';
      continue;
    }
    loose += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  while (!loose.empty() && loose.back() == ' ') loose.pop_back();
  return loose;
}

int Modulo(int value, int modulus) {
  const int r = value % modulus;
  return r < 0 ? r + modulus : r;
}

}  // namespace

std::optional<int> FindNote(std::string_view name, const std::vector<std::string>& valueStrings) {
  const std::string wanted = Lower(host::Trim(name));
  if (wanted.empty()) return std::nullopt;
  for (std::size_t i = 0; i < valueStrings.size(); ++i) {
    if (Lower(host::Trim(valueStrings[i])) == wanted) return static_cast<int>(i);
  }
  return std::nullopt;
}

int ParseKey(std::string_view text, const host::ParameterDescription& key) {
  const auto unknown = [&] {
    return UsageError("unknown key '{}' (use a note name such as C, F# or Bb, or a number from {} to {})",
                      text, std::lround(key.minValue), std::lround(key.maxValue));
  };
  if (const auto number = WholeNumber(text)) {
    if (*number < key.minValue || *number > key.maxValue) throw unknown();
    return static_cast<int>(*number);
  }
  // The twelve pitch classes, as the key parameter names them.
  const int classes = static_cast<int>(key.valueStrings.size());
  if (classes == 0) throw unknown();
  if (const auto exact = FindNote(text, key.valueStrings)) return *exact;

  // A natural note and accidentals: each '#' one semitone up, each 'b' down.
  if (text.empty()) throw unknown();
  const auto natural = FindNote(text.substr(0, 1), key.valueStrings);
  if (!natural) throw unknown();
  int pitch = *natural;
  for (const char c : text.substr(1)) {
    if (c == '#') {
      ++pitch;
    } else if (c == 'b') {
      --pitch;
    } else {
      throw unknown();
    }
  }
  return Modulo(pitch, classes);
}

IntervalTable IntervalTable::Find(const host::ParameterCatalogue& catalogue) {
  const host::ParameterDescription* key = catalogue.Find("key");
  if (key == nullptr || key->valueStrings.empty()) {
    throw CliError("the component has no key parameter with note names");
  }
  const int classes = static_cast<int>(key->valueStrings.size());
  const int keyClass = Modulo(static_cast<int>(key->value), classes);

  IntervalTable table;
  int found = 0;
  for (const host::ParameterDescription& parameter : catalogue.All()) {
    const std::size_t separator = parameter.name.find(" / ");
    if (separator == std::string::npos) continue;
    const auto note = FindNote(std::string_view(parameter.name).substr(separator + 3), key->valueStrings);
    if (!note) continue;
    const int semitones = Modulo(*note - keyClass, classes);
    if (semitones >= 12 || table.mParameters[semitones] != nullptr) {
      throw CliError("the component's interval parameters are not as expected");
    }
    table.mParameters[semitones] = &parameter;
    table.mNames[semitones] = std::string(host::NameStem(parameter.name));
    ++found;
  }
  if (found != 12) throw CliError("the component's interval parameters are not as expected");
  return table;
}

int IntervalTable::Parse(std::string_view text) const {
  if (const auto number = WholeNumber(text)) {
    if (*number >= 0 && *number < 12) return static_cast<int>(*number);
  } else {
    const std::string wanted = Loose(text);
    for (int semitones = 0; semitones < 12; ++semitones) {
      if (!wanted.empty() && Loose(mNames[semitones]) == wanted) return semitones;
    }
  }
  throw UsageError(
      "unknown interval '{}' (use a name such as 'minor third' or 'fifth', or semitones from 0 to 11)", text);
}

}  // namespace varsile::cli
