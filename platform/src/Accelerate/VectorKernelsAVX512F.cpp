// AVX-512F kernels; CMake compiles this file with -mavx512f -mavx2 -mfma.
#include <sleef.h>

#include "VectorKernels.h"

namespace varsile::accelerate {
namespace {

constexpr long kLanes = 16;
using Vec = __m512;

inline Vec LoadVec(const float* p) {
  return _mm512_loadu_ps(p);
}
inline void StoreVec(float* p, Vec v) {
  _mm512_storeu_ps(p, v);
}
inline Vec Atan2Vec(Vec y, Vec x) {
  return Sleef_atan2f16_u10avx512f(y, x);
}
inline Vec LogVec(Vec x) {
  return Sleef_logf16_u10avx512f(x);
}

#include "VectorKernelsBody.inc"

}  // namespace

constinit const VectorKernels kVectorKernelsAVX512F = MakeKernels(VectorISA::AVX512F, "AVX-512F");

}  // namespace varsile::accelerate
