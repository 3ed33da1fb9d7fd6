// The gate kernel of one channel: its pitch tracker picks the interval above
// the key, and the gain ramps toward that interval's volume.
#include <cmath>
#include <cstdint>
#include <limits>

#include "GainRamp.h"
#include "Varsile.h"

namespace {

// Truncated toward zero, saturated, NaN as 0: defined for every float.
long TruncateToLong(Float32 value) noexcept {
  if (std::isnan(value)) return 0;
  constexpr double kMax = static_cast<double>(std::numeric_limits<long>::max());
  constexpr double kMin = static_cast<double>(std::numeric_limits<long>::min());
  const double v = value;
  if (v >= kMax) return std::numeric_limits<long>::max();
  if (v <= kMin) return std::numeric_limits<long>::min();
  return static_cast<long>(v);
}

// Hz, truncated toward zero; a rate no format should carry (negative, NaN,
// beyond 32 bits) still converts to something defined.
UInt32 WholeRate(Float64 rate) noexcept {
  if (!(rate > 0.0)) return 0;
  if (rate >= static_cast<Float64>(std::numeric_limits<UInt32>::max()))
    return std::numeric_limits<UInt32>::max();
  return static_cast<UInt32>(rate);
}

// The key's pitch class; the usual whole key 0..11 without the general
// reduction's library call, which a render of a few frames would feel.
UInt32 KeyOf(Float32 key) noexcept {
  if (key >= 0.0f && key < 12.0f) return static_cast<UInt32>(key);
  return KeyPitchClass(key);
}

}  // namespace

Varsile::VarsileKernel::VarsileKernel(AUEffectBase* effect) : AUKernelBase(effect) {
  Reset();
}

Varsile::VarsileKernel::~VarsileKernel() = default;

void Varsile::VarsileKernel::Reset() {
  mWholeSampleRate = WholeRate(mEffect->GetSampleRate());
  mTracker.Reset(kLog2Size);
  mVolume.store(100.0f, std::memory_order_relaxed);
}

Float32 Varsile::VarsileKernel::Decide(const Float32* source, Float32* destination,
                                       UInt32 frames) noexcept VARSILE_NONBLOCKING {
  // The parameters AUEffectBase::GetParameter(id) reads, from element 0 of
  // the global scope, looked up once per block rather than once per read.
  const AUElement& parameters = *mEffect->Globals().SafeGetElement(0);

  // The tracker reads the whole block and writes nothing.
  const std::int64_t pitchClass =
      mTracker.Process(FFTShiftLL::kModeAnalysisOnly, mShiftTable, static_cast<long>(frames), kLog2Size,
                       kOversampling, static_cast<float>(mWholeSampleRate), source, destination,
                       FFTShiftLL::kWindowHann, parameters.GetParameter(kGateParam_A4Frequency),
                       TruncateToLong(parameters.GetParameter(kGateParam_JitterThreshold)),
                       parameters.GetParameter(kGateParam_AccuracyThreshold), 0);

  // Unsigned on purpose: with no pitch class yet (-1) this lands on the
  // interval of B above the key rather than outside the table.
  const UInt32 key = KeyOf(parameters.GetParameter(kGateParam_Key));
  const UInt32 interval =
      (static_cast<UInt32>(pitchClass) + kNumberOfPitchClasses - key) % kNumberOfPitchClasses;
  return parameters.GetParameter(kGateParam_FirstInterval + interval);
}

Float32 Varsile::VarsileKernel::StepFor(Float32 volume, Float32 target) const noexcept VARSILE_NONBLOCKING {
  // A gain that sits on its target takes no step. A NaN volume is not
  // greater than the gain: it releases toward 0 like any lower target.
  if (volume == target) return 0.0f;
  const bool rising = target > volume;
  Float32 time = mEffect->Globals().SafeGetElement(0)->GetParameter(rising ? kGateParam_AttackTime
                                                                           : kGateParam_ReleaseTime);
  // A NaN time counts as the shortest, like anything below the range.
  if (!(time >= kMinTime)) {
    time = kMinTime;
  } else if (time > kMaxTime) {
    time = kMaxTime;
  }
  const Float32 span = rising ? 100.0f : -100.0f;
  return span / (static_cast<Float32>(mWholeSampleRate) * time);
}

void Varsile::VarsileKernel::Process(const Float32* source, Float32* destination, UInt32 frames,
                                     UInt32 /*channelStride*/,
                                     bool& /*ioSilence*/) noexcept VARSILE_NONBLOCKING {
  // Decided before anything is written, so source and destination may be
  // the same array.
  const Float32 target = Decide(source, destination, frames);
  const Float32 volume = gain::ClampPercent(mVolume.load(std::memory_order_relaxed));
  mVolume.store(gain::ApplyGainRamp(source, destination, frames, volume, target, StepFor(volume, target)),
                std::memory_order_relaxed);
}
