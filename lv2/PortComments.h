// What each port does, in a sentence for the host's tooltip (rdfs:comment).
#pragma once

#include <string>

#include "PortTable.h"

namespace varsile::lv2 {

std::string PortComment(const PortSpec& port, UInt32 channels);

}  // namespace varsile::lv2
