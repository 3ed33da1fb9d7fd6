// The registration data of a component module, as read from its manifest.
#pragma once

#include <AudioUnit/AudioComponent.h>

#include <string>
#include <string_view>

namespace varsile::platform {

struct ComponentManifest {
  AudioComponentDescription mDescription{};
  std::string mName;
  UInt32 mVersion = 0;
  std::string mEntry;
  std::string mLibrary;  // as written: absolute, or relative to the manifest's folder
};

// Parses a manifest's text. On failure returns kComponentLoadErr_ManifestMalformed
// and a message naming the line ("line 3: unknown key 'colour'").
OSStatus ParseComponentManifest(std::string_view text, ComponentManifest& outManifest,
                                std::string& outMessage);

}  // namespace varsile::platform
