// Byte buffers. The storage always has an address, even when empty, so that
// callers may pass the byte pointer on to memcpy with a length of 0.
#include <new>
#include <vector>

#include "CFObject.h"

struct __CFData final : __CFObject {
  static constexpr CFTypeID kTypeID = varsile::cf::kDataTypeID;

  explicit __CFData(bool isMutable) : __CFObject(kTypeID), mMutable(isMutable) { mBytes.reserve(1); }

  bool Equal(const __CFObject& other) const noexcept override {
    return mBytes == static_cast<const __CFData&>(other).mBytes;
  }
  CFHashCode Hash() const noexcept override { return varsile::cf::HashBytes(mBytes.data(), mBytes.size()); }

  std::vector<UInt8> mBytes;
  const bool mMutable;
};

extern "C" {

CFTypeID CFDataGetTypeID(void) {
  return varsile::cf::kDataTypeID;
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) {
  if (length < 0 || (length > 0 && bytes == nullptr)) return nullptr;
  __CFData* data = nullptr;
  try {
    data = new __CFData(false);
    data->mBytes.assign(bytes, bytes + length);
  } catch (const std::bad_alloc&) {
    delete data;
    return nullptr;
  }
  return data;
}

CFMutableDataRef CFDataCreateMutable(CFAllocatorRef, CFIndex capacity) {
  // The capacity is a hint only; the buffer grows as bytes are appended.
  if (capacity < 0) return nullptr;
  try {
    return new __CFData(true);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void CFDataAppendBytes(CFMutableDataRef data, const UInt8* bytes, CFIndex length) {
  static constexpr const char* kFunction = "CFDataAppendBytes";
  __CFData* buffer = varsile::cf::AsMutable<__CFData>(data, kFunction);
  if (length < 0) varsile::cf::Fatal(kFunction, "negative length");
  if (length > 0 && bytes == nullptr) varsile::cf::Fatal(kFunction, "NULL bytes");
  buffer->mBytes.insert(buffer->mBytes.end(), bytes, bytes + length);
}

const UInt8* CFDataGetBytePtr(CFDataRef data) {
  const __CFData* buffer = varsile::cf::As<__CFData>(data, "CFDataGetBytePtr");
  return buffer != nullptr ? buffer->mBytes.data() : nullptr;
}

UInt8* CFDataGetMutableBytePtr(CFMutableDataRef data) {
  return varsile::cf::AsMutable<__CFData>(data, "CFDataGetMutableBytePtr")->mBytes.data();
}

CFIndex CFDataGetLength(CFDataRef data) {
  const __CFData* buffer = varsile::cf::As<__CFData>(data, "CFDataGetLength");
  return buffer != nullptr ? static_cast<CFIndex>(buffer->mBytes.size()) : 0;
}

}  // extern "C"
