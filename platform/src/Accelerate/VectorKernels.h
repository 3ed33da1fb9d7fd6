// The stride-1 loops behind the vector library, compiled once per instruction
// set and chosen at run time: the default build runs on any x86-64 and still
// uses AVX2 or AVX-512 where the processor has them.
#pragma once

// Exported even if the library hides its symbols: the tests and benchmarks
// check every variant, not only the one this processor picks.
#define VARSILE_ACCELERATE_VISIBLE __attribute__((visibility("default")))

namespace varsile::accelerate {

enum class VectorISA { SSE2, SSE4, AVX2, AVX512F };

// One table per instruction set. Every kernel allocates nothing and takes no
// lock. Arithmetic is bitwise identical across the tables (no contraction into
// fused multiply-adds); the SLEEF kernels agree to within their stated 1 ULP.
struct VectorKernels {
  VectorISA isa;
  const char* name;

  // Arithmetic; c may equal a or b.
  void (*mul)(const float* a, const float* b, float* c, long n);
  void (*add)(const float* a, const float* b, float* c, long n);
  void (*sub)(const float* a, const float* b, float* c, long n);  // c = a - b
  void (*scalarMul)(const float* a, float s, float* c, long n);
  void (*scalarDiv)(const float* a, float s, float* c, long n);
  void (*scalarAdd)(const float* a, float s, float* c, long n);
  void (*dist)(const float* a, const float* b, float* c, long n);
  void (*ramp)(float start, float step, float* c, long n);  // n < 2^31

  // z may equal y or x; y may equal x.
  void (*atan2)(float* z, const float* y, const float* x, long n);
  void (*log)(float* y, const float* x, long n);

  // FFT support, see FFTSetup.cpp for the layouts.
  bool (*anyNonZero)(const float* x, long n);  // -0 counts as zero, NaN does not
  void (*deinterleave)(const float* z, float* re, float* im, long m);
  void (*realSpectrum)(float* re, float* im, const float* cosine, const float* sine, long m, bool inverse);
  void (*complexSpectrum)(float* re, float* im, const float* cosine, const float* sine, long m, bool inverse);
};

extern VARSILE_ACCELERATE_VISIBLE const VectorKernels kVectorKernelsSSE2;
extern VARSILE_ACCELERATE_VISIBLE const VectorKernels kVectorKernelsSSE4;
extern VARSILE_ACCELERATE_VISIBLE const VectorKernels kVectorKernelsAVX2;
extern VARSILE_ACCELERATE_VISIBLE const VectorKernels kVectorKernelsAVX512F;

// Whether this processor (and its operating system) can run the table.
VARSILE_ACCELERATE_VISIBLE bool VectorISASupported(VectorISA isa) noexcept;

// The best table for this processor, chosen once; lock-free.
VARSILE_ACCELERATE_VISIBLE const VectorKernels& ActiveVectorKernels() noexcept;

}  // namespace varsile::accelerate
