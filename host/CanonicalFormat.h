// The one stream format an audio unit of this platform takes on its buses:
// 32-bit float, native order, non-interleaved, one channel per buffer.
#pragma once

#include <CoreAudio/CoreAudioTypes.h>

namespace varsile::host {

inline AudioStreamBasicDescription CanonicalFormat(Float64 sampleRate, UInt32 channels) noexcept {
  AudioStreamBasicDescription format{};
  format.mSampleRate = sampleRate;
  format.mFormatID = kAudioFormatLinearPCM;
  format.mFormatFlags = kAudioFormatFlagsNativeFloatPacked | kAudioFormatFlagIsNonInterleaved;
  format.mBytesPerPacket = sizeof(Float32);
  format.mFramesPerPacket = 1;
  format.mBytesPerFrame = sizeof(Float32);
  format.mChannelsPerFrame = channels;
  format.mBitsPerChannel = 8 * sizeof(Float32);
  return format;
}

}  // namespace varsile::host
