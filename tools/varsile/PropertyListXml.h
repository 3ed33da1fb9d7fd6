// Property-list values as XML property-list text, through libplist's
// nodes. Kinds both sides share convert both ways: dictionary (string keys), array, string, integer,
// real, boolean and data; anything else is refused with a CliError naming
// the kind.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <Varsile/CoreTypes.h>

#include <string>
#include <string_view>

namespace varsile::cli {

std::string ToXml(CFPropertyListRef value);
// Throws CliError "not an XML property list" for text libplist cannot read.
CFRef<CFPropertyListRef> FromXml(std::string_view xml);

}  // namespace varsile::cli
