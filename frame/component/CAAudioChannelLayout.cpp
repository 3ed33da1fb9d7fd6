// Channel counts of channel layouts.
#include "CAAudioChannelLayout.h"

#include <bit>

UInt32 CAAudioChannelLayout::NumberChannels(const AudioChannelLayout& layout) noexcept {
  switch (layout.mChannelLayoutTag) {
    case kAudioChannelLayoutTag_UseChannelDescriptions:
      return layout.mNumberChannelDescriptions;
    case kAudioChannelLayoutTag_UseChannelBitmap:
      return static_cast<UInt32>(std::popcount(layout.mChannelBitmap));
    default:
      // Every other tag carries its channel count in its low 16 bits.
      return layout.mChannelLayoutTag & 0xFFFFu;
  }
}
