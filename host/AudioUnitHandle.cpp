#include "AudioUnitHandle.h"

#include <utility>

namespace varsile::host {

namespace {

std::string Describe(const char* verb, AudioUnitPropertyID id, AudioUnitScope scope,
                     AudioUnitElement element) {
  return std::string(verb) + " property " + PropertyName(id) + " (scope " + std::to_string(scope) +
         ", element " + std::to_string(element) + ")";
}

}  // namespace

AudioUnitHandle AudioUnitHandle::Open(AudioComponent component) {
  if (component == nullptr) throw HostError("opening an instance: no component", kAudio_ParamError);
  AudioUnitHandle handle;
  handle.mInstance = UnitInstance(component);
  ThrowIfError(handle.mInstance.OpenStatus(), "opening an instance");
  if (!handle) throw HostError("opening an instance: no instance came back", kAudio_ParamError);
  return handle;
}

AudioUnitHandle::AudioUnitHandle(AudioUnitHandle&& other) noexcept
    : mInstance(std::move(other.mInstance)), mInitialized(std::exchange(other.mInitialized, false)) {}

AudioUnitHandle& AudioUnitHandle::operator=(AudioUnitHandle&& other) noexcept {
  if (this != &other) {
    Dispose();
    mInstance = std::move(other.mInstance);
    mInitialized = std::exchange(other.mInitialized, false);
  }
  return *this;
}

AudioUnitHandle::~AudioUnitHandle() {
  Dispose();
}

void AudioUnitHandle::Dispose() noexcept {
  Uninitialize();
  // Nothing sensible is left to do with a failed close.
  static_cast<void>(mInstance.Close());
}

void AudioUnitHandle::Initialize() {
  ThrowIfError(mInstance.Initialize(), "initializing the unit");
  mInitialized = true;
}

void AudioUnitHandle::Uninitialize() noexcept {
  if (!mInitialized) return;
  static_cast<void>(mInstance.Uninitialize());
  mInitialized = false;
}

void AudioUnitHandle::Reset() {
  ThrowIfError(AudioUnitReset(Get(), kAudioUnitScope_Global, 0), "resetting the unit");
}

PropertyInfo AudioUnitHandle::GetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope,
                                              AudioUnitElement element) const {
  const PropertyInfo info = mInstance.Info(id, scope, element);
  ThrowIfError(info.status, Describe("asking about", id, scope, element));
  return info;
}

void AudioUnitHandle::GetPropertyBytes(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                       void* data, UInt32 size) const {
  // A unit given too small a buffer truncates silently, so the size is
  // checked first.
  const PropertyInfo info = GetPropertyInfo(id, scope, element);
  if (info.size != size) {
    throw HostError(Describe("getting", id, scope, element) + ": the unit reports " +
                        std::to_string(info.size) + " bytes, not " + std::to_string(size),
                    kAudioUnitErr_InvalidPropertyValue);
  }
  UInt32 ioSize = size;
  ThrowIfError(mInstance.GetBytes(id, scope, element, data, ioSize), Describe("getting", id, scope, element));
}

void AudioUnitHandle::SetPropertyBytes(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                       const void* data, UInt32 size) {
  ThrowIfError(mInstance.SetBytes(id, scope, element, data, size), Describe("setting", id, scope, element));
}

Float32 AudioUnitHandle::GetParameter(AudioUnitParameterID id, AudioUnitScope scope,
                                      AudioUnitElement element) const {
  Float32 value = 0.0f;
  const OSStatus status = mInstance.GetParameter(id, scope, element, value);
  if (status != noErr) ThrowIfError(status, "getting parameter " + std::to_string(id));
  return value;
}

void AudioUnitHandle::SetParameter(AudioUnitParameterID id, Float32 value, AudioUnitScope scope,
                                   AudioUnitElement element) {
  const OSStatus status = mInstance.SetParameter(id, scope, element, value);
  if (status != noErr) ThrowIfError(status, "setting parameter " + std::to_string(id));
}

}  // namespace varsile::host
