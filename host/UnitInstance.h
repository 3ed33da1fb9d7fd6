// An open instance of a component, disposed of when it goes: the host calls
// with the few conveniences every host needs. Every call answers the
// component's own status and nothing here throws, so a validator sees every
// status; AudioUnitHandle is the throwing layer over it.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <Varsile/CoreTypes.h>

#include <type_traits>

namespace varsile::host {

struct PropertyInfo {
  OSStatus status = noErr;
  UInt32 size = 0;
  bool writable = false;
};

class UnitInstance {
 public:
  UnitInstance() = default;
  // Opens an instance; OpenStatus tells how that went.
  explicit UnitInstance(AudioComponent component);
  UnitInstance(UnitInstance&& other) noexcept;
  UnitInstance& operator=(UnitInstance&& other) noexcept;
  UnitInstance(const UnitInstance&) = delete;
  UnitInstance& operator=(const UnitInstance&) = delete;
  ~UnitInstance();

  AudioUnit Get() const noexcept { return mUnit; }
  OSStatus OpenStatus() const noexcept { return mOpenStatus; }
  explicit operator bool() const noexcept { return mUnit != nullptr; }
  // Closes now; the status of the close.
  OSStatus Close();

  PropertyInfo Info(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) const;
  OSStatus GetBytes(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, void* data,
                    UInt32& size) const;
  OSStatus SetBytes(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, const void* data,
                    UInt32 size);

  // A fixed-size value. A get that succeeds with a size other than the
  // value's is answered as kAudioUnitErr_InvalidPropertyValue, so callers
  // never read half a record.
  template <typename T>
  OSStatus Get(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, T& value) const {
    static_assert(std::is_trivially_copyable_v<T>);
    UInt32 size = sizeof(T);
    const OSStatus status = GetBytes(id, scope, element, &value, size);
    if (status == noErr && size != sizeof(T)) return kAudioUnitErr_InvalidPropertyValue;
    return status;
  }
  template <typename T>
  OSStatus Set(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    return SetBytes(id, scope, element, &value, sizeof(T));
  }

  OSStatus GetFormat(AudioUnitScope scope, AudioUnitElement element,
                     AudioStreamBasicDescription& format) const;
  OSStatus SetFormat(AudioUnitScope scope, AudioUnitElement element,
                     const AudioStreamBasicDescription& format);
  // The canonical format on input and output element 0.
  OSStatus ConfigureIO(Float64 sampleRate, UInt32 channels);
  OSStatus ConfigureIO(Float64 sampleRate, UInt32 inputChannels, UInt32 outputChannels);
  OSStatus SetMaxFrames(UInt32 frames);
  // 0 when the property cannot be read.
  UInt32 MaxFrames() const;

  OSStatus Initialize();
  OSStatus Uninitialize();

  OSStatus GetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                        Float32& value) const;
  OSStatus SetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                        Float32 value);

 private:
  AudioUnit mUnit = nullptr;
  OSStatus mOpenStatus = noErr;
};

}  // namespace varsile::host
