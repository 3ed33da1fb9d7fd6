// The effect instance: construction with its defaults, the meters, the clump
// names, the state-restore hook and the answers about itself.
#include "Varsile.h"

#include <array>
#include <bit>
#include <cstring>

#include "CatchAsStatus.h"

Varsile::Varsile(AudioComponentInstance instance) : AUEffectBase(instance, true) {
  CreateElements();
  Globals().SafeGetElement(0)->UseIndexedParameters(kNumberOfGateParams);
  // Through the effect's own SetParameter, so the master volume's coupling runs.
  for (const AudioUnitParameterID id : kGateParameterDefaultOrder) {
    SetParameter(id, kAudioUnitScope_Global, 0, kGateParameterTable[id].defaultValue, 0);
  }
  mLastReportedNote = -1;
}

Varsile::VarsileKernel* Varsile::FirstKernel() const noexcept {
  for (const auto& kernel : mKernels) {
    if (kernel) return static_cast<VarsileKernel*>(kernel.get());
  }
  return nullptr;
}

OSStatus Varsile::GetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                               AudioUnitParameterValue& outValue) {
  if (id != kGateParam_CurrentVolume && id != kGateParam_Accuracy) {
    return AUEffectBase::GetParameter(id, scope, element, outValue);
  }
  // Meters answer whatever the scope and element; without kernels there is
  // nothing to measure and the caller's value stays as it was.
  VarsileKernel* kernel = FirstKernel();
  if (kernel == nullptr) return noErr;
  if (id == kGateParam_CurrentVolume) {
    outValue = kernel->Volume();
    return noErr;
  }

  outValue = kernel->Tracker().Accuracy();
  // The current note follows the first channel's tracker only when the
  // accuracy is read, and is announced once per change.
  const auto pitchClass = static_cast<SInt32>(static_cast<UInt32>(kernel->Tracker().PitchClass()));
  if (pitchClass != mLastReportedNote) {
    mLastReportedNote = pitchClass;
    const Float32 note =
        pitchClass == -1 ? static_cast<Float32>(kNotePitchTrackerOff) : static_cast<Float32>(pitchClass);
    SetParameter(kGateParam_CurrentNote, note);
    NotifyParameterChange(kGateParam_CurrentNote);
  }
  return noErr;
}

OSStatus Varsile::GetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                  UInt32& outDataSize, Boolean& outWritable) {
  if (id == kAudioUnitProperty_ParameterClumpName) {
    outDataSize = sizeof(AudioUnitParameterNameInfo);
    outWritable = false;
    return noErr;
  }
  return AUEffectBase::GetPropertyInfo(id, scope, element, outDataSize, outWritable);
}

OSStatus Varsile::GetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                              void* outData) {
  if (id != kAudioUnitProperty_ParameterClumpName)
    return AUEffectBase::GetProperty(id, scope, element, outData);
  if (scope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;

  // The host's record need not be aligned.
  AudioUnitParameterNameInfo record;
  std::memcpy(&record, outData, sizeof record);
  const CFStringRef name = GateClumpName(record.inID);
  // No clump has this id: the same answer the frame gives for clump 0.
  if (name == nullptr) return kAudioUnitErr_InvalidPropertyValue;
  // Never shortened to inDesiredLength.
  record.outName = static_cast<CFStringRef>(CFRetain(name));
  std::memcpy(outData, &record, sizeof record);
  return noErr;
}

OSStatus Varsile::RestoreState(CFPropertyListRef data) {
  // A restore may fail part-way, keeping the values it applied before the
  // failing record: the coupling must follow those too.
  const auto storedBits = [this] {
    std::array<UInt32, kNumberOfGateParams> bits{};
    for (AudioUnitParameterID id = 0; id < kNumberOfGateParams; ++id) {
      bits[id] = std::bit_cast<UInt32>(GetParameter(id));
    }
    return bits;
  };
  const auto before = storedBits();
  const OSStatus status = CatchAsStatus([&] { return AUEffectBase::RestoreState(data); });
  if (status == noErr || storedBits() != before) RederiveVolumeCoupling();
  return status;
}
