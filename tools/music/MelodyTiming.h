// Attack and release that suit melodies, for the hosts that set them for
// their users. The component's own 1 s suits sustained chords but lets short
// out-of-scale notes through almost unchanged.
#pragma once

namespace varsile::music {

inline constexpr double kMelodyAttackSeconds = 0.02;
inline constexpr double kMelodyReleaseSeconds = 0.02;

}  // namespace varsile::music
