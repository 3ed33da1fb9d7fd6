// vDSP's FFT set-ups and the in-place split-complex transform on FFTW.
//
// FFTW's split-complex plans run at a third of the speed of its interleaved
// ones, so the transform of N points is built from interleaved complex
// transforms of N/2 points: a real sequence read as N/2 pairs x[2k] + i x[2k+1]
// gives the spectra of its even and odd samples, and one butterfly pass
// (VectorKernelsBody.inc) completes the N-point spectrum with its conjugate
// half. Input with an all-zero imaginary part (the pitch tracker's case) costs
// one such transform; general input costs two, one per part.
#include <Accelerate/Accelerate.h>

#include <atomic>
#include <cstring>
#include <new>

#include "FFTPlanCache.h"
#include "FFTRadix2.h"
#include "VectorKernels.h"

using varsile::accelerate::FFTPlans;
using varsile::accelerate::kMaxFFTLog2n;
using varsile::accelerate::VectorKernels;

// The plans are shared; the scratch array is the setup's own. A transform
// claims the scratch with a flag, so two threads may use one setup at once:
// the one that finds the scratch taken runs the in-place radix-2 transform
// instead, slower but allocation-free and correct.
struct OpaqueFFTSetup {
  unsigned mMaxLog2n = 0;
  const FFTPlans* mPlans[kMaxFFTLog2n + 1] = {};
  const VectorKernels* mKernels = nullptr;
  float* mScratch = nullptr;  // 2^mMaxLog2n floats, aligned as the plans expect
  std::atomic_flag mScratchBusy;
};

namespace {

// The N/2-point transform of the N floats at in, as pairs, into scratch.
// Arrays without FFTW's SIMD alignment are copied first, which costs less
// than a plan for unaligned arrays.
void HalfTransform(const FFTPlans& plans, float* in, float* scratch, long n) noexcept {
  auto* out = reinterpret_cast<fftwf_complex*>(scratch);
  if (fftwf_alignment_of(in) == 0) {
    fftwf_execute_dft(plans.halfOutOfPlace, reinterpret_cast<fftwf_complex*>(in), out);
  } else {
    std::memcpy(scratch, in, static_cast<size_t>(n) * sizeof(float));
    fftwf_execute_dft(plans.halfInPlace, out, out);
  }
}

void Transform(const OpaqueFFTSetup& setup, float* re, float* im, unsigned log2n, bool inverse) noexcept {
  const FFTPlans& plans = *setup.mPlans[log2n];
  const VectorKernels& kernels = *setup.mKernels;
  const long n = 1L << log2n;
  const long m = n / 2;
  if (!kernels.anyNonZero(im, n)) {
    HalfTransform(plans, re, setup.mScratch, n);
    kernels.deinterleave(setup.mScratch, re, im, m);
    kernels.realSpectrum(re, im, plans.cosine, plans.sine, m, inverse);
    return;
  }
  HalfTransform(plans, re, setup.mScratch, n);
  kernels.deinterleave(setup.mScratch, re, re + m, m);
  HalfTransform(plans, im, setup.mScratch, n);
  kernels.deinterleave(setup.mScratch, im, im + m, m);
  kernels.complexSpectrum(re, im, plans.cosine, plans.sine, m, inverse);
}

}  // namespace

extern "C" {

// Planning happens here, never in vDSP_fft_zip: the first setup of a size
// plans it (milliseconds), later ones only take the shared plans.
FFTSetup vDSP_create_fftsetup(vDSP_Length log2n, FFTRadix radix) {
  if (radix != kFFTRadix2 || log2n > kMaxFFTLog2n) return nullptr;
  auto* setup = new (std::nothrow) OpaqueFFTSetup;
  if (setup == nullptr) return nullptr;
  setup->mMaxLog2n = static_cast<unsigned>(log2n);
  setup->mKernels = &varsile::accelerate::ActiveVectorKernels();
  if (log2n >= 2) {
    setup->mScratch = fftwf_alloc_real(size_t{1} << log2n);
    if (setup->mScratch == nullptr ||
        !varsile::accelerate::AcquireFFTPlans(setup->mMaxLog2n, setup->mPlans)) {
      vDSP_destroy_fftsetup(setup);
      return nullptr;
    }
  }
  return setup;
}

void vDSP_destroy_fftsetup(FFTSetup setup) {
  if (setup == nullptr) return;
  fftwf_free(setup->mScratch);
  delete setup;
}

// Calls that cannot be carried out (no setup or arrays, a size above the
// setup's, a stride below 1, an unknown direction) leave the arrays alone.
void vDSP_fft_zip(FFTSetup setup, const DSPSplitComplex* c, vDSP_Stride ic, vDSP_Length log2n,
                  FFTDirection direction) {
  if (setup == nullptr || c == nullptr || c->realp == nullptr || c->imagp == nullptr) return;
  if (log2n > setup->mMaxLog2n || ic < 1) return;
  if (direction != kFFTDirection_Forward && direction != kFFTDirection_Inverse) return;
  if (log2n == 0) return;
  const bool inverse = direction == kFFTDirection_Inverse;
  const auto size = static_cast<unsigned>(log2n);
  if (size == 1) {
    varsile::accelerate::FFTRadix2InPlace(c->realp, c->imagp, ic, size, nullptr, nullptr, inverse);
    return;
  }
  if (ic != 1 || setup->mScratchBusy.test_and_set(std::memory_order_acquire)) {
    const FFTPlans& plans = *setup->mPlans[size];
    varsile::accelerate::FFTRadix2InPlace(c->realp, c->imagp, ic, size, plans.cosine, plans.sine, inverse);
    return;
  }
  Transform(*setup, c->realp, c->imagp, size, inverse);
  setup->mScratchBusy.clear(std::memory_order_release);
}

}  // extern "C"
