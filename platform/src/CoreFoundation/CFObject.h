// The header every property-list value starts with, and the helpers the
// kinds share. Private to the CoreFoundation stand-in.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <atomic>
#include <cstdint>
#include <string_view>

namespace varsile::cf {

enum : CFTypeID {
  kNotATypeID = 0,
  kStringTypeID = 1,
  kArrayTypeID = 2,
  kDictionaryTypeID = 3,
  kNumberTypeID = 4,
  kBooleanTypeID = 5,
  kDataTypeID = 6,
  kURLTypeID = 7,
};

// Constructor tag for values that live for the whole process.
struct Immortal {};

// Prints "CoreFoundation: <message>" to stderr and aborts. Misuse that would
// otherwise corrupt memory (over-release, mutating an immutable value) ends
// here, loudly, instead of going on silently.
[[noreturn]] void Fatal(const char* function, const char* message) noexcept;

// Counts mortal values alive, for CFLiveObjectCount.
void CountCreated() noexcept;
void CountDestroyed() noexcept;

// Markers that the kCFType... callback records point at. Only whether a
// callback field is set matters, and for keys whether it asks for a copy.
extern const char kRetainCallBack;
extern const char kReleaseCallBack;
extern const char kCopyStringCallBack;
extern const char kEqualCallBack;
extern const char kHashCallBack;
extern const char kDescriptionCallBack;

// 64-bit FNV-1a.
inline CFHashCode HashBytes(const void* bytes, std::size_t length) noexcept {
  std::uint64_t hash = 0xcbf29ce484222325u;
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0; i < length; ++i) {
    hash ^= p[i];
    hash *= 0x100000001b3u;
  }
  return static_cast<CFHashCode>(hash);
}

// Keeps a statically constructed value out of the exit-time destructor run,
// so that code running during static destruction can still use it.
template <class T>
union NoDestroy {
  T value;
  template <class... Args>
  constexpr explicit NoDestroy(Args... args) : value(args...) {}
  ~NoDestroy() {}
};

}  // namespace varsile::cf

struct __CFObject {
  // A mortal value, counted live, with one reference held by its creator.
  explicit __CFObject(CFTypeID typeID) noexcept;
  // A value that ignores retain and release and is never destroyed.
  constexpr __CFObject(CFTypeID typeID, varsile::cf::Immortal) noexcept : mTypeID(typeID), mImmortal(true) {}
  __CFObject(const __CFObject&) = delete;
  __CFObject& operator=(const __CFObject&) = delete;
  virtual ~__CFObject();

  // Called only with another value of the same type id.
  virtual bool Equal(const __CFObject& other) const noexcept = 0;
  virtual CFHashCode Hash() const noexcept = 0;

  static constexpr std::uint32_t kLiveMagic = 0x43464f42;  // "CFOB"
  static constexpr std::uint32_t kDeadMagic = 0x44454144;  // "DEAD"

  std::atomic<CFIndex> mRetainCount{1};
  // Placed after the count: the heap's free list overwrites the first words
  // of a freed block, and the dead mark must survive that to be seen.
  std::uint32_t mMagic = kLiveMagic;
  CFTypeID mTypeID;
  bool mImmortal = false;
};

namespace varsile::cf {

// The object behind a reference, after checking that it is a live value.
// Aborts on a value that was already destroyed or that never was one.
const __CFObject* Object(CFTypeRef cf, const char* function) noexcept;

// The value as kind T if it is one, else null (null in, null out).
template <class T>
const T* As(CFTypeRef ref, const char* function) noexcept {
  if (ref == nullptr) return nullptr;
  const __CFObject* object = Object(ref, function);
  return object->mTypeID == T::kTypeID ? static_cast<const T*>(object) : nullptr;
}

// The value as a mutable T; anything else is a programming error.
template <class T>
T* AsMutable(CFTypeRef ref, const char* function) noexcept {
  if (ref == nullptr) Fatal(function, "called with NULL");
  const __CFObject* object = Object(ref, function);
  if (object->mTypeID != T::kTypeID) Fatal(function, "called with a value of another kind");
  auto* typed = static_cast<T*>(const_cast<__CFObject*>(object));
  if (!typed->mMutable) Fatal(function, "called with an immutable value");
  return typed;
}

}  // namespace varsile::cf
