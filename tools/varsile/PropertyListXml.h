// Property-list values between the platform's reference-counted values and
// libplist's nodes, and XML property-list text. Kinds both sides share
// convert both ways: dictionary (string keys), array, string, integer,
// real, boolean and data; anything else is refused with a CliError naming
// the kind.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <Varsile/CoreTypes.h>
#include <plist/plist.h>

#include <memory>
#include <string>
#include <string_view>

namespace varsile::cli {

struct PlistFree {
  void operator()(void* node) const noexcept { plist_free(static_cast<plist_t>(node)); }
};
using PlistNode = std::unique_ptr<void, PlistFree>;

PlistNode ToPlist(CFPropertyListRef value);
CFRef<CFPropertyListRef> FromPlist(plist_t node);

std::string ToXml(CFPropertyListRef value);
// Throws CliError "not an XML property list" for text libplist cannot read.
CFRef<CFPropertyListRef> FromXml(std::string_view xml);

}  // namespace varsile::cli
