// The component under test, loaded and found as the command line asks.
#pragma once

#include "ComponentLocator.h"

namespace varsile::validate {

using Target = host::ComponentInfo;
using TargetQuery = host::ComponentQuery;

}  // namespace varsile::validate
