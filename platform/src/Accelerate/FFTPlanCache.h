// FFTW plans and twiddle tables shared by every FFT setup of the process.
#pragma once

#include <fftw3.h>

namespace varsile::accelerate {

inline constexpr unsigned kMaxFFTLog2n = 20;

// Everything a transform of N = 2^log2n points (log2n >= 2) needs. A real
// sequence of N samples is transformed as N/2 complex pairs, so the plans are
// forward complex transforms of N/2 points over SIMD-aligned interleaved
// arrays; both may overwrite their input.
struct FFTPlans {
  fftwf_plan halfOutOfPlace;
  fftwf_plan halfInPlace;
  const float* cosine;  // cos(2 pi k / N), k < N/2
  const float* sine;    // sin(2 pi k / N), k < N/2
};

// Makes the plans for every size from 2^2 to 2^maxLog2n that do not exist
// yet, under a process-wide mutex (FFTW's planner is not thread-safe), and
// stores pointers into plans[log2n]. The plans live until the process ends;
// executing them with FFTW's new-array functions is thread-safe. False when
// FFTW or memory fails; what was made stays for the next call.
bool AcquireFFTPlans(unsigned maxLog2n, const FFTPlans* plans[kMaxFFTLog2n + 1]) noexcept;

}  // namespace varsile::accelerate
