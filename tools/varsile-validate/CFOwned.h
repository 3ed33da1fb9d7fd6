// A property-list value the validator owns: released once, when the owner
// goes. Everything a property hands over as a new reference is held this way,
// so that the leak checks measure the component, not the validator.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <utility>

namespace varsile::validate {

template <typename Ref>
class CFOwned {
 public:
  CFOwned() = default;
  explicit CFOwned(Ref value) noexcept : mValue(value) {}
  CFOwned(const CFOwned&) = delete;
  CFOwned& operator=(const CFOwned&) = delete;
  CFOwned(CFOwned&& other) noexcept : mValue(std::exchange(other.mValue, nullptr)) {}
  CFOwned& operator=(CFOwned&& other) noexcept {
    Reset(std::exchange(other.mValue, nullptr));
    return *this;
  }
  ~CFOwned() { Reset(); }

  Ref Get() const noexcept { return mValue; }
  explicit operator bool() const noexcept { return mValue != nullptr; }
  void Reset(Ref value = nullptr) noexcept {
    if (mValue != nullptr) CFRelease(mValue);
    mValue = value;
  }
  // Where a property writes the new reference it hands over.
  Ref* Receive() noexcept {
    Reset();
    return &mValue;
  }

 private:
  Ref mValue = nullptr;
};

// Type tests that are false for null.
bool IsString(CFTypeRef value);
bool IsDictionary(CFTypeRef value);
bool IsArray(CFTypeRef value);
bool IsData(CFTypeRef value);
bool IsNumber(CFTypeRef value);
// The UTF-8 text of a string; "" for anything that is not a string.
std::string StringText(CFStringRef value);

}  // namespace varsile::validate
