// How the report spells statuses, four-character codes, scopes and property
// ids, and how the command line spells four-character codes.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <optional>
#include <string>
#include <string_view>

#include "StatusNames.h"

namespace varsile::validate {

using host::FourCCText;
// "kAudioUnitErr_TooManyFramesToProcess (-10874)", or "status -12345".
inline std::string StatusText(OSStatus status) {
  return host::StatusName(status);
}
// Exactly four printable ASCII characters, or 0x and one to eight hex digits.
// Zero is refused: it means "any" in a search.
std::optional<UInt32> ParseFourCC(std::string_view text);
// "global", "input", ..., or "scope 7".
std::string ScopeText(AudioUnitScope scope);
// "8 StreamFormat", or the bare id.
std::string PropertyText(AudioUnitPropertyID id);
// A float as the report shows it: shortest form that reads back exactly.
std::string FloatText(float value);
std::string FloatText(double value);

}  // namespace varsile::validate
