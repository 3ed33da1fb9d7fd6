#include "UnitInstance.h"

#include <utility>

namespace varsile::host {

UnitInstance::UnitInstance(AudioComponent component) {
  mOpenStatus = AudioComponentInstanceNew(component, &mUnit);
  if (mOpenStatus != noErr) mUnit = nullptr;
}

UnitInstance::UnitInstance(UnitInstance&& other) noexcept
    : mUnit(std::exchange(other.mUnit, nullptr)), mOpenStatus(other.mOpenStatus) {}

UnitInstance& UnitInstance::operator=(UnitInstance&& other) noexcept {
  if (this != &other) {
    Close();
    mUnit = std::exchange(other.mUnit, nullptr);
    mOpenStatus = other.mOpenStatus;
  }
  return *this;
}

UnitInstance::~UnitInstance() {
  Close();
}

OSStatus UnitInstance::Close() {
  if (mUnit == nullptr) return noErr;
  const OSStatus status = AudioComponentInstanceDispose(mUnit);
  mUnit = nullptr;
  return status;
}

PropertyInfo UnitInstance::Info(AudioUnitPropertyID id, AudioUnitScope scope,
                                AudioUnitElement element) const {
  PropertyInfo info;
  Boolean writable = false;
  info.status = AudioUnitGetPropertyInfo(mUnit, id, scope, element, &info.size, &writable);
  info.writable = writable != 0;
  return info;
}

OSStatus UnitInstance::GetBytes(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                void* data, UInt32& size) const {
  return AudioUnitGetProperty(mUnit, id, scope, element, data, &size);
}

OSStatus UnitInstance::SetBytes(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                const void* data, UInt32 size) {
  return AudioUnitSetProperty(mUnit, id, scope, element, data, size);
}

OSStatus UnitInstance::GetFormat(AudioUnitScope scope, AudioUnitElement element,
                                 AudioStreamBasicDescription& format) const {
  format = {};
  return Get(kAudioUnitProperty_StreamFormat, scope, element, format);
}

OSStatus UnitInstance::SetFormat(AudioUnitScope scope, AudioUnitElement element,
                                 const AudioStreamBasicDescription& format) {
  return Set(kAudioUnitProperty_StreamFormat, scope, element, format);
}

OSStatus UnitInstance::ConfigureIO(Float64 sampleRate, UInt32 channels) {
  return ConfigureIO(sampleRate, channels, channels);
}

OSStatus UnitInstance::ConfigureIO(Float64 sampleRate, UInt32 inputChannels, UInt32 outputChannels) {
  OSStatus status = SetFormat(kAudioUnitScope_Input, 0, CanonicalFormat(sampleRate, inputChannels));
  if (status != noErr) return status;
  return SetFormat(kAudioUnitScope_Output, 0, CanonicalFormat(sampleRate, outputChannels));
}

OSStatus UnitInstance::SetMaxFrames(UInt32 frames) {
  return Set(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, frames);
}

UInt32 UnitInstance::MaxFrames() const {
  UInt32 frames = 0;
  if (Get(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, frames) != noErr) return 0;
  return frames;
}

OSStatus UnitInstance::Initialize() {
  return AudioUnitInitialize(mUnit);
}

OSStatus UnitInstance::Uninitialize() {
  return AudioUnitUninitialize(mUnit);
}

OSStatus UnitInstance::GetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                                    Float32& value) const {
  return AudioUnitGetParameter(mUnit, id, scope, element, &value);
}

OSStatus UnitInstance::SetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                                    Float32 value) {
  return AudioUnitSetParameter(mUnit, id, scope, element, value, 0);
}

}  // namespace varsile::host
