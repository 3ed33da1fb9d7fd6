// Presets: a unit's class-info dictionary as an XML property list, the
// ".aupreset" file hosts exchange.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <Varsile/CoreTypes.h>

#include <string>

#include "AudioUnitHandle.h"

namespace varsile::cli {

// Reads a preset file. Throws CliError naming the file: missing or
// unreadable, not an XML property list, not a dictionary, or holding kinds
// of values a preset cannot carry.
CFRef<CFPropertyListRef> ReadPresetFile(const std::string& path);

// Gives the unit the preset's state (the class-info property). Throws
// CliError when the unit refuses it.
void LoadPreset(host::AudioUnitHandle& unit, const std::string& path);

// Names the unit's present preset after the file, as hosts do, and gives
// the unit's state as the file's text.
std::string PresetText(host::AudioUnitHandle& unit, const std::string& path);

// PresetText, written to the file.
void SavePreset(host::AudioUnitHandle& unit, const std::string& path);

}  // namespace varsile::cli
