#include "AUBase.h"

#include <atomic>

#include "AUElementCast.h"

AUBase::AUBase(AudioComponentInstance instance, UInt32 numInputElements, UInt32 numOutputElements,
               UInt32 numGroupElements, UInt32 numPartElements)
    : ComponentBase(instance),
      mInitNumInputEls(numInputElements),
      mInitNumOutputEls(numOutputElements),
      mInitNumGroupEls(numGroupElements),
      mInitNumPartEls(numPartElements) {
  mAudioUnitAPIVersion = 2;
  // No listener and no buffer exist yet: this only stores the value.
  SetMaxFramesPerSlice(kDefaultMaxFramesPerSlice);
  mScopes[kAudioUnitScope_Global].Initialize(this, kAudioUnitScope_Global, 1);
  mPendingEvents.reserve(24);
  mCurrentPreset.presetNumber = -1;
  mCurrentPreset.presetName = CFSTR("Untitled");
  CFRetain(mCurrentPreset.presetName);
}

// The members then go in reverse order of declaration: listeners, pending
// events, notifications, and the scopes from the part scope back to global.
AUBase::~AUBase() {
  if (mCurrentPreset.presetName != nullptr) CFRelease(mCurrentPreset.presetName);
  if (mContextName != nullptr) CFRelease(mContextName);
}

void AUBase::CreateElements() {
  if (mElementsCreated) return;
  mScopes[kAudioUnitScope_Input].Initialize(this, kAudioUnitScope_Input, mInitNumInputEls);
  mScopes[kAudioUnitScope_Output].Initialize(this, kAudioUnitScope_Output, mInitNumOutputEls);
  mScopes[kAudioUnitScope_Group].Initialize(this, kAudioUnitScope_Group, mInitNumGroupEls);
  mScopes[kAudioUnitScope_Part].Initialize(this, kAudioUnitScope_Part, mInitNumPartEls);
  mElementsCreated = true;
}

AUElement* AUBase::CreateElement(AudioUnitScope scope, AudioUnitElement) {
  switch (scope) {
    case kAudioUnitScope_Global:
    case kAudioUnitScope_Group:
    case kAudioUnitScope_Part:
      return new AUElement(this);
    case kAudioUnitScope_Input:
      return new AUInputElement(this);
    case kAudioUnitScope_Output:
      return new AUOutputElement(this);
    default:
      throw static_cast<OSStatus>(kAudioUnitErr_InvalidScope);
  }
}

OSStatus AUBase::DoInitialize() {
  if (IsInitialized()) return noErr;
  if (const OSStatus status = Initialize(); status != noErr) return status;
  mHasBegunInitializing = true;
  try {
    ReallocateBuffers();
  } catch (...) {
    // Leave the instance as a failed Initialize would: uninitialized, with
    // whatever Initialize set up undone.
    Cleanup();
    mHasBegunInitializing = false;
    throw;
  }
  // A render that sees the flag must also see the buffers: a sequentially
  // consistent store is the full barrier.
  mInitialized.store(true, std::memory_order_seq_cst);
  return noErr;
}

void AUBase::DoCleanup() {
  if (IsInitialized()) Cleanup();
  mInitialized.store(false, std::memory_order_seq_cst);
  mHasBegunInitializing = false;
}

OSStatus AUBase::Reset(AudioUnitScope, AudioUnitElement) {
  mLastSampleTime.store(kNoLastRenderedSampleTime, std::memory_order_relaxed);
  return noErr;
}

void AUBase::ReallocateBuffers() {
  CreateElements();
  AUScope& outputs = Outputs();
  for (UInt32 i = 0; i < outputs.GetNumberOfElements(); ++i) outputs.GetIOElement(i)->AllocateBuffer(0);
  AUScope& inputs = Inputs();
  for (UInt32 i = 0; i < inputs.GetNumberOfElements(); ++i) inputs.GetIOElement(i)->AllocateBuffer(0);
  mBuffersAllocated = true;
}

void AUBase::SetMaxFramesPerSlice(UInt32 frames) {
  mMaxFramesPerSlice = frames;
  if (mBuffersAllocated) ReallocateBuffers();
  PropertyChanged(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0);
}

OSStatus AUBase::CanSetMaxFrames() const {
  return IsInitialized() ? OSStatus{kAudioUnitErr_Initialized} : OSStatus{noErr};
}

AudioComponentDescription AUBase::GetComponentDescription() const {
  AudioComponentDescription description{};
  if (mComponentInstance == nullptr) return description;
  AudioComponent component = AudioComponentInstanceGetComponent(mComponentInstance);
  if (component != nullptr && AudioComponentGetDescription(component, &description) != noErr)
    description = {};
  return description;
}

AUScope& AUBase::GetScope(AudioUnitScope scope) {
  if (scope >= kNumScopes) throw static_cast<OSStatus>(kAudioUnitErr_InvalidScope);
  return mScopes[scope];
}

const AUScope& AUBase::GetScope(AudioUnitScope scope) const {
  if (scope >= kNumScopes) throw static_cast<OSStatus>(kAudioUnitErr_InvalidScope);
  return mScopes[scope];
}

AUElement* AUBase::GetElement(AudioUnitScope scope, AudioUnitElement element) {
  return GetScope(scope).GetElement(element);
}

AUElement* AUBase::SafeGetElement(AudioUnitScope scope, AudioUnitElement element) {
  return GetScope(scope).SafeGetElement(element);
}

AUIOElement* AUBase::GetIOElement(AudioUnitScope scope, AudioUnitElement element) {
  return GetScope(scope).GetIOElement(element);
}

AUInputElement* AUBase::GetInput(AudioUnitElement element) {
  auto* input = AUElementCast<AUInputElement>(Inputs().GetElement(element));
  if (input == nullptr) throw static_cast<OSStatus>(kAudioUnitErr_InvalidElement);
  return input;
}

AUOutputElement* AUBase::GetOutput(AudioUnitElement element) {
  auto* output = AUElementCast<AUOutputElement>(Outputs().GetElement(element));
  if (output == nullptr) throw static_cast<OSStatus>(kAudioUnitErr_InvalidElement);
  return output;
}
