// The plug-ins of the bundle: one URI per channel count. URIs, like port
// symbols, are keys in hosts' sessions and must never change.
#pragma once

#include <MacTypes.h>

#include <array>
#include <string_view>

namespace varsile::lv2 {

struct PluginVariant {
  std::string_view uri;
  std::string_view name;
  UInt32 channels;
};

inline constexpr std::array<PluginVariant, 2> kPluginVariants{{
    {"urn:varsile:gate:mono", "Varsile", 1},
    {"urn:varsile:gate:stereo", "Varsile (stereo)", 2},
}};

// Files inside the bundle.
inline constexpr std::string_view kComponentManifestFile = "Varsile.component";
inline constexpr std::string_view kPluginDescriptionFile = "varsile.ttl";

// Port groups are named by URIs of their own, shared by both plug-ins.
inline constexpr std::string_view kGroupURIPrefix = "urn:varsile:gate:group:";

}  // namespace varsile::lv2
