// The two booleans: built at compile time, never counted, never destroyed,
// so they can be used from any static initialiser or destructor.
#include "CFObject.h"

struct __CFBoolean final : __CFObject {
  static constexpr CFTypeID kTypeID = varsile::cf::kBooleanTypeID;

  constexpr explicit __CFBoolean(Boolean value)
      : __CFObject(kTypeID, varsile::cf::Immortal{}), mValue(value) {}

  // There is one object per value, so identity is equality.
  bool Equal(const __CFObject& other) const noexcept override { return this == &other; }
  CFHashCode Hash() const noexcept override { return mValue; }

  const Boolean mValue;
};

namespace {

constinit varsile::cf::NoDestroy<__CFBoolean> sTrue{Boolean{1}};
constinit varsile::cf::NoDestroy<__CFBoolean> sFalse{Boolean{0}};

}  // namespace

extern "C" {

const CFBooleanRef kCFBooleanTrue = &sTrue.value;
const CFBooleanRef kCFBooleanFalse = &sFalse.value;

CFTypeID CFBooleanGetTypeID(void) {
  return varsile::cf::kBooleanTypeID;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
  const __CFBoolean* value = varsile::cf::As<__CFBoolean>(boolean, "CFBooleanGetValue");
  return value != nullptr && value->mValue != 0;
}

}  // extern "C"
