// The vector library: the vDSP and vForce operations the pitch tracker uses,
// single precision. Arrays need no particular alignment.
#pragma once

#include <MacTypes.h>

using vDSP_Length = unsigned long;
using vDSP_Stride = long;

struct DSPSplitComplex {
  float* realp;
  float* imagp;
};

using FFTSetup = struct OpaqueFFTSetup*;
using FFTRadix = int;
using FFTDirection = int;

enum : FFTRadix { kFFTRadix2 = 0 };
enum : FFTDirection {
  kFFTDirection_Forward = +1,
  kFFTDirection_Inverse = -1,
  FFT_FORWARD = kFFTDirection_Forward,
  FFT_INVERSE = kFFTDirection_Inverse,
};

enum : int {
  vDSP_HANN_DENORM = 0,
  vDSP_HANN_NORM = 2,
};

extern "C" {

// Set-ups serve every transform size up to 2^log2n. Null when log2n is out of
// range or memory runs out.
FFTSetup vDSP_create_fftsetup(vDSP_Length log2n, FFTRadix radix);
void vDSP_destroy_fftsetup(FFTSetup setup);

// In place, unscaled, forward kernel e^(-2 pi i k n / N).
void vDSP_fft_zip(FFTSetup setup, const DSPSplitComplex* c, vDSP_Stride ic, vDSP_Length log2n, FFTDirection direction) VARSILE_NONBLOCKING;

// vDSP_HANN_NORM: w[n] = 0.8165 (1 - cos(2 pi n / N)); denormalised: 0.5 (1 - cos(2 pi n / N)).
void vDSP_hann_window(float* c, vDSP_Length n, int flag);

void vDSP_vclr(float* c, vDSP_Stride ic, vDSP_Length n) VARSILE_NONBLOCKING;
void vDSP_vmul(const float* a, vDSP_Stride ia, const float* b, vDSP_Stride ib, float* c, vDSP_Stride ic, vDSP_Length n) VARSILE_NONBLOCKING;
void vDSP_vadd(const float* a, vDSP_Stride ia, const float* b, vDSP_Stride ib, float* c, vDSP_Stride ic, vDSP_Length n) VARSILE_NONBLOCKING;
// c = a - b, with the subtrahend b passed first, as the platform orders it.
void vDSP_vsub(const float* b, vDSP_Stride ib, const float* a, vDSP_Stride ia, float* c, vDSP_Stride ic, vDSP_Length n) VARSILE_NONBLOCKING;
void vDSP_vsmul(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic, vDSP_Length n) VARSILE_NONBLOCKING;
void vDSP_vsdiv(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic, vDSP_Length n) VARSILE_NONBLOCKING;
void vDSP_vsadd(const float* a, vDSP_Stride ia, const float* b, float* c, vDSP_Stride ic, vDSP_Length n) VARSILE_NONBLOCKING;
// c = sqrt(a^2 + b^2)
void vDSP_vdist(const float* a, vDSP_Stride ia, const float* b, vDSP_Stride ib, float* c, vDSP_Stride ic, vDSP_Length n) VARSILE_NONBLOCKING;
// c[k] = *a + k * *b
void vDSP_vramp(const float* a, const float* b, float* c, vDSP_Stride ic, vDSP_Length n) VARSILE_NONBLOCKING;
// Copies an m-column, n-row submatrix; ta and tc are the row lengths of a and c.
void vDSP_mmov(const float* a, float* c, vDSP_Length m, vDSP_Length n, vDSP_Length ta, vDSP_Length tc) VARSILE_NONBLOCKING;

// vForce: z = atan2(y, x), y = log(x), over *n entries.
void vvatan2f(float* z, const float* y, const float* x, const int* n) VARSILE_NONBLOCKING;
void vvlogf(float* y, const float* x, const int* n) VARSILE_NONBLOCKING;

}  // extern "C"
