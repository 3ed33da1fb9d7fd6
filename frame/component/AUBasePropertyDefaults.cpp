// What AUBase answers for the property-related virtual operations when no
// descendant does, and the input-side properties: connections and callbacks.
#include "AUBase.h"

OSStatus AUBase::GetPropertyInfo(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement, UInt32&, Boolean&) {
  return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::GetProperty(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement, void*) {
  return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::SetProperty(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement, const void*, UInt32) {
  return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::RemovePropertyValue(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
  return kAudioUnitErr_InvalidPropertyValue;
}

bool AUBase::BusCountWritable(AudioUnitScope) {
  return false;
}

OSStatus AUBase::SetBusCount(AudioUnitScope scope, UInt32 count) {
  if (IsInitialized()) return kAudioUnitErr_Initialized;
  GetScope(scope).SetNumberOfElements(count);
  return noErr;
}

OSStatus AUBase::SetConnection(const AudioUnitConnection& connection) {
  AUInputElement* input = GetInput(connection.destInputNumber);
  if (connection.sourceAudioUnit != nullptr) {
    // The input takes the upstream's output format, through the same checks
    // as a host's format set: a refused format leaves the input unconnected.
    AudioStreamBasicDescription format{};
    UInt32 size = sizeof(format);
    OSStatus status =
        AudioUnitGetProperty(connection.sourceAudioUnit, kAudioUnitProperty_StreamFormat,
                             kAudioUnitScope_Output, connection.sourceOutputNumber, &format, &size);
    if (status != noErr) return status;
    status = DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input,
                                 connection.destInputNumber, &format, sizeof(format));
    if (status != noErr) return status;
  }
  input->SetConnection(connection);
  PropertyChanged(kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, connection.destInputNumber);
  return noErr;
}

OSStatus AUBase::SetInputCallback(UInt32 propertyID, AudioUnitElement element, AURenderCallback proc,
                                  void* refCon) {
  GetInput(element)->SetInputCallback(proc, refCon);
  PropertyChanged(propertyID, kAudioUnitScope_Input, element);
  return noErr;
}

OSStatus AUBase::GetParameterList(AudioUnitScope scope, AudioUnitParameterID* outList,
                                  UInt32& outNumParameters) {
  // The scope's list is that of its element with the most parameters; the
  // earlier element wins a tie.
  const AUScope& elements = GetScope(scope);
  const AUElement* largest = nullptr;
  UInt32 most = 0;
  for (UInt32 i = 0; i < elements.GetNumberOfElements(); ++i) {
    const AUElement* element = elements.GetElement(i);
    if (element != nullptr && element->GetNumberOfParameters() > most) {
      largest = element;
      most = element->GetNumberOfParameters();
    }
  }
  if (outList != nullptr && largest != nullptr) largest->GetParameterList(outList);
  outNumParameters = most;
  return noErr;
}

OSStatus AUBase::GetParameterInfo(AudioUnitScope, AudioUnitParameterID, AudioUnitParameterInfo&) {
  return kAudioUnitErr_InvalidParameter;
}

OSStatus AUBase::GetParameterValueStrings(AudioUnitScope, AudioUnitParameterID, CFArrayRef*) {
  return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::CopyClumpName(AudioUnitScope, UInt32, SInt32, CFStringRef*) {
  return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::GetPresets(CFArrayRef*) const {
  return kAudioUnitErr_InvalidProperty;
}

OSStatus AUBase::NewFactoryPresetSet(const AUPreset&) {
  return kAudioUnitErr_InvalidProperty;
}

void AUBase::GetUIComponentDescs(ComponentDescription*) {}

UInt32 AUBase::SupportedNumChannels(const AUChannelInfo**) {
  return 0;
}

bool AUBase::HasIcon() {
  return static_cast<bool>(varsile::CFRef<CFURLRef>(CopyIconLocation()));
}
