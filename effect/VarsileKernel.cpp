// The gate kernel of one channel: its pitch tracker picks the interval above
// the key, and the gain ramps toward that interval's volume.
#include <cmath>
#include <cstdint>
#include <limits>

#include "GainRamp.h"
#include "Varsile.h"

namespace {

// Hz, truncated toward zero; a rate no format should carry (negative, NaN,
// beyond 32 bits) still converts to something defined.
UInt32 WholeRate(Float64 rate) noexcept {
  if (!(rate > 0.0)) return 0;
  if (rate >= static_cast<Float64>(std::numeric_limits<UInt32>::max()))
    return std::numeric_limits<UInt32>::max();
  return static_cast<UInt32>(rate);
}

}  // namespace

Varsile::VarsileKernel::VarsileKernel(Varsile* effect) : AUKernelBase(effect), mGate(*effect) {
  Reset();
}

Varsile::VarsileKernel::~VarsileKernel() = default;

void Varsile::VarsileKernel::Reset() {
  mWholeSampleRate = WholeRate(mEffect->GetSampleRate());
  mTracker.Reset(kLog2Size);
  mVolume.store(100.0f, std::memory_order_relaxed);
}

const Varsile::KernelParameters& Varsile::VarsileKernel::Parameters() const noexcept VARSILE_NONBLOCKING {
  if (const KernelParameters* parameters = mGate.RenderParameters()) return *parameters;
  mOwnParameters = mGate.ReadKernelParameters();
  return mOwnParameters;
}

Float32 Varsile::VarsileKernel::Decide(const Float32* source, Float32* destination,
                                       UInt32 frames) noexcept VARSILE_NONBLOCKING {
  const KernelParameters& parameters = Parameters();
  // The tracker reads the whole block and writes nothing.
  const std::int64_t pitchClass = mTracker.Process(
      FFTShiftLL::kModeAnalysisOnly, mShiftTable, static_cast<long>(frames), kLog2Size, kOversampling,
      static_cast<float>(mWholeSampleRate), source, destination, FFTShiftLL::kWindowHann,
      parameters.a4Frequency, parameters.holdThreshold, parameters.accuracyThreshold, 0);

  // Unsigned on purpose: with no pitch class yet (-1) this lands on the
  // interval of B above the key rather than outside the table.
  const UInt32 interval =
      (static_cast<UInt32>(pitchClass) + kNumberOfPitchClasses - parameters.key) % kNumberOfPitchClasses;
  return parameters.intervalVolumes[interval];
}

Float32 Varsile::VarsileKernel::StepFor(Float32 volume, Float32 target) const noexcept VARSILE_NONBLOCKING {
  // A gain that sits on its target takes no step. A NaN volume is not
  // greater than the gain: it releases toward 0 like any lower target.
  if (volume == target) return 0.0f;
  const bool rising = target > volume;
  const KernelParameters& parameters = Parameters();
  const Float32 time = rising ? parameters.attackTime : parameters.releaseTime;
  const Float32 span = rising ? 100.0f : -100.0f;
  return span / (static_cast<Float32>(mWholeSampleRate) * time);
}

void Varsile::VarsileKernel::Process(const Float32* source, Float32* destination, UInt32 frames,
                                     UInt32 /*channelStride*/,
                                     bool& /*ioSilence*/) noexcept VARSILE_NONBLOCKING {
  // Decided before anything is written, so source and destination may be
  // the same array.
  const Float32 target = Decide(source, destination, frames);
  const Float32 volume = varsile::effect::ClampPercent(mVolume.load(std::memory_order_relaxed));
  mVolume.store(
      varsile::effect::ApplyGainRamp(source, destination, frames, volume, target, StepFor(volume, target)),
      std::memory_order_relaxed);
}
