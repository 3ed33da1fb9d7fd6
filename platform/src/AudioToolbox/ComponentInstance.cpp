// Component instances: the record behind an instance handle, opening and
// closing through the component's entry, and the storage the component
// attaches at open.
#include <AudioUnit/AUComponent.h>

#include <new>

#include "ComponentRecords.h"

extern "C" {

OSStatus AudioComponentInstanceNew(AudioComponent inComponent, AudioComponentInstance* outInstance) {
  if (outInstance == nullptr) return kAudio_ParamError;
  *outInstance = nullptr;
  if (inComponent == nullptr) return kAudio_ParamError;
  if (!varsile::platform::IsRegisteredComponent(inComponent)) return invalidComponentID;

  auto* record = new (std::nothrow) ComponentInstanceRecord{inComponent, inComponent->mEntry, nullptr};
  if (record == nullptr) return memFullErr;

  ComponentParameters params{};
  params.what = kComponentOpenSelect;
  params.paramSize = sizeof(long);
  params.params[0] = reinterpret_cast<long>(record);
  // No storage exists yet; the component attaches it during open.
  const OSStatus status = record->mEntry(&params, nullptr);
  if (status != noErr) {
    delete record;
    return status;
  }
  *outInstance = record;
  return noErr;
}

OSStatus AudioComponentInstanceDispose(AudioComponentInstance inInstance) {
  if (inInstance == nullptr) return kAudio_ParamError;
  ComponentParameters params{};
  params.what = kComponentCloseSelect;
  const OSStatus status = CallComponentDispatch(inInstance, &params);
  // The host is done with the handle whatever close answered.
  delete inInstance;
  return status;
}

AudioComponent AudioComponentInstanceGetComponent(AudioComponentInstance inInstance) {
  return inInstance != nullptr ? inInstance->mComponent : nullptr;
}

Boolean AudioComponentInstanceCanDo(AudioComponentInstance inInstance, SInt16 inSelectorID) {
  if (inInstance == nullptr) return false;
  ComponentParameters params{};
  params.what = kComponentCanDoSelect;
  params.paramSize = sizeof(long);
  // Sign-extended: the component compares it with the negative generic selectors.
  params.params[0] = static_cast<long>(inSelectorID);
  return CallComponentDispatch(inInstance, &params) > 0;
}

void SetComponentInstanceStorage(ComponentInstance inInstance, void* inStorage) {
  if (inInstance != nullptr) inInstance->mStorage.store(inStorage, std::memory_order_release);
}

void* GetComponentInstanceStorage(ComponentInstance inInstance) {
  return inInstance != nullptr ? inInstance->mStorage.load(std::memory_order_acquire) : nullptr;
}

OSStatus CallComponentDispatch(ComponentInstance inInstance, ComponentParameters* params) {
  if (inInstance == nullptr || params == nullptr) return kAudio_ParamError;
  return inInstance->mEntry(params, inInstance->mStorage.load(std::memory_order_acquire));
}

}  // extern "C"
