// Element-wise vDSP operations. Stride 1 everywhere goes to the dispatched
// vector kernels; any other stride (negative ones included, counted from the
// given pointer as the platform does) takes a plain indexed loop.
#include <Accelerate/Accelerate.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "VectorKernels.h"

namespace {

using varsile::accelerate::ActiveVectorKernels;

bool Unit(vDSP_Stride s) {
  return s == 1;
}
bool Unit(vDSP_Stride s, vDSP_Stride t) {
  return s == 1 && t == 1;
}
bool Unit(vDSP_Stride s, vDSP_Stride t, vDSP_Stride u) {
  return s == 1 && t == 1 && u == 1;
}

// Lengths beyond LONG_MAX cannot describe real arrays; they are clamped so
// that the index arithmetic below stays defined.
long Count(vDSP_Length n) {
  return n > static_cast<vDSP_Length>(LONG_MAX) ? LONG_MAX : static_cast<long>(n);
}

template <typename Op>
void Binary(const float* a, vDSP_Stride ia, const float* b, vDSP_Stride ib, float* c, vDSP_Stride ic, long n,
            Op op) {
  for (long i = 0; i < n; ++i) c[i * ic] = op(a[i * ia], b[i * ib]);
}

template <typename Op>
void WithScalar(const float* a, vDSP_Stride ia, float s, float* c, vDSP_Stride ic, long n, Op op) {
  for (long i = 0; i < n; ++i) c[i * ic] = op(a[i * ia], s);
}

}  // namespace

extern "C" {

void vDSP_vclr(float* c, vDSP_Stride ic, vDSP_Length n) {
  const long count = Count(n);
  if (count == 0) return;
  if (Unit(ic)) {
    std::memset(c, 0, static_cast<size_t>(count) * sizeof(float));
    return;
  }
  for (long i = 0; i < count; ++i) c[i * ic] = 0.0f;
}

void vDSP_vmul(const float* a, vDSP_Stride ia, const float* b, vDSP_Stride ib, float* c, vDSP_Stride ic,
               vDSP_Length n) {
  const long count = Count(n);
  if (Unit(ia, ib, ic)) return ActiveVectorKernels().mul(a, b, c, count);
  Binary(a, ia, b, ib, c, ic, count, [](float x, float y) { return x * y; });
}

void vDSP_vadd(const float* a, vDSP_Stride ia, const float* b, vDSP_Stride ib, float* c, vDSP_Stride ic,
               vDSP_Length n) {
  const long count = Count(n);
  if (Unit(ia, ib, ic)) return ActiveVectorKernels().add(a, b, c, count);
  Binary(a, ia, b, ib, c, ic, count, [](float x, float y) { return x + y; });
}

// The subtrahend comes first.
void vDSP_vsub(const float* b, vDSP_Stride ib, const float* a, vDSP_Stride ia, float* c, vDSP_Stride ic,
               vDSP_Length n) {
  const long count = Count(n);
  if (Unit(ia, ib, ic)) return ActiveVectorKernels().sub(a, b, c, count);
  Binary(a, ia, b, ib, c, ic, count, [](float x, float y) { return x - y; });
}

void vDSP_vsmul(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic, vDSP_Length n) {
  const long count = Count(n);
  if (count == 0) return;
  if (Unit(ia, ic)) return ActiveVectorKernels().scalarMul(a, *b, c, count);
  WithScalar(a, ia, *b, c, ic, count, [](float x, float s) { return x * s; });
}

void vDSP_vsdiv(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic, vDSP_Length n) {
  const long count = Count(n);
  if (count == 0) return;
  if (Unit(ia, ic)) return ActiveVectorKernels().scalarDiv(a, *b, c, count);
  WithScalar(a, ia, *b, c, ic, count, [](float x, float s) { return x / s; });
}

void vDSP_vsadd(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic, vDSP_Length n) {
  const long count = Count(n);
  if (count == 0) return;
  if (Unit(ia, ic)) return ActiveVectorKernels().scalarAdd(a, *b, c, count);
  WithScalar(a, ia, *b, c, ic, count, [](float x, float s) { return x + s; });
}

void vDSP_vdist(const float* a, vDSP_Stride ia, const float* b, vDSP_Stride ib, float* c, vDSP_Stride ic,
                vDSP_Length n) {
  const long count = Count(n);
  if (Unit(ia, ib, ic)) return ActiveVectorKernels().dist(a, b, c, count);
  Binary(a, ia, b, ib, c, ic, count, [](float x, float y) { return __builtin_sqrtf(x * x + y * y); });
}

// a + k * b for each k, never an accumulated sum, so that a ramp from 0 holds
// exactly the rounded products k * b.
void vDSP_vramp(const float* a, const float* b, float* c, vDSP_Stride ic, vDSP_Length n) {
  const long count = Count(n);
  if (count == 0) return;
  const float start = *a;
  const float step = *b;
  if (Unit(ic) && count <= INT_MAX) return ActiveVectorKernels().ramp(start, step, c, count);
  for (long k = 0; k < count; ++k) c[k * ic] = start + static_cast<float>(k) * step;
}

// Rows are moved with memmove, in the order that never overwrites a source
// row before it is read when a and c lie in one array with equal row lengths;
// a single row (or rows that are contiguous) thus moves like memmove.
void vDSP_mmov(const float* a, float* c, vDSP_Length m, vDSP_Length n, vDSP_Length ta, vDSP_Length tc) {
  const long columns = Count(m);
  const long rows = Count(n);
  if (columns == 0 || rows == 0) return;
  const size_t bytes = static_cast<size_t>(columns) * sizeof(float);
  if (columns == static_cast<long>(ta) && columns == static_cast<long>(tc)) {
    std::memmove(c, a, bytes * static_cast<size_t>(rows));
    return;
  }
  const long sourceRow = Count(ta);
  const long destRow = Count(tc);
  if (reinterpret_cast<std::uintptr_t>(c) <= reinterpret_cast<std::uintptr_t>(a)) {
    for (long r = 0; r < rows; ++r) std::memmove(c + r * destRow, a + r * sourceRow, bytes);
  } else {
    for (long r = rows - 1; r >= 0; --r) std::memmove(c + r * destRow, a + r * sourceRow, bytes);
  }
}

}  // extern "C"
