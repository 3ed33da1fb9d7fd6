#include "HostUnit.h"

#include <cstddef>
#include <cstring>

namespace varsile::validate {

AudioStreamBasicDescription CanonicalFormat(Float64 sampleRate, UInt32 channels) {
  AudioStreamBasicDescription format{};
  format.mSampleRate = sampleRate;
  format.mFormatID = kAudioFormatLinearPCM;
  format.mFormatFlags = kAudioFormatFlagsNativeFloatPacked | kAudioFormatFlagIsNonInterleaved;
  format.mBytesPerPacket = sizeof(Float32);
  format.mFramesPerPacket = 1;
  format.mBytesPerFrame = sizeof(Float32);
  format.mChannelsPerFrame = channels;
  format.mBitsPerChannel = 32;
  return format;
}

bool SameFormat(const AudioStreamBasicDescription& a, const AudioStreamBasicDescription& b) {
  return std::memcmp(&a, &b, offsetof(AudioStreamBasicDescription, mReserved)) == 0;
}

bool IsCanonicalFormat(const AudioStreamBasicDescription& format) {
  return format.mFormatID == kAudioFormatLinearPCM && format.mFramesPerPacket == 1 &&
         format.mBytesPerPacket == format.mBytesPerFrame &&
         (format.mFormatFlags & kAudioFormatFlagIsFloat) != 0 &&
         (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0 &&
         (format.mFormatFlags & kAudioFormatFlagIsBigEndian) == 0 && format.mBitsPerChannel == 32 &&
         format.mBytesPerFrame == sizeof(Float32);
}

HostUnit::HostUnit(AudioComponent component) {
  mOpenStatus = AudioComponentInstanceNew(component, &mUnit);
  if (mOpenStatus != noErr) mUnit = nullptr;
}

HostUnit::~HostUnit() {
  Close();
}

OSStatus HostUnit::Close() {
  if (mUnit == nullptr) return noErr;
  const OSStatus status = AudioComponentInstanceDispose(mUnit);
  mUnit = nullptr;
  return status;
}

PropertyInfo HostUnit::Info(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) const {
  PropertyInfo info;
  Boolean writable = false;
  info.status = AudioUnitGetPropertyInfo(mUnit, id, scope, element, &info.size, &writable);
  info.writable = writable != 0;
  return info;
}

OSStatus HostUnit::GetBytes(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                            void* data, UInt32& size) const {
  return AudioUnitGetProperty(mUnit, id, scope, element, data, &size);
}

OSStatus HostUnit::SetBytes(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                            const void* data, UInt32 size) {
  return AudioUnitSetProperty(mUnit, id, scope, element, data, size);
}

OSStatus HostUnit::GetFormat(AudioUnitScope scope, AudioUnitElement element,
                             AudioStreamBasicDescription& format) const {
  format = {};
  return Get(kAudioUnitProperty_StreamFormat, scope, element, format);
}

OSStatus HostUnit::SetFormat(AudioUnitScope scope, AudioUnitElement element,
                             const AudioStreamBasicDescription& format) {
  return Set(kAudioUnitProperty_StreamFormat, scope, element, format);
}

OSStatus HostUnit::ConfigureIO(Float64 sampleRate, UInt32 channels) {
  return ConfigureIO(sampleRate, channels, channels);
}

OSStatus HostUnit::ConfigureIO(Float64 sampleRate, UInt32 inputChannels, UInt32 outputChannels) {
  OSStatus status = SetFormat(kAudioUnitScope_Input, 0, CanonicalFormat(sampleRate, inputChannels));
  if (status != noErr) return status;
  return SetFormat(kAudioUnitScope_Output, 0, CanonicalFormat(sampleRate, outputChannels));
}

OSStatus HostUnit::SetMaxFrames(UInt32 frames) {
  return Set(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, frames);
}

UInt32 HostUnit::MaxFrames() const {
  UInt32 frames = 0;
  if (Get(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, frames) != noErr) return 0;
  return frames;
}

OSStatus HostUnit::Initialize() {
  return AudioUnitInitialize(mUnit);
}

OSStatus HostUnit::Uninitialize() {
  return AudioUnitUninitialize(mUnit);
}

OSStatus HostUnit::GetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                                Float32& value) const {
  return AudioUnitGetParameter(mUnit, id, scope, element, &value);
}

OSStatus HostUnit::SetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                                Float32 value) {
  return AudioUnitSetParameter(mUnit, id, scope, element, value, 0);
}

}  // namespace varsile::validate
