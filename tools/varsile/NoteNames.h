// Keys and intervals typed on the command line, matched against the names
// the component gives: the key parameter's value strings ("C", "C#", ...)
// and the interval-volume parameters' names ("minor third / D#").
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ParameterCatalogue.h"

namespace varsile::cli {

// The index of a note among value strings, by their text without blanks
// ("C#" matches "C#", "c" matches "C  "); nullopt if none matches.
std::optional<int> FindNote(std::string_view name, const std::vector<std::string>& valueStrings);

// The pitch class a key names: a value string of the key parameter, a
// natural note with sharps or flats ("Db", "E#", "Bbb"), or a whole number
// within the parameter's range. Throws UsageError "unknown key '...'".
int ParseKey(std::string_view text, const host::ParameterDescription& key);

// The twelve interval-volume parameters, by semitones above the key. Found
// by their names: an interval name, " / ", and the note that lies that far
// above the key the names were built for.
class IntervalTable {
 public:
  // Throws CliError if the component's parameters are not twelve intervals.
  static IntervalTable Find(const host::ParameterCatalogue& catalogue);

  const host::ParameterDescription& Parameter(int semitones) const { return *mParameters.at(semitones); }
  // "minor third": the parameter's name before " / ".
  const std::string& Name(int semitones) const { return mNames.at(semitones); }
  // Semitones for an interval name (case, '-', '_' and '.' do not matter)
  // or a number 0-11. Throws UsageError "unknown interval '...'".
  int Parse(std::string_view text) const;

 private:
  std::array<const host::ParameterDescription*, 12> mParameters{};
  std::array<std::string, 12> mNames;
};

}  // namespace varsile::cli
