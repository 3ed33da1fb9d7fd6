// Questions about the platform's channel-layout record.
#pragma once

#include <CoreAudio/CoreAudioTypes.h>

class CAAudioChannelLayout {
 public:
  // Channels a layout describes: the description count, the bits of the
  // bitmap, or the low 16 bits of any other tag.
  static UInt32 NumberChannels(const AudioChannelLayout& layout) noexcept;

  // Bytes of a layout record with n channel descriptions.
  static constexpr UInt64 CalculateByteSize(UInt32 numberChannelDescriptions) noexcept {
    return offsetof(AudioChannelLayout, mChannelDescriptions) +
           UInt64{numberChannelDescriptions} * sizeof(AudioChannelDescription);
  }
};
