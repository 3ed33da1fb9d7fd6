// The plug-ins of the bundle: one URI per component and channel count. URIs,
// like port symbols, are keys in hosts' sessions and must never change.
#pragma once

#include <MacTypes.h>

#include <array>
#include <string_view>

namespace varsile::lv2 {

// Files inside the bundle.
inline constexpr std::string_view kComponentManifestFile = "Varsile.component";
inline constexpr std::string_view kLookaheadManifestFile = "VarsileLookahead.component";
inline constexpr std::string_view kPluginDescriptionFile = "varsile.ttl";
inline constexpr std::string_view kPresetsFile = "presets.ttl";

struct PluginVariant {
  std::string_view uri;
  std::string_view name;
  std::string_view comment;
  UInt32 channels;
  std::string_view manifest = kComponentManifestFile;  // of the component it hosts
  bool reportsLatency = false;
};

inline constexpr std::array<PluginVariant, 4> kPluginVariants{{
    {"urn:varsile:gate:mono", "Varsile",
     "A gate that follows the pitch: it hears the note being played and sets the volume that its interval "
     "above the key is given, so that notes outside a scale are turned down. The presets set up common "
     "scales in C; turn Key for any other.",
     1},
    {"urn:varsile:gate:stereo", "Varsile (stereo)",
     "A gate that follows the pitch, for two independent channels: each is gated on the notes heard in it, "
     "and each has its own meters. Otherwise as the mono plug-in.",
     2},
    {"urn:varsile:gate:lookahead:mono", "Varsile Lookahead",
     "The pitch-following gate with lookahead: it hears the audio a little before it gates it, so a note "
     "is turned down or up from its start. Hosts compensate the delay it reports. Otherwise as Varsile.",
     1, kLookaheadManifestFile, true},
    {"urn:varsile:gate:lookahead:stereo", "Varsile Lookahead (stereo)",
     "The pitch-following gate with lookahead, for two independent channels, each with its own meters. "
     "Hosts compensate the delay it reports.",
     2, kLookaheadManifestFile, true},
}};

inline constexpr std::string_view kProjectURI = "urn:varsile:project";

// Port groups are named by URIs of their own, shared by the plug-ins.
inline constexpr std::string_view kGroupURIPrefix = "urn:varsile:gate:group:";

}  // namespace varsile::lv2
