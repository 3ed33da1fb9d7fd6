#include "AUScope.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "AUElementCast.h"
#include "AUIOElement.h"

AUScope::~AUScope() = default;

void AUScope::Initialize(AUElementCreator* creator, AudioUnitScope scope, UInt32 numElements) {
  mCreator = creator;
  mScope = scope;
  SetNumberOfElements(numElements);
}

AUElement* AUScope::SafeGetElement(UInt32 index) const {
  AUElement* element = GetElement(index);
  if (element == nullptr) throw static_cast<OSStatus>(kAudioUnitErr_InvalidElement);
  return element;
}

AUIOElement* AUScope::GetIOElement(UInt32 index) const {
  auto* io = AUElementCast<AUIOElement>(GetElement(index));
  if (io == nullptr) throw static_cast<OSStatus>(kAudioUnitErr_InvalidElement);
  return io;
}

void AUScope::SetNumberOfElements(UInt32 count) {
  if (count > mElements.size()) {
    mElements.reserve(count);
    for (UInt32 i = static_cast<UInt32>(mElements.size()); i < count; ++i) {
      mElements.emplace_back(mCreator->CreateElement(mScope, i));
    }
  } else {
    while (mElements.size() > count) mElements.pop_back();
  }
}

bool AUScope::HasElementWithName() const noexcept {
  for (const auto& element : mElements) {
    if (element && element->HasName()) return true;
  }
  return false;
}

namespace {

varsile::CFRef<CFStringRef> NewDecimalKey(UInt32 n) {
  char text[32];
  std::snprintf(text, sizeof(text), "%u", static_cast<unsigned>(n));
  return varsile::CFCreated(CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingASCII));
}

// Only the form the saver writes: ASCII digits without sign, blanks or
// leading zeros, at most 31 characters, below 2^32.
std::optional<UInt32> ParseElementKey(CFTypeRef key) {
  if (key == nullptr || CFGetTypeID(key) != CFStringGetTypeID()) return std::nullopt;
  char text[32];
  if (!CFStringGetCString(static_cast<CFStringRef>(key), text, sizeof(text), kCFStringEncodingASCII)) {
    return std::nullopt;
  }
  const std::size_t length = std::strlen(text);
  if (length == 0 || length > 10 || (length > 1 && text[0] == '0')) return std::nullopt;
  UInt64 value = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<UInt64>(text[i] - '0');
  }
  if (value > std::numeric_limits<UInt32>::max()) return std::nullopt;
  return static_cast<UInt32>(value);
}

}  // namespace

void AUScope::AddElementNamesToDict(CFMutableDictionaryRef nameDict) const {
  if (!HasElementWithName()) return;
  const auto names = varsile::CFCreated(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  for (UInt32 i = 0; i < GetNumberOfElements(); ++i) {
    const AUElement* element = mElements[i].get();
    if (element == nullptr || !element->HasName()) continue;
    CFDictionarySetValue(names.Get(), NewDecimalKey(i).Get(), element->GetName());
  }
  CFDictionarySetValue(nameDict, NewDecimalKey(mScope).Get(), names.Get());
}

bool AUScope::RestoreElementNames(CFDictionaryRef nameDict, bool mayGrow) {
  if (nameDict == nullptr || CFGetTypeID(nameDict) != CFDictionaryGetTypeID()) return false;
  const CFIndex count = CFDictionaryGetCount(nameDict);
  if (count <= 0) return false;
  std::vector<const void*> keys(static_cast<std::size_t>(count));
  std::vector<const void*> values(static_cast<std::size_t>(count));
  CFDictionaryGetKeysAndValues(nameDict, keys.data(), values.data());

  // Every entry is judged before anything changes. An index is acceptable
  // when the element exists or the scope may grow to hold it.
  const UInt32 limit =
      mayGrow ? std::max(GetNumberOfElements(), kMaxElementsFromNames) : GetNumberOfElements();
  std::vector<std::pair<UInt32, CFStringRef>> names;
  names.reserve(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const std::optional<UInt32> index = ParseElementKey(keys[i]);
    if (!index || *index >= limit) continue;
    if (values[i] == nullptr || CFGetTypeID(values[i]) != CFStringGetTypeID()) continue;
    names.emplace_back(*index, static_cast<CFStringRef>(values[i]));
  }
  if (names.empty()) return false;

  UInt32 top = 0;
  for (const auto& entry : names) top = std::max(top, entry.first);
  bool grew = false;
  if (GetNumberOfElements() <= top) {
    SetNumberOfElements(top + 1);  // only ever grows: top is below the present count otherwise
    grew = true;
  }
  for (const auto& [index, name] : names) {
    if (AUElement* element = GetElement(index)) element->SetName(name);
  }
  return grew;
}
