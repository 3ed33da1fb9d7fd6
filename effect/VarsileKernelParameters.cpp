// The kernels' view of the parameters, read once per render slice.
#include <cmath>
#include <limits>

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

// A NaN time counts as the shortest, like anything below the range.
Float32 ClampTime(Float32 time) noexcept {
  if (!(time >= Varsile::VarsileKernel::kMinTime)) return Varsile::VarsileKernel::kMinTime;
  if (time > Varsile::VarsileKernel::kMaxTime) return Varsile::VarsileKernel::kMaxTime;
  return time;
}

}  // namespace

Varsile::KernelParameters Varsile::ReadKernelParameters() noexcept VARSILE_NONBLOCKING {
  // The table the constructor set up is always there; should it not be, the
  // kernels see the defaults rather than a lookup that could throw.
  Float32 values[kNumberOfGateParams];
  const AUElement* element = Globals().GetElement(0);
  if (element == nullptr || !element->GetTableParameters(0, kNumberOfGateParams, values)) {
    for (AudioUnitParameterID id = 0; id < kNumberOfGateParams; ++id)
      values[id] = kGateParameterTable[id].defaultValue;
  }
  const auto value = [&](AudioUnitParameterID id) { return values[id]; };
  KernelParameters p;
  p.a4Frequency = value(kGateParam_A4Frequency);
  p.holdThreshold = TruncateToLong(value(kGateParam_JitterThreshold));
  p.accuracyThreshold = value(kGateParam_AccuracyThreshold);
  p.key = KeyPitchClass(value(kGateParam_Key));
  for (UInt32 i = 0; i < kNumberOfIntervals; ++i) p.intervalVolumes[i] = value(kGateParam_FirstInterval + i);
  p.attackTime = ClampTime(value(kGateParam_AttackTime));
  p.releaseTime = ClampTime(value(kGateParam_ReleaseTime));
  return p;
}

OSStatus Varsile::ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags, const AudioBufferList& input,
                                     AudioBufferList& output, UInt32 frames) VARSILE_NONBLOCKING {
  mRenderParameters = ReadKernelParameters();
  mRendering = true;
  const OSStatus status = AUEffectBase::ProcessBufferLists(ioActionFlags, input, output, frames);
  mRendering = false;
  return status;
}
