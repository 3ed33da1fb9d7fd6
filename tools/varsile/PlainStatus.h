// A component's status in words a user understands, for messages.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <string>

namespace varsile::cli {

// "it holds a value the component does not accept"; a status without words
// of its own gives its name.
std::string PlainStatus(OSStatus status);

}  // namespace varsile::cli
