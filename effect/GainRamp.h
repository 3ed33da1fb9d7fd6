// The gate's per-sample gain: every sample is scaled by the gain as it stood
// before that sample's step, and the gain steps toward the target, landing on
// it rather than running past, clamped to 0..100 percent.
#pragma once

#include <MacTypes.h>

namespace varsile::effect {

inline Float32 ClampPercent(Float32 value) noexcept VARSILE_NONBLOCKING {
  if (value < 0.0f) return 0.0f;
  if (value > 100.0f) return 100.0f;
  return value;
}

// One step of the gain. A step that would carry it past its target lands on
// the target, so a partial volume settles instead of sawing around it. At the
// bounds this is what the clamp does anyway; a NaN target compares false and
// leaves the plain clamped step.
inline Float32 StepToward(Float32 volume, Float32 target, Float32 step) noexcept VARSILE_NONBLOCKING {
  Float32 next = volume + step;
  if (step > 0.0f ? next > target : next < target) next = target;
  return ClampPercent(next);
}

// Writes frames samples of source scaled by the ramped gain (volume, in
// percent) to destination, which may be source itself, and returns the gain
// after the last step.
//
// The steps are a chain of rounded additions, so they run one by one; but as
// soon as a step leaves the gain where it was (the target is met, or a bound
// is reached and the step pushes beyond it) every later step would too, and
// the rest of the block is a plain product that the compiler vectorises.
inline Float32 ApplyGainRamp(const Float32* source, Float32* destination, UInt32 frames, Float32 volume,
                             Float32 target, Float32 step) noexcept VARSILE_NONBLOCKING {
  UInt32 i = 0;
  while (i < frames && volume != target) {
    destination[i] =
        static_cast<Float32>(static_cast<double>(source[i]) * (static_cast<double>(volume) / 100.0));
    ++i;
    const Float32 next = StepToward(volume, target, step);
    if (next == volume) break;
    volume = next;
  }
  const double scale = static_cast<double>(volume) / 100.0;
  for (; i < frames; ++i) destination[i] = static_cast<Float32>(static_cast<double>(source[i]) * scale);
  return volume;
}

}  // namespace varsile::effect
