// What the bundle says about its plug-ins, read from the component itself:
// the generator writes it as Turtle, and the tests compare it with the files.
#pragma once

#include <AudioUnit/AudioComponent.h>

#include <string>

#include "TurtleWriter.h"

namespace varsile::lv2 {

// Loads the component module whose manifest is given. Throws
// std::runtime_error with the loader's message.
AudioComponent LoadBundleComponent(const std::string& manifestPath);

// Opens an instance with its defaults and builds the port table of every
// plug-in variant from its parameters. Throws on any failing host call.
BundleDescription DescribeBundle(AudioComponent component, const std::string& binaryFile);

}  // namespace varsile::lv2
