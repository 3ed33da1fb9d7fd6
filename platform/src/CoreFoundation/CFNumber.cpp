// Numbers keep integers as SInt64 and floating-point values as double, with
// the type they were made with. Reading converts to the asked type with
// defined results for every input: out-of-range values saturate, NaN read as
// an integer is 0, and the result says whether the conversion was exact.
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "CFObject.h"

// An int is an SInt32 here, so the two integer types share their cases.
static_assert(std::is_same_v<int, SInt32>);

namespace {

bool IsIntegerType(CFNumberType type) noexcept {
  return type == kCFNumberSInt32Type || type == kCFNumberSInt64Type || type == kCFNumberIntType;
}

bool IsFloatingType(CFNumberType type) noexcept {
  return type == kCFNumberFloat32Type || type == kCFNumberFloat64Type || type == kCFNumberFloatType ||
         type == kCFNumberDoubleType;
}

// 2^63: the first double above every SInt64. Every double below it and at or
// above -2^63 converts to SInt64 without overflow.
constexpr double kTwoTo63 = 9223372036854775808.0;

// The double as an integer of the range [lowest, highest], truncated toward
// zero, saturated outside the range, 0 for NaN.
template <class Int>
Int DoubleToInteger(double value, bool& exact) noexcept {
  constexpr Int lowest = std::numeric_limits<Int>::lowest();
  constexpr Int highest = std::numeric_limits<Int>::max();
  if (std::isnan(value)) {
    exact = false;
    return 0;
  }
  // For SInt32 both bounds are exact doubles; for SInt64 the upper bound is
  // handled through 2^63, which is exact where 2^63 - 1 is not.
  if (value < static_cast<double>(lowest)) {
    exact = false;
    return lowest;
  }
  if (sizeof(Int) == 8 ? value >= kTwoTo63 : value > static_cast<double>(highest)) {
    exact = false;
    return highest;
  }
  const double truncated = std::trunc(value);
  exact = truncated == value;
  return static_cast<Int>(truncated);
}

template <class Int>
Int IntegerToInteger(SInt64 value, bool& exact) noexcept {
  constexpr Int lowest = std::numeric_limits<Int>::lowest();
  constexpr Int highest = std::numeric_limits<Int>::max();
  exact = value >= lowest && value <= highest;
  if (value < lowest) return lowest;
  if (value > highest) return highest;
  return static_cast<Int>(value);
}

// Whether an integer survives the trip through a floating-point type. The
// check for 2^63 comes first because converting it back would overflow.
template <class Float>
bool IntegerIsExactAs(SInt64 value, Float converted) noexcept {
  if (static_cast<double>(converted) >= kTwoTo63) return false;
  return static_cast<SInt64>(converted) == value;
}

float DoubleToFloat(double value, bool& exact) noexcept {
  if (std::isnan(value)) {
    exact = true;
    return std::numeric_limits<float>::quiet_NaN();
  }
  // A finite double beyond the float range has no float value; saturate
  // rather than leave the conversion to chance.
  constexpr double largest = std::numeric_limits<float>::max();
  if (std::isfinite(value) && std::fabs(value) > largest) {
    exact = false;
    return value > 0 ? std::numeric_limits<float>::max() : std::numeric_limits<float>::lowest();
  }
  const auto converted = static_cast<float>(value);
  exact = static_cast<double>(converted) == value;
  return converted;
}

template <class T>
void Store(void* destination, T value) noexcept {
  std::memcpy(destination, &value, sizeof value);
}

template <class T>
T Load(const void* source) noexcept {
  T value;
  std::memcpy(&value, source, sizeof value);
  return value;
}

}  // namespace

struct __CFNumber final : __CFObject {
  static constexpr CFTypeID kTypeID = varsile::cf::kNumberTypeID;

  __CFNumber(CFNumberType type, SInt64 integer, double floating)
      : __CFObject(kTypeID), mType(type), mInteger(integer), mFloating(floating) {}

  bool IsFloat() const noexcept { return IsFloatingType(mType); }

