// The parameters of a unit as a host sees them: read once from the parameter
// list, the information of each parameter, the value strings of those that
// have them and the names of their groups. Programs find parameters here by
// their names and groups, not by numbers of their own.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "AudioUnitHandle.h"

namespace varsile::host {

struct ParameterDescription {
  AudioUnitParameterID id = 0;
  std::string name;       // as the unit gives it, trailing blanks removed
  UInt32 clumpID = 0;     // 0: no group
  std::string clumpName;  // "" when the unit names no group
  AudioUnitParameterUnit unit = kAudioUnitParameterUnit_Generic;
  Float32 minValue = 0.0f;
  Float32 maxValue = 0.0f;
  Float32 defaultValue = 0.0f;
  AudioUnitParameterOptions flags = 0;
  std::vector<std::string> valueStrings;  // trailing blanks removed
  Float32 value = 0.0f;                   // when the catalogue was read

  bool IsWritable() const noexcept { return (flags & kAudioUnitParameterFlag_IsWritable) != 0; }
  bool InRange(double value) const noexcept { return value >= minValue && value <= maxValue; }
};

class ParameterCatalogue {
 public:
  // Reads every parameter of the global scope, with its present value.
  // Throws HostError.
  static ParameterCatalogue Read(const AudioUnitHandle& unit);

  const std::vector<ParameterDescription>& All() const noexcept { return mParameters; }
  const ParameterDescription* Find(std::string_view name) const noexcept;
  const ParameterDescription* FindID(AudioUnitParameterID id) const noexcept;
  // Like Find, but a missing parameter is an error naming it.
  const ParameterDescription& Require(std::string_view name) const;
  // The parameters of one group, in id order.
  std::vector<const ParameterDescription*> Group(std::string_view clumpName) const;

 private:
  std::vector<ParameterDescription> mParameters;
};

// The text of a parameter name up to the first " / " (interval names carry
// the note after it), trailing blanks removed.
std::string_view NameStem(std::string_view name) noexcept;
// Leading and trailing blanks removed.
std::string_view Trim(std::string_view text) noexcept;
// "percent", "seconds", "Hz", ... for messages and listings.
std::string_view UnitName(AudioUnitParameterUnit unit) noexcept;
// The short sign of a unit after a number ("%", "s", "Hz"), or "".
std::string_view UnitSymbol(AudioUnitParameterUnit unit) noexcept;
// A property-list string as UTF-8 text; "" for anything that is not a string.
std::string ToStdString(CFStringRef text);

}  // namespace varsile::host
