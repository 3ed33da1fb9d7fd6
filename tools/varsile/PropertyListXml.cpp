#include "PropertyListXml.h"

#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "CliError.h"
#include "ParameterCatalogue.h"

namespace varsile::cli {

namespace {

// Deeper nesting than any preset has is refused rather than recursed into.
constexpr int kMaxDepth = 64;

struct CFree {
  void operator()(void* memory) const noexcept { std::free(memory); }
};
using CString = std::unique_ptr<char, CFree>;
struct PlistFree {
  void operator()(void* node) const noexcept { plist_free(static_cast<plist_t>(node)); }
};
using PlistNode = std::unique_ptr<void, PlistFree>;

PlistNode ToPlistNode(CFTypeRef value, int depth = 0) {
  if (value == nullptr) throw CliError("a property list cannot hold an empty value");
  if (depth > kMaxDepth) throw CliError("the property list is nested too deeply");
  const CFTypeID type = CFGetTypeID(value);

  if (type == CFDictionaryGetTypeID()) {
    const auto dictionary = static_cast<CFDictionaryRef>(value);
    const CFIndex count = CFDictionaryGetCount(dictionary);
    std::vector<const void*> keys(static_cast<std::size_t>(count));
    std::vector<const void*> values(static_cast<std::size_t>(count));
    if (count > 0) CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
    PlistNode node(plist_new_dict());
    for (CFIndex i = 0; i < count; ++i) {
      if (keys[i] == nullptr || CFGetTypeID(keys[i]) != CFStringGetTypeID()) {
        throw CliError("a property-list dictionary can only have string keys");
      }
      const std::string key = host::ToStdString(static_cast<CFStringRef>(keys[i]));
      plist_dict_set_item(node.get(), key.c_str(), ToPlistNode(values[i], depth + 1).release());
    }
    return node;
  }
  if (type == CFArrayGetTypeID()) {
    const auto array = static_cast<CFArrayRef>(value);
    PlistNode node(plist_new_array());
    for (CFIndex i = 0, n = CFArrayGetCount(array); i < n; ++i) {
      plist_array_append_item(node.get(), ToPlistNode(CFArrayGetValueAtIndex(array, i), depth + 1).release());
    }
    return node;
  }
  if (type == CFStringGetTypeID())
    return PlistNode(plist_new_string(host::ToStdString(static_cast<CFStringRef>(value)).c_str()));
  if (type == CFNumberGetTypeID()) {
    const auto number = static_cast<CFNumberRef>(value);
    if (CFNumberIsFloatType(number)) {
      Float64 real = 0.0;
      CFNumberGetValue(number, kCFNumberFloat64Type, &real);
      return PlistNode(plist_new_real(real));
    }
    SInt64 integer = 0;
    CFNumberGetValue(number, kCFNumberSInt64Type, &integer);
    // libplist keeps integers as 64 bits and writes them signed.
    return PlistNode(plist_new_uint(static_cast<std::uint64_t>(integer)));
  }
  if (type == CFBooleanGetTypeID()) {
    return PlistNode(plist_new_bool(CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? 1 : 0));
  }
  if (type == CFDataGetTypeID()) {
    const auto data = static_cast<CFDataRef>(value);
    return PlistNode(plist_new_data(reinterpret_cast<const char*>(CFDataGetBytePtr(data)),
                                    static_cast<std::uint64_t>(CFDataGetLength(data))));
  }
  throw CliError("a property list cannot hold {}",
                 CFGetTypeID(value) == CFURLGetTypeID() ? "a URL" : "a value of an unknown kind");
}

// Text that is not UTF-8 cannot become a string value: refuse it rather
// than store a null.
CFStringRef Utf8String(const char* text) {
  CFStringRef string = CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8);
  if (string == nullptr) throw CliError("the property list holds text that is not UTF-8");
  return string;
}

CFRef<CFPropertyListRef> FromPlistNode(plist_t node, int depth = 0) {
  if (node == nullptr) throw CliError("the property list is empty");
  if (depth > kMaxDepth) throw CliError("the property list is nested too deeply");
  switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
      CFRef<CFMutableDictionaryRef> dictionary(CFDictionaryCreateMutable(
          kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
      plist_dict_iter iterator = nullptr;
      plist_dict_new_iter(node, &iterator);
      const std::unique_ptr<void, CFree> ownedIterator(iterator);
      for (;;) {
        char* rawKey = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iterator, &rawKey, &item);
        const CString key(rawKey);
        if (item == nullptr) break;
        const CFRef<CFStringRef> cfKey(Utf8String(key ? key.get() : ""));
        const CFRef<CFPropertyListRef> cfValue = FromPlistNode(item, depth + 1);
        CFDictionarySetValue(dictionary.Get(), cfKey.Get(), cfValue.Get());
      }
      return CFRef<CFPropertyListRef>(dictionary.Release());
    }
    case PLIST_ARRAY: {
      CFRef<CFMutableArrayRef> array(CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks));
      for (uint32_t i = 0, n = plist_array_get_size(node); i < n; ++i) {
        const CFRef<CFPropertyListRef> item = FromPlistNode(plist_array_get_item(node, i), depth + 1);
        CFArrayAppendValue(array.Get(), item.Get());
      }
      return CFRef<CFPropertyListRef>(array.Release());
    }
    case PLIST_STRING: {
      // Read in place: libplist asserts when it copies a string holding a NUL.
      std::uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      if (text == nullptr) text = "";
      if (std::memchr(text, '\0', length) != nullptr)
        throw CliError("the property list holds text with a NUL character");
      return CFRef<CFPropertyListRef>(Utf8String(text));
    }
    case PLIST_UINT: {
      // Read back as written: 64 bits, signed.
      std::uint64_t bits = 0;
      plist_get_uint_val(node, &bits);
      const auto integer = static_cast<SInt64>(bits);
      if (integer >= std::numeric_limits<SInt32>::min() && integer <= std::numeric_limits<SInt32>::max()) {
        const auto narrow = static_cast<SInt32>(integer);
        return CFRef<CFPropertyListRef>(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &narrow));
      }
      return CFRef<CFPropertyListRef>(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &integer));
    }
    case PLIST_REAL: {
      double real = 0.0;
      plist_get_real_val(node, &real);
      return CFRef<CFPropertyListRef>(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &real));
    }
    case PLIST_BOOLEAN: {
      std::uint8_t flag = 0;
      plist_get_bool_val(node, &flag);
      return CFRef<CFPropertyListRef>(CFRetain(flag != 0 ? kCFBooleanTrue : kCFBooleanFalse));
    }
    case PLIST_DATA: {
      char* raw = nullptr;
      std::uint64_t length = 0;
      plist_get_data_val(node, &raw, &length);
      const CString bytes(raw);
      return CFRef<CFPropertyListRef>(CFDataCreate(
          kCFAllocatorDefault, reinterpret_cast<const UInt8*>(bytes.get()), static_cast<CFIndex>(length)));
    }
    case PLIST_DATE:
      throw CliError("the property list holds a date, which presets cannot carry");
    case PLIST_UID:
      throw CliError("the property list holds a keyed-archive reference (uid), which presets cannot carry");
    default:
      throw CliError("the property list holds a value of a kind presets cannot carry");
  }
}

}  // namespace

std::string ToXml(CFPropertyListRef value) {
  const PlistNode node = ToPlistNode(value);
  char* raw = nullptr;
  uint32_t length = 0;
  plist_to_xml(node.get(), &raw, &length);
  const CString xml(raw);
  if (!xml) throw CliError("the property list could not be written as XML");
  return std::string(xml.get(), length);
}

CFRef<CFPropertyListRef> FromXml(std::string_view xml) {
  if (xml.size() > std::numeric_limits<uint32_t>::max())
    throw CliError("not an XML property list (too large)");
  plist_t root = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
  const PlistNode owned(root);
  if (!owned) throw CliError("not an XML property list");
  return FromPlistNode(owned.get());
}

}  // namespace varsile::cli
