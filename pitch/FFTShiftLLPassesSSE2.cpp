// SSE2 passes, the baseline of every x86-64; CMake compiles this file with -O3 -ffp-contract=off.
#include <emmintrin.h>

#include <cstdint>

#include "FFTShiftLLPasses.h"

namespace varsile::pitch {
namespace {

constexpr int kLanes = 4;
using Floats = float __attribute__((vector_size(kLanes * sizeof(float))));
using Ints = std::int32_t __attribute__((vector_size(kLanes * sizeof(std::int32_t))));

inline Floats SqrtVec(Floats v) {
  return _mm_sqrt_ps(v);
}

inline std::uint64_t MaskBits(Ints mask) {
  return static_cast<std::uint64_t>(_mm_movemask_ps(reinterpret_cast<__m128>(mask)));
}

inline Floats ShiftInLast(Floats previous, Floats current) {
  return __builtin_shufflevector(previous, current, 3, 4, 5, 6);
}

#include "FFTShiftLLPassesBody.inc"

}  // namespace

constinit const Passes kPassesSSE2 = MakePasses("SSE2");

}  // namespace varsile::pitch
