// AVX-512F passes; CMake compiles this file with -O3 -ffp-contract=off -mavx512f -mavx2 -mfma.
#include <immintrin.h>

#include <cstdint>

#include "FFTShiftLLPasses.h"

namespace varsile::pitch {
namespace {

constexpr int kLanes = 16;
using Floats = float __attribute__((vector_size(kLanes * sizeof(float))));
using Ints = std::int32_t __attribute__((vector_size(kLanes * sizeof(std::int32_t))));

// The zero-masking form: GCC 12 takes _mm512_sqrt_ps's undefined pass-through
// operand for an uninitialised read.
inline Floats SqrtVec(Floats v) {
  return _mm512_maskz_sqrt_ps(0xffff, v);
}

inline std::uint64_t MaskBits(Ints mask) {
  return _mm512_cmpneq_epi32_mask(reinterpret_cast<__m512i>(mask), _mm512_setzero_si512());
}

inline Floats ShiftInLast(Floats previous, Floats current) {
  return __builtin_shufflevector(previous, current, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28,
                                 29, 30);
}

#include "FFTShiftLLPassesBody.inc"

}  // namespace

constinit const Passes kPassesAVX512 = MakePasses("AVX-512F");

}  // namespace varsile::pitch
