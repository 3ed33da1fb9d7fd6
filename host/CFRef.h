// An owning reference to a property-list value: released once, when the
// owner goes. Values a host is handed by a "copy" or "create" call, or through
// a property, are owned this way.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <utility>

namespace varsile::host {

template <typename Ref>
class CFRef {
 public:
  CFRef() = default;
  // Takes over a reference the caller already owns.
  explicit CFRef(Ref value) noexcept : mValue(value) {}
  CFRef(const CFRef& other) noexcept : mValue(other.mValue) {
    if (mValue != nullptr) CFRetain(mValue);
  }
  CFRef(CFRef&& other) noexcept : mValue(std::exchange(other.mValue, nullptr)) {}
  CFRef& operator=(CFRef other) noexcept {
    std::swap(mValue, other.mValue);
    return *this;
  }
  ~CFRef() {
    if (mValue != nullptr) CFRelease(mValue);
  }

  Ref Get() const noexcept { return mValue; }
  explicit operator bool() const noexcept { return mValue != nullptr; }
  // Hands the reference to the caller, who releases it.
  Ref Release() noexcept { return std::exchange(mValue, nullptr); }

 private:
  Ref mValue = nullptr;
};

}  // namespace varsile::host
