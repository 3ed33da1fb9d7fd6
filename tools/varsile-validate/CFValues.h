// Property-list values as the checks read them. Everything a property hands
// over as a new reference is held in a CFRef, so that the leak checks
// measure the component, not the validator.
#pragma once

#include <Varsile/CoreTypes.h>

#include <string>

namespace varsile::validate {

// Type tests that are false for null.
bool IsString(CFTypeRef value);
bool IsDictionary(CFTypeRef value);
bool IsArray(CFTypeRef value);
bool IsData(CFTypeRef value);
bool IsNumber(CFTypeRef value);
// The UTF-8 text of a string; "" for anything that is not a string.
std::string StringText(CFStringRef value);

}  // namespace varsile::validate
