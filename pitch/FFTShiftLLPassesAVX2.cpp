// AVX2 passes; CMake compiles this file with -O3 -ffp-contract=off -mavx2 -mfma.
#include <immintrin.h>

#include <cstdint>

#include "FFTShiftLLPasses.h"

namespace varsile::pitch {
namespace {

constexpr int kLanes = 8;
using Floats = float __attribute__((vector_size(kLanes * sizeof(float))));
using Ints = std::int32_t __attribute__((vector_size(kLanes * sizeof(std::int32_t))));

inline Floats SqrtVec(Floats v) {
  return _mm256_sqrt_ps(v);
}

inline std::uint64_t MaskBits(Ints mask) {
  return static_cast<std::uint64_t>(_mm256_movemask_ps(reinterpret_cast<__m256>(mask)));
}

inline Floats ShiftInLast(Floats previous, Floats current) {
  return __builtin_shufflevector(previous, current, 7, 8, 9, 10, 11, 12, 13, 14);
}

#include "FFTShiftLLPassesBody.inc"

}  // namespace

constinit const Passes kPassesAVX2 = MakePasses("AVX2");

}  // namespace varsile::pitch
