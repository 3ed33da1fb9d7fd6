#include "CFValues.h"

namespace varsile::validate {

bool IsString(CFTypeRef value) {
  return value != nullptr && CFGetTypeID(value) == CFStringGetTypeID();
}

bool IsDictionary(CFTypeRef value) {
  return value != nullptr && CFGetTypeID(value) == CFDictionaryGetTypeID();
}

bool IsArray(CFTypeRef value) {
  return value != nullptr && CFGetTypeID(value) == CFArrayGetTypeID();
}

bool IsData(CFTypeRef value) {
  return value != nullptr && CFGetTypeID(value) == CFDataGetTypeID();
}

bool IsNumber(CFTypeRef value) {
  return value != nullptr && CFGetTypeID(value) == CFNumberGetTypeID();
}

}  // namespace varsile::validate
