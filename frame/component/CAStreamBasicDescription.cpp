// Comparison of stream formats.
#include "CAStreamBasicDescription.h"

#include <cstddef>
#include <cstring>

namespace {

// Without wildcards the comparison is bitwise, so it is byte-exact on NaN and
// signed zero sample rates too.
constexpr std::size_t kComparedBytes = offsetof(AudioStreamBasicDescription, mReserved);

template <class Field>
bool MatchesOrWildcard(Field a, Field b) noexcept {
  return a == b || a == Field{} || b == Field{};
}

}  // namespace

bool CAStreamBasicDescription::IsEqual(const AudioStreamBasicDescription& other,
                                       bool interpretingWildcards) const noexcept {
  if (!interpretingWildcards) return std::memcmp(this, &other, kComparedBytes) == 0;
  // With wildcards a zero field on either side matches anything.
  return MatchesOrWildcard(mSampleRate, other.mSampleRate) && MatchesOrWildcard(mFormatID, other.mFormatID) &&
         MatchesOrWildcard(mFormatFlags, other.mFormatFlags) &&
         MatchesOrWildcard(mBytesPerPacket, other.mBytesPerPacket) &&
         MatchesOrWildcard(mFramesPerPacket, other.mFramesPerPacket) &&
         MatchesOrWildcard(mBytesPerFrame, other.mBytesPerFrame) &&
         MatchesOrWildcard(mChannelsPerFrame, other.mChannelsPerFrame) &&
         MatchesOrWildcard(mBitsPerChannel, other.mBitsPerChannel);
}
