// An open instance of a component, owned: the instance is uninitialized (if
// this handle initialized it) and disposed of when the handle goes. The
// throwing layer over UnitInstance: every call that fails throws a HostError
// naming the call and the status.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <string>
#include <type_traits>
#include <vector>

#include "HostError.h"
#include "StatusNames.h"
#include "UnitInstance.h"

namespace varsile::host {

class AudioUnitHandle {
 public:
  AudioUnitHandle() = default;
  static AudioUnitHandle Open(AudioComponent component);

  AudioUnitHandle(AudioUnitHandle&& other) noexcept;
  AudioUnitHandle& operator=(AudioUnitHandle&& other) noexcept;
  ~AudioUnitHandle();

  AudioUnit Get() const noexcept { return mInstance.Get(); }
  explicit operator bool() const noexcept { return static_cast<bool>(mInstance); }
  // The status layer, for calls whose failure the caller handles itself.
  UnitInstance& Instance() noexcept { return mInstance; }
  bool IsInitialized() const noexcept { return mInitialized; }

  void Initialize();
  void Uninitialize() noexcept;
  void Reset();

  // Size and writability of a property (the info query).
  PropertyInfo GetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) const;

  // A fixed-size property read into a value of its record type. The unit
  // must report exactly that size, so a record type that does not fit the
  // property is refused rather than half filled. Records with input fields
  // (a clump name's id) pass them in the starting value.
  template <typename T>
  T GetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, T value = {}) const {
    static_assert(std::is_trivially_copyable_v<T>);
    GetPropertyBytes(id, scope, element, &value, sizeof(T));
    return value;
  }

  // A property that holds an array of records (the parameter list).
  template <typename T>
  std::vector<T> GetPropertyArray(AudioUnitPropertyID id, AudioUnitScope scope,
                                  AudioUnitElement element) const {
    static_assert(std::is_trivially_copyable_v<T>);
    const UInt32 size = GetPropertyInfo(id, scope, element).size;
    std::vector<T> values(size / sizeof(T));
    if (!values.empty()) GetPropertyBytes(id, scope, element, values.data(), size - size % sizeof(T));
    return values;
  }

  // A property that hands the caller a new reference (class info, value
  // strings); the handle owns it.
  template <typename Ref>
  CFRef<Ref> CopyProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) const {
    Ref value = nullptr;
    GetPropertyBytes(id, scope, element, &value, sizeof(value));
    return CFRef<Ref>(value);
  }

  template <typename T>
  void SetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    SetPropertyBytes(id, scope, element, &value, sizeof(T));
  }

  void GetPropertyBytes(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, void* data,
                        UInt32 size) const;
  void SetPropertyBytes(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                        const void* data, UInt32 size);

  // Parameters of the global scope, element 0, unless told otherwise.
  Float32 GetParameter(AudioUnitParameterID id, AudioUnitScope scope = kAudioUnitScope_Global,
                       AudioUnitElement element = 0) const;
  void SetParameter(AudioUnitParameterID id, Float32 value, AudioUnitScope scope = kAudioUnitScope_Global,
                    AudioUnitElement element = 0);

 private:
  void Dispose() noexcept;

  UnitInstance mInstance;
  bool mInitialized = false;
};

}  // namespace varsile::host
