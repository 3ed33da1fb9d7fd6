// AVX2 kernels; CMake compiles this file with -mavx2 -mfma.
#include <sleef.h>

#include "VectorKernels.h"

namespace varsile::accelerate {
namespace {

constexpr long kLanes = 8;
using Vec = __m256;

inline Vec LoadVec(const float* p) {
  return _mm256_loadu_ps(p);
}
inline void StoreVec(float* p, Vec v) {
  _mm256_storeu_ps(p, v);
}
inline Vec Atan2Vec(Vec y, Vec x) {
  return Sleef_atan2f8_u10avx2(y, x);
}
inline Vec LogVec(Vec x) {
  return Sleef_logf8_u10avx2(x);
}

#include "VectorKernelsBody.inc"

}  // namespace

constinit const VectorKernels kVectorKernelsAVX2 = MakeKernels(VectorISA::AVX2, "AVX2");

}  // namespace varsile::accelerate
