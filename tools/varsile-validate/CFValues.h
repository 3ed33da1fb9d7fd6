// Property-list values as the checks read them. Everything a property hands
// over as a new reference is held in a CFRef, so that the leak checks
// measure the component, not the validator.
#pragma once

#include <Varsile/CoreTypes.h>

namespace varsile::validate {

// Type tests that are false for null.
bool IsString(CFTypeRef value);
bool IsDictionary(CFTypeRef value);
bool IsArray(CFTypeRef value);
bool IsData(CFTypeRef value);
bool IsNumber(CFTypeRef value);

}  // namespace varsile::validate
