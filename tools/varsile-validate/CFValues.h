// Property-list values as the checks read them. Everything a property hands
// over as a new reference is held in a CFRef, so that the leak checks
// measure the component, not the validator.
#pragma once

#include <Varsile/CoreTypes.h>

namespace varsile::validate {

// Type tests that are false for null.
inline bool IsA(CFTypeRef value, CFTypeID type) {
  return value != nullptr && CFGetTypeID(value) == type;
}
inline bool IsString(CFTypeRef value) {
  return IsA(value, CFStringGetTypeID());
}
inline bool IsDictionary(CFTypeRef value) {
  return IsA(value, CFDictionaryGetTypeID());
}
inline bool IsArray(CFTypeRef value) {
  return IsA(value, CFArrayGetTypeID());
}
inline bool IsData(CFTypeRef value) {
  return IsA(value, CFDataGetTypeID());
}
inline bool IsNumber(CFTypeRef value) {
  return IsA(value, CFNumberGetTypeID());
}

inline CFRef<CFStringRef> MakeString(const char* text) {
  return CFRef<CFStringRef>(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
}

}  // namespace varsile::validate
