// What the frame, the hosts and the tests all need around the platform's
// values: an owning reference to a property-list value, and the one stream
// format an audio unit of this platform takes on its buses.
#pragma once

#include <CoreAudio/CoreAudioTypes.h>
#include <CoreFoundation/CoreFoundation.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

namespace varsile {

// Released once, when the owner goes. Values handed over by a "copy" or
// "create" call, or through a property, are owned this way.
template <typename Ref>
class CFRef {
 public:
  CFRef() = default;
  // Takes over a reference the caller already owns.
  explicit CFRef(Ref value) noexcept : mValue(value) {}
  CFRef(const CFRef& other) noexcept : mValue(other.mValue) {
    if (mValue != nullptr) CFRetain(mValue);
  }
  CFRef(CFRef&& other) noexcept : mValue(std::exchange(other.mValue, nullptr)) {}
  CFRef& operator=(CFRef other) noexcept {
    std::swap(mValue, other.mValue);
    return *this;
  }
  ~CFRef() { Reset(); }

  Ref Get() const noexcept { return mValue; }
  explicit operator bool() const noexcept { return mValue != nullptr; }
  // Hands the reference to the caller, who releases it.
  Ref Release() noexcept { return std::exchange(mValue, nullptr); }
  void Reset(Ref value = nullptr) noexcept {
    if (mValue != nullptr) CFRelease(mValue);
    mValue = value;
  }
  // Where a call writes the new reference it hands over.
  Ref* Receive() noexcept {
    Reset();
    return &mValue;
  }

 private:
  Ref mValue = nullptr;
};

// Takes over a value just created; null, which is how the platform reports
// exhausted memory, throws std::bad_alloc.
template <typename Ref>
CFRef<Ref> CFCreated(Ref value) {
  if (value == nullptr) throw std::bad_alloc();
  return CFRef<Ref>(value);
}

// 32-bit float, native order, non-interleaved, one channel per buffer.
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

// True when every field from mSampleRate to mBitsPerChannel is identical.
inline bool SameFormat(const AudioStreamBasicDescription& a, const AudioStreamBasicDescription& b) noexcept {
  return std::memcmp(&a, &b, offsetof(AudioStreamBasicDescription, mReserved)) == 0;
}

// Float, native order, non-interleaved, 32 bits in a packet of one frame:
// the canonical format, whatever the rate and channels.
inline bool IsCanonicalFormat(const AudioStreamBasicDescription& format) noexcept {
  return format.mFormatID == kAudioFormatLinearPCM && format.mFramesPerPacket == 1 &&
         format.mBytesPerPacket == format.mBytesPerFrame &&
         (format.mFormatFlags & kAudioFormatFlagIsFloat) != 0 &&
         (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0 &&
         (format.mFormatFlags & kAudioFormatFlagIsBigEndian) == 0 && format.mBitsPerChannel == 32 &&
         format.mBytesPerFrame == sizeof(Float32);
}

}  // namespace varsile
