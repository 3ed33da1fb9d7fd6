// The frame's view of a stream format: the platform record and nothing else,
// with the questions the frame asks of it.
#pragma once

#include <CoreAudio/CoreAudioTypes.h>

class CAStreamBasicDescription : public AudioStreamBasicDescription {
 public:
  CAStreamBasicDescription() noexcept : AudioStreamBasicDescription{} {}
  CAStreamBasicDescription(const AudioStreamBasicDescription& desc) noexcept  // NOLINT: implicit by design
      : AudioStreamBasicDescription(desc) {}
  CAStreamBasicDescription& operator=(const AudioStreamBasicDescription& desc) noexcept {
    static_cast<AudioStreamBasicDescription&>(*this) = desc;
    return *this;
  }

  bool IsPCM() const noexcept { return mFormatID == kAudioFormatLinearPCM; }
  // Non-interleaved means one buffer per channel; everything else is one buffer.
  bool IsInterleaved() const noexcept {
    return !(IsPCM() && (mFormatFlags & kAudioFormatFlagIsNonInterleaved));
  }
  UInt32 NumberChannelStreams() const noexcept { return IsInterleaved() ? 1 : mChannelsPerFrame; }
  UInt32 NumberInterleavedChannels() const noexcept { return IsInterleaved() ? mChannelsPerFrame : 1; }
  UInt32 NumberChannels() const noexcept { return mChannelsPerFrame; }

  // Without wildcards: the 36 bytes from mSampleRate to mBitsPerChannel are
  // bitwise identical (0.0 and -0.0 differ); mReserved is ignored.
  bool IsEqual(const AudioStreamBasicDescription& other, bool interpretingWildcards = true) const noexcept;
};
static_assert(sizeof(CAStreamBasicDescription) == sizeof(AudioStreamBasicDescription));
