// Key-value maps. Keys are compared by content (CFHash, then CFEqual), and
// entries keep their insertion order so that enumeration, and with it every
// saved state built from a dictionary, comes out the same on each run.
#include <new>
#include <vector>

#include "CFObject.h"

struct __CFDictionary final : __CFObject {
  static constexpr CFTypeID kTypeID = varsile::cf::kDictionaryTypeID;

  struct Entry {
    CFHashCode hash;
    const void* key;
    const void* value;
  };

  __CFDictionary(const CFDictionaryKeyCallBacks* keyCallBacks,
                 const CFDictionaryValueCallBacks* valueCallBacks)
      : __CFObject(kTypeID),
        mCopiesKeys(keyCallBacks != nullptr && keyCallBacks->retain == &varsile::cf::kCopyStringCallBack),
        mRetainsKeys(keyCallBacks != nullptr && keyCallBacks->retain != nullptr),
        mReleasesKeys(keyCallBacks != nullptr && keyCallBacks->release != nullptr),
        mRetainsValues(valueCallBacks != nullptr && valueCallBacks->retain != nullptr),
        mReleasesValues(valueCallBacks != nullptr && valueCallBacks->release != nullptr) {}

  ~__CFDictionary() override {
    for (const Entry& entry : mEntries) {
      if (mReleasesKeys) CFRelease(entry.key);
      if (mReleasesValues) CFRelease(entry.value);
    }
  }

  bool Equal(const __CFObject& other) const noexcept override {
    const auto& that = static_cast<const __CFDictionary&>(other);
    if (mEntries.size() != that.mEntries.size()) return false;
    for (const Entry& entry : mEntries) {
      const Entry* match = that.Find(entry.key);
      if (match == nullptr || !CFEqual(entry.value, match->value)) return false;
    }
    return true;
  }
  CFHashCode Hash() const noexcept override { return mEntries.size(); }

  const Entry* Find(const void* key) const noexcept {
    if (key == nullptr) return nullptr;
    const CFHashCode hash = CFHash(key);
    for (const Entry& entry : mEntries) {
      if (entry.hash == hash && CFEqual(entry.key, key)) return &entry;
    }
    return nullptr;
  }

  std::vector<Entry> mEntries;
  const bool mCopiesKeys;
  const bool mRetainsKeys;
  const bool mReleasesKeys;
  const bool mRetainsValues;
  const bool mReleasesValues;
  static constexpr bool mMutable = true;  // every dictionary here is made mutable
};

namespace {

const __CFDictionary* AsDictionary(CFDictionaryRef dict, const char* function) noexcept {
  return varsile::cf::As<__CFDictionary>(dict, function);
}

}  // namespace

extern "C" {

const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0,
                                                                &varsile::cf::kRetainCallBack,
                                                                &varsile::cf::kReleaseCallBack,
                                                                &varsile::cf::kDescriptionCallBack,
                                                                &varsile::cf::kEqualCallBack,
                                                                &varsile::cf::kHashCallBack};
const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks = {0,
                                                                      &varsile::cf::kCopyStringCallBack,
                                                                      &varsile::cf::kReleaseCallBack,
                                                                      &varsile::cf::kDescriptionCallBack,
                                                                      &varsile::cf::kEqualCallBack,
                                                                      &varsile::cf::kHashCallBack};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {
    0, &varsile::cf::kRetainCallBack, &varsile::cf::kReleaseCallBack, &varsile::cf::kDescriptionCallBack,
    &varsile::cf::kEqualCallBack};

CFTypeID CFDictionaryGetTypeID(void) {
  return varsile::cf::kDictionaryTypeID;
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks) {
  if (capacity < 0) return nullptr;
  try {
    return new __CFDictionary(keyCallBacks, valueCallBacks);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value) {
  static constexpr const char* kFunction = "CFDictionarySetValue";
  __CFDictionary* map = varsile::cf::AsMutable<__CFDictionary>(dict, kFunction);
  // Keys must be values: they are hashed and compared by content.
  if (key == nullptr) varsile::cf::Fatal(kFunction, "NULL key");
  if (value == nullptr && map->mRetainsValues)
    varsile::cf::Fatal(kFunction, "NULL value in a dictionary that retains");
  if (auto* entry = const_cast<__CFDictionary::Entry*>(map->Find(key))) {
    // Retain first: the new value may be the old one, held only by us.
    if (map->mRetainsValues) CFRetain(value);
    const void* old = entry->value;
    entry->value = value;
    if (map->mReleasesValues) CFRelease(old);
    return;
  }
  map->mEntries.reserve(map->mEntries.size() + 1);  // the only step that can throw, before any retain
  const void* storedKey = key;
  if (map->mCopiesKeys && CFGetTypeID(key) == varsile::cf::kStringTypeID) {
    // A mutable key changed later by its owner must not move under us.
    storedKey = CFStringCreateCopy(kCFAllocatorDefault, static_cast<CFStringRef>(key));
    if (storedKey == nullptr) throw std::bad_alloc();
  } else if (map->mRetainsKeys) {
    CFRetain(key);
  }
  if (map->mRetainsValues) CFRetain(value);
  map->mEntries.push_back({CFHash(storedKey), storedKey, value});
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef dict, const void* key) {
  __CFDictionary* map = varsile::cf::AsMutable<__CFDictionary>(dict, "CFDictionaryRemoveValue");
  const __CFDictionary::Entry* entry = map->Find(key);
  if (entry == nullptr) return;
  const __CFDictionary::Entry removed = *entry;
  map->mEntries.erase(map->mEntries.begin() + (entry - map->mEntries.data()));
  // Released after the entry is gone: a release can run arbitrary
  // destruction, which must not see a half-removed entry.
  if (map->mReleasesKeys) CFRelease(removed.key);
  if (map->mReleasesValues) CFRelease(removed.value);
}

const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key) {
  const __CFDictionary* map = AsDictionary(dict, "CFDictionaryGetValue");
  if (map == nullptr) return nullptr;
  const __CFDictionary::Entry* entry = map->Find(key);
  return entry != nullptr ? entry->value : nullptr;
}

Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef dict, const void* key, const void** value) {
  const __CFDictionary* map = AsDictionary(dict, "CFDictionaryGetValueIfPresent");
  if (map == nullptr) return false;
  const __CFDictionary::Entry* entry = map->Find(key);
  if (entry == nullptr) return false;
  if (value != nullptr) *value = entry->value;
  return true;
}

Boolean CFDictionaryContainsKey(CFDictionaryRef dict, const void* key) {
  const __CFDictionary* map = AsDictionary(dict, "CFDictionaryContainsKey");
  return map != nullptr && map->Find(key) != nullptr;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef dict) {
  const __CFDictionary* map = AsDictionary(dict, "CFDictionaryGetCount");
  return map != nullptr ? static_cast<CFIndex>(map->mEntries.size()) : 0;
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef dict, const void** keys, const void** values) {
  const __CFDictionary* map = AsDictionary(dict, "CFDictionaryGetKeysAndValues");
  if (map == nullptr) return;
  for (std::size_t i = 0; i < map->mEntries.size(); ++i) {
    if (keys != nullptr) keys[i] = map->mEntries[i].key;
    if (values != nullptr) values[i] = map->mEntries[i].value;
  }
}

}  // extern "C"