  bool Equal(const __CFObject& other) const noexcept override {
    const auto& that = static_cast<const __CFNumber&>(other);
    if (IsFloat() && that.IsFloat()) {
      // NaN equals NaN here, so that a number is always equal to itself and
      // can serve as a key.
      return mFloating == that.mFloating || (std::isnan(mFloating) && std::isnan(that.mFloating));
    }
    if (!IsFloat() && !that.IsFloat()) return mInteger == that.mInteger;
    const __CFNumber& floating = IsFloat() ? *this : that;
    const __CFNumber& integer = IsFloat() ? that : *this;
    bool exact = false;
    const SInt64 asInteger = DoubleToInteger<SInt64>(floating.mFloating, exact);
    return exact && asInteger == integer.mInteger;
  }

  CFHashCode Hash() const noexcept override {
    // Equal numbers hash alike: a float with an integer value hashes as that
    // integer (so 3 and 3.0, 0.0 and -0.0 agree).
    SInt64 integer = mInteger;
    if (IsFloat()) {
      bool exact = false;
      integer = DoubleToInteger<SInt64>(mFloating, exact);
      if (!exact) {
        const double canonical = std::isnan(mFloating) ? std::numeric_limits<double>::quiet_NaN() : mFloating;
        return varsile::cf::HashBytes(&canonical, sizeof canonical);
      }
    }
    return varsile::cf::HashBytes(&integer, sizeof integer);
  }

  const CFNumberType mType;
  const SInt64 mInteger;   // valid when made with an integer type
  const double mFloating;  // valid when made with a floating-point type
};

extern "C" {

CFTypeID CFNumberGetTypeID(void) {
  return varsile::cf::kNumberTypeID;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* valuePtr) {
  if (valuePtr == nullptr) return nullptr;
  SInt64 integer = 0;
  double floating = 0;
  switch (type) {
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
      integer = Load<SInt32>(valuePtr);
      break;
    case kCFNumberSInt64Type:
      integer = Load<SInt64>(valuePtr);
      break;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
      floating = Load<float>(valuePtr);
      break;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
      floating = Load<double>(valuePtr);
      break;
    default:
      return nullptr;
  }
  try {
    return new __CFNumber(type, integer, floating);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* valuePtr) {
  const __CFNumber* value = varsile::cf::As<__CFNumber>(number, "CFNumberGetValue");
  if (value == nullptr || valuePtr == nullptr) return false;
  if (!IsIntegerType(type) && !IsFloatingType(type)) return false;
  const bool isFloat = value->IsFloat();
  const SInt64 integer = value->mInteger;
  const double floating = value->mFloating;
  bool exact = false;
  switch (type) {
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
      Store(valuePtr,
            isFloat ? DoubleToInteger<SInt32>(floating, exact) : IntegerToInteger<SInt32>(integer, exact));
      break;
    case kCFNumberSInt64Type:
      Store(valuePtr, isFloat ? DoubleToInteger<SInt64>(floating, exact) : integer);
      if (!isFloat) exact = true;
      break;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType: {
      float result;
      if (isFloat) {
        result = DoubleToFloat(floating, exact);
      } else {
        result = static_cast<float>(integer);
        exact = IntegerIsExactAs(integer, result);
      }
      Store(valuePtr, result);
      break;
    }
    default: {  // Float64, Double
      double result = floating;
      exact = true;
      if (!isFloat) {
        result = static_cast<double>(integer);
        exact = IntegerIsExactAs(integer, result);
      }
      Store(valuePtr, result);
      break;
    }
  }
  return exact;
}

CFNumberType CFNumberGetType(CFNumberRef number) {
  const __CFNumber* value = varsile::cf::As<__CFNumber>(number, "CFNumberGetType");
  return value != nullptr ? value->mType : kCFNumberSInt32Type;
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
  const __CFNumber* value = varsile::cf::As<__CFNumber>(number, "CFNumberIsFloatType");
  return value != nullptr && value->IsFloat();
}

}  // extern "C"
