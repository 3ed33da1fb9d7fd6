#include "CFValues.h"

#include <vector>

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

std::string StringText(CFStringRef value) {
  if (!IsString(value)) return {};
  // At most 4 bytes per UTF-16 unit, with room for the terminator.
  std::vector<char> buffer(static_cast<std::size_t>(CFStringGetLength(value)) * 4 + 1);
  if (!CFStringGetCString(value, buffer.data(), static_cast<CFIndex>(buffer.size()), kCFStringEncodingUTF8)) {
    return {};
  }
  return std::string(buffer.data());
}

}  // namespace varsile::validate
