// One element of a scope: its parameters and its name.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>
#include <Varsile/CoreTypes.h>

#include <atomic>
#include <map>
#include <vector>

#include "ParameterMapEvent.h"

class AUBase;

class AUElement {
 public:
  explicit AUElement(AUBase* audioUnit);
  virtual ~AUElement() = default;

  AUElement(const AUElement&) = delete;
  AUElement& operator=(const AUElement&) = delete;

  // Switches the element to a table of `count` parameters with ids 0..count-1;
  // existing table entries keep their state. The map is ignored from then on.
  virtual void UseIndexedParameters(SInt32 count);

  AUBase* GetAudioUnit() const noexcept { return mOwner; }

  // Parameter store. Unknown ids throw kAudioUnitErr_InvalidParameter.
  ParameterMapEvent& GetParamEvent(AudioUnitParameterID id);
  const ParameterMapEvent& GetParamEvent(AudioUnitParameterID id) const;
  // Inline for the table.
  Float32 GetParameter(AudioUnitParameterID id) const {
    if (mUsesTable && id < mParameterTable.size()) [[likely]]
      return LoadValue(mParameterTable[id].mStartValue);
    return GetMappedParameter(id);
  }
  // Values of the table's ids first .. first + count - 1 into out, as
  // GetParameter reads them; false, with out untouched, when the element has
  // no table or the table not all of those ids.
  bool GetTableParameters(AudioUnitParameterID first, UInt32 count, Float32* out) const noexcept {
    if (!mUsesTable || first > mParameterTable.size() || count > mParameterTable.size() - first) return false;
    for (UInt32 i = 0; i < count; ++i) out[i] = LoadValue(mParameterTable[first + i].mStartValue);
    return true;
  }
  // In map mode an absent id is created only while the component is not
  // initialized, unless okWhenInitialized.
  void SetParameter(AudioUnitParameterID id, Float32 value, bool okWhenInitialized = false);
  void SetScheduledEvent(AudioUnitParameterID id, const AudioUnitParameterEvent& event,
                         UInt32 sliceOffsetInBuffer, UInt32 sliceFrames, bool okWhenInitialized = false);
  // Writes GetNumberOfParameters() ids: 0..n-1 in table mode, ascending in map mode.
  void GetParameterList(AudioUnitParameterID* outList) const;
  UInt32 GetNumberOfParameters() const noexcept;
  bool UsesIndexedParameters() const noexcept { return mUsesTable; }

  // Appends the element's big-endian state record: count, then (id, value bits) pairs.
  void SaveState(CFMutableDataRef data) const;
  // Reads one state record from [p, end) and sets its parameters in order.
  // A record that does not fit throws kAudioUnitErr_InvalidPropertyValue
  // before anything is set. Returns the position after the record.
  const UInt8* RestoreState(const UInt8* p, const UInt8* end);

  // Name: a retained string, null when unnamed.
  CFStringRef GetName() const noexcept { return mName.Get(); }
  void SetName(CFStringRef name);
  bool HasName() const noexcept { return static_cast<bool>(mName); }

 protected:
  // A value is one aligned word that control threads write without a lock;
  // atomic_ref needs a mutable object, but the load does not write it.
  static Float32 LoadValue(const Float32& field) noexcept {
    return std::atomic_ref<Float32>(const_cast<Float32&>(field)).load(std::memory_order_relaxed);
  }
  // GetParameter without the table: the map, or kAudioUnitErr_InvalidParameter.
  Float32 GetMappedParameter(AudioUnitParameterID id) const;
  // The entry a set writes: null when the id is not in the map and may not be added now.
  ParameterMapEvent* EntryToWrite(AudioUnitParameterID id, bool okWhenInitialized);

  AUBase* mOwner;
  std::map<AudioUnitParameterID, ParameterMapEvent> mParameterMap;
  bool mUsesTable = false;
  std::vector<ParameterMapEvent> mParameterTable;
  varsile::CFRef<CFStringRef> mName;
};
