// How the report spells statuses, four-character codes, scopes and property
// ids, and how the command line spells four-character codes.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <optional>
#include <string>
#include <string_view>

namespace varsile::validate {

// "kAudioUnitErr_TooManyFramesToProcess (-10874)", or "status -12345".
std::string StatusText(OSStatus status);
// 'aufx' as text when all four bytes are printable, else 0x61756678.
std::string FourCCText(UInt32 code);
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
