// How many frames the component must be ready to render at once: what the
// host promises through its options, or a default. run() renders longer
// blocks in pieces, so a host that promises nothing still works.
#pragma once

#include <MacTypes.h>
#include <lv2/core/lv2.h>

namespace varsile::lv2 {

inline constexpr UInt32 kDefaultMaxFrames = 4096;
// Larger promises are honoured in pieces of this size; the component's
// buffers grow with its maximum.
inline constexpr UInt32 kLargestMaxFrames = 16384;

// The host's buf-size maxBlockLength from the options feature (read with the
// URID map feature), limited to 1..kLargestMaxFrames; kDefaultMaxFrames when
// either feature or the option is missing or unusable.
UInt32 MaxFramesFromFeatures(const LV2_Feature* const* features) noexcept;

}  // namespace varsile::lv2
