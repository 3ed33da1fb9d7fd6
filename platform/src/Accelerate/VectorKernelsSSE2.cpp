// SSE2 kernels; CMake compiles this file with no extra instruction-set flags (the x86-64 baseline).
#include <sleef.h>

#include "VectorKernels.h"

namespace varsile::accelerate {
namespace {

constexpr long kLanes = 4;
using Vec = __m128;

inline Vec LoadVec(const float* p) {
  return _mm_loadu_ps(p);
}
inline void StoreVec(float* p, Vec v) {
  _mm_storeu_ps(p, v);
}
inline Vec Atan2Vec(Vec y, Vec x) {
  return Sleef_atan2f4_u10sse2(y, x);
}
inline Vec LogVec(Vec x) {
  return Sleef_logf4_u10sse2(x);
}

#include "VectorKernelsBody.inc"

}  // namespace

constinit const VectorKernels kVectorKernelsSSE2 = MakeKernels(VectorISA::SSE2, "SSE2");

}  // namespace varsile::accelerate
