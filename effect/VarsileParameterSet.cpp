// The parameter set's operations: information with the interval names built
// from the key, value strings, and the master-volume coupling of the setter.
#include <AudioToolbox/AudioUnitUtilities.h>

#include <mutex>

#include "Varsile.h"

void Varsile::FillIntervalName(UInt32 interval, UInt32 keyPitchClass, AudioUnitParameterInfo& outInfo) {
  // Information requests may come from several control threads; none runs on
  // the render path, so a lock is affordable.
  const std::lock_guard<std::mutex> lock(mIntervalNamesMutex);
  mIntervalNames[interval].Reset(CFStringCreateMutable(kCFAllocatorDefault, 0));
  const CFMutableStringRef name = mIntervalNames[interval].Get();
  CFStringAppend(name, kRelativeNoteNames[interval]);
  CFStringAppend(name, kNoteNameSeparator);
  CFStringAppend(name, kAbsoluteNoteNames[(keyPitchClass + interval) % kNumberOfPitchClasses]);
  outInfo.cfNameString = name;
  CFStringGetCString(name, outInfo.name, sizeof outInfo.name, kCFStringEncodingUTF8);
}

OSStatus Varsile::GetParameterInfo(AudioUnitScope scope, AudioUnitParameterID id,
                                   AudioUnitParameterInfo& outInfo) {
  if (scope != kAudioUnitScope_Global || id >= kNumberOfGateParams) return kAudioUnitErr_InvalidParameter;
  const GateParameterSpec& row = kGateParameterTable[id];

  if (IsIntervalParameter(id)) {
    FillIntervalName(id - kGateParam_FirstInterval, KeyPitchClass(GetParameter(kGateParam_Key)), outInfo);
  } else {
    outInfo.cfNameString = *row.name;
    CFStringGetCString(*row.name, outInfo.name, sizeof outInfo.name, kCFStringEncodingUTF8);
  }
  outInfo.clumpID = row.clumpID;
  outInfo.unit = row.unit;
  outInfo.minValue = row.minValue;
  outInfo.maxValue = row.maxValue;
  outInfo.defaultValue = row.defaultValue;
  outInfo.flags = row.flags;
  return noErr;
}

OSStatus Varsile::GetParameterValueStrings(AudioUnitScope scope, AudioUnitParameterID id,
                                           CFArrayRef* outStrings) {
  if (scope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidProperty;
  CFIndex count = 0;
  if (id == kGateParam_Key) {
    count = kNumberOfPitchClasses;
  } else if (id == kGateParam_CurrentNote) {
    count = kNumberOfPitchClasses + 1;  // with "Pitch tracker off"
  } else {
    return kAudioUnitErr_InvalidProperty;
  }
  if (outStrings == nullptr) return noErr;

  const void* values[kNumberOfPitchClasses + 1];
  for (CFIndex i = 0; i < count; ++i) values[i] = kAbsoluteNoteNames[i];
  // Constant strings: no retain or release callbacks.
  *outStrings = CFArrayCreate(kCFAllocatorDefault, values, count, nullptr);
  return noErr;
}

OSStatus Varsile::SetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                               AudioUnitParameterValue value, UInt32 bufferOffsetInFrames) {
  // A set the frame refuses, thrown or returned (the group scope returns its
  // refusal), changes nothing here either.
  const OSStatus status = AUEffectBase::SetParameter(id, scope, element, value, bufferOffsetInFrames);
  if (status != noErr) return status;

  // The coupling looks at the id alone, never at scope or element.
  if (IsIntervalParameter(id)) {
    mVolumeOffsets[id - kGateParam_FirstInterval].store(value - MasterVolume(), std::memory_order_relaxed);
  } else if (id == kGateParam_Key) {
    // The interval names depend on the key.
    PropertyChanged(kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, 0);
  } else if (id == kGateParam_MasterVolume) {
    mMasterVolume.store(value, std::memory_order_relaxed);
    for (UInt32 n = 0; n < kNumberOfIntervals; ++n) {
      Float32 volume = value + VolumeOffset(n);
      if (volume < 0.0f) {
        volume = 0.0f;
      } else if (volume > 100.0f) {
        volume = 100.0f;
      }
      // The direct store keeps the offset: the interval remembers where the
      // user put it relative to the master.
      SetParameter(kGateParam_FirstInterval + n, volume);
      NotifyParameterChange(kGateParam_FirstInterval + n);
    }
  }
  return status;
}

void Varsile::NotifyParameterChange(AudioUnitParameterID id) const {
  AudioUnitEvent event{};
  event.mEventType = kAudioUnitEvent_ParameterValueChange;
  event.mArgument.mParameter.mAudioUnit = mComponentInstance;
  event.mArgument.mParameter.mParameterID = id;
  event.mArgument.mParameter.mScope = kAudioUnitScope_Global;
  event.mArgument.mParameter.mElement = 0;
  AUEventListenerNotify(nullptr, nullptr, &event);
}

void Varsile::RederiveVolumeCoupling() {
  PropertyChanged(kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, 0);
  const Float32 master = GetParameter(kGateParam_MasterVolume);
  mMasterVolume.store(master, std::memory_order_relaxed);
  for (UInt32 n = 0; n < kNumberOfIntervals; ++n) {
    mVolumeOffsets[n].store(GetParameter(kGateParam_FirstInterval + n) - master, std::memory_order_relaxed);
  }
}
