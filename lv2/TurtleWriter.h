// The bundle's description in Turtle: manifest.ttl (which plug-ins and
// presets exist and where their binary and descriptions are), the plug-in
// description with every port, written from the port tables, and the presets.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "PluginVariants.h"
#include "PortTable.h"
#include "ScalePresets.h"

namespace varsile::lv2 {

struct DescribedPlugin {
  PluginVariant variant;
  PortTable ports;
};

struct BundleDescription {
  std::vector<DescribedPlugin> plugins;
  std::vector<PresetSpec> presets;  // for every plug-in
  std::string binaryFile;           // the LV2 object, relative to the bundle
  UInt32 version = 0;               // the component's, major.minor.bugfix in 16.8.8 bits
};

std::string ManifestTurtle(const BundleDescription& bundle);
std::string PluginTurtle(const BundleDescription& bundle);
std::string PresetTurtle(const BundleDescription& bundle);

// A number as Turtle reads it into a float: always with a decimal point
// ("100.0", "0.01"), never in exponent form.
std::string DecimalText(float value);
// A Turtle string literal, quoted and escaped.
std::string QuotedText(std::string_view text);

}  // namespace varsile::lv2
