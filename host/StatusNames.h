// Readable names for the statuses, properties and four-character codes a
// host meets, for messages.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <string>
#include <string_view>

namespace varsile::host {

// "kAudioUnitErr_FormatNotSupported (-10868)"; an unknown code gives
// "status -12345", and a four-character code prints as one ('abcd').
std::string StatusName(OSStatus status);

// The platform name of a property id without its prefix ("StreamFormat"),
// or the number for an id this table does not know.
std::string PropertyName(AudioUnitPropertyID id);

// 'aufx' when all four bytes are printable, else the number (0x61756678).
std::string FourCCText(UInt32 code);

}  // namespace varsile::host
