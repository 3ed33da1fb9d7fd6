// Four floats at a time for the tracker's element-wise steps that the vector
// library has no operation for (the phase wrap, the pitch class of a note
// value). Built on the compiler's vector extensions, so the same code serves
// whatever instruction set the build targets. Comparisons give lane masks of
// all ones or all zeros; a NaN compares false.
#pragma once

#include <cstdint>
#include <cstring>

namespace FloatLanes {

constexpr long kWidth = 4;
using Floats = float __attribute__((vector_size(kWidth * sizeof(float))));
using Mask = std::int32_t __attribute__((vector_size(kWidth * sizeof(std::int32_t))));

inline Floats Load(const float* from) noexcept {
  Floats v;
  std::memcpy(&v, from, sizeof v);
  return v;
}

inline void Store(float* to, Floats v) noexcept {
  std::memcpy(to, &v, sizeof v);
}

// The first `count` (< kWidth) entries, the other lanes 0.
inline Floats LoadPartial(const float* from, long count) noexcept {
  Floats v = {};
  std::memcpy(&v, from, static_cast<std::size_t>(count) * sizeof(float));
  return v;
}

inline void StorePartial(float* to, Floats v, long count) noexcept {
  std::memcpy(to, &v, static_cast<std::size_t>(count) * sizeof(float));
}

inline Floats Splat(float x) noexcept {
  return Floats{} + x;
}

inline Floats Select(Mask mask, Floats ifSet, Floats ifClear) noexcept {
  return reinterpret_cast<Floats>((mask & reinterpret_cast<Mask>(ifSet)) |
                                  (~mask & reinterpret_cast<Mask>(ifClear)));
}

inline Floats Abs(Floats v) noexcept {
  return reinterpret_cast<Floats>(reinterpret_cast<Mask>(v) & 0x7fffffff);
}

// Every lane must lie within the int32 range: truncating anything else is undefined.
inline Mask TruncateToInt(Floats v) noexcept {
  return __builtin_convertvector(v, Mask);
}
inline Floats ToFloat(Mask v) noexcept {
  return __builtin_convertvector(v, Floats);
}

}  // namespace FloatLanes
