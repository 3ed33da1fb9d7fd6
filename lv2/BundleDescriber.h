// What the bundle says about its plug-ins, read from the component itself:
// the generator writes it as Turtle, and the tests compare it with the files.
#pragma once

#include <AudioUnit/AudioComponent.h>

#include <string>
#include <string_view>

#include "TurtleWriter.h"

namespace varsile::lv2 {

// Loads the component module whose manifest is given. Throws
// std::runtime_error with the loader's message.
AudioComponent LoadBundleComponent(const std::string& manifestPath);

// A component's manifest inside a bundle folder ("/x/varsile.lv2/").
std::string BundleManifestPath(const std::string& bundlePath, std::string_view manifest);

// Loads the component of every plug-in variant from the bundle folder, opens
// an instance with its defaults and builds the variant's port table from its
// parameters. Throws on any failing host call.
BundleDescription DescribeBundle(const std::string& bundlePath, const std::string& binaryFile);

}  // namespace varsile::lv2
