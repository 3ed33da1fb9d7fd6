#include "FFTPlanCache.h"

#include <cmath>
#include <memory>
#include <mutex>
#include <new>
#include <numbers>

namespace varsile::accelerate {
namespace {

struct FFTWFree {
  void operator()(void* p) const noexcept { fftwf_free(p); }
};

std::mutex gPlannerMutex;
// Guarded by gPlannerMutex. Never freed: setups in use may point at them
// until the process ends.
FFTPlans* gPlans[kMaxFFTLog2n + 1] = {};

// ESTIMATE picks a plan without timing anything (a measured plan costs about
// a tenth of a second per size) and is within a few percent of the measured
// one for these complex transforms.
constexpr unsigned kPlannerFlags = FFTW_ESTIMATE | FFTW_DESTROY_INPUT;

FFTPlans* MakePlans(unsigned log2n) {
  const size_t n = size_t{1} << log2n;
  const size_t half = n / 2;
  std::unique_ptr<float[], FFTWFree> tables(fftwf_alloc_real(n));
  std::unique_ptr<fftwf_complex[], FFTWFree> in(fftwf_alloc_complex(half));
  std::unique_ptr<fftwf_complex[], FFTWFree> out(fftwf_alloc_complex(half));
  std::unique_ptr<FFTPlans> plans(new (std::nothrow) FFTPlans{});
  if (!tables || !in || !out || !plans) return nullptr;

  const int points = static_cast<int>(half);
  plans->halfOutOfPlace = fftwf_plan_dft_1d(points, in.get(), out.get(), FFTW_FORWARD, kPlannerFlags);
  plans->halfInPlace = fftwf_plan_dft_1d(points, out.get(), out.get(), FFTW_FORWARD, kPlannerFlags);
  if (plans->halfOutOfPlace == nullptr || plans->halfInPlace == nullptr) {
    if (plans->halfOutOfPlace != nullptr) fftwf_destroy_plan(plans->halfOutOfPlace);
    if (plans->halfInPlace != nullptr) fftwf_destroy_plan(plans->halfInPlace);
    return nullptr;
  }

  float* cosine = tables.get();
  float* sine = cosine + half;
  for (size_t k = 0; k < half; ++k) {
    const double angle = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
    cosine[k] = static_cast<float>(std::cos(angle));
    sine[k] = static_cast<float>(std::sin(angle));
  }
  plans->cosine = cosine;
  plans->sine = sine;
  tables.release();
  return plans.release();
}

}  // namespace

bool AcquireFFTPlans(unsigned maxLog2n, const FFTPlans* plans[kMaxFFTLog2n + 1]) noexcept {
  if (maxLog2n > kMaxFFTLog2n) return false;
  try {
    const std::lock_guard lock(gPlannerMutex);
    for (unsigned log2n = 2; log2n <= maxLog2n; ++log2n) {
      if (gPlans[log2n] == nullptr) gPlans[log2n] = MakePlans(log2n);
      if (gPlans[log2n] == nullptr) return false;
      plans[log2n] = gPlans[log2n];
    }
    return true;
  } catch (...) {  // a failed mutex
    return false;
  }
}

}  // namespace varsile::accelerate
