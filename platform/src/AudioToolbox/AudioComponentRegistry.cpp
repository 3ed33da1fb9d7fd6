// The component registry: every component the process knows, in registration
// order. Searched and extended on control threads only, so a mutex suffices.
#include <AudioToolbox/AudioComponentRegistry.h>
#include <AudioUnit/AUComponent.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "ComponentRecords.h"

namespace {

struct Registry {
  std::mutex mMutex;
  std::vector<std::unique_ptr<OpaqueAudioComponent>> mComponents;
};

// Never destroyed: modules' static destructors and late host calls may still
// reach components while the process exits.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

bool Matches(const AudioComponentDescription& have, const AudioComponentDescription* want) {
  if (want == nullptr) return true;
  return (want->componentType == 0 || want->componentType == have.componentType) &&
         (want->componentSubType == 0 || want->componentSubType == have.componentSubType) &&
         (want->componentManufacturer == 0 || want->componentManufacturer == have.componentManufacturer) &&
         (have.componentFlags & want->componentFlagsMask) ==
             (want->componentFlags & want->componentFlagsMask);
}

bool Valid(const AudioComponentDescription& description) {
  return description.componentType != 0 && description.componentSubType != 0 &&
         description.componentManufacturer != 0;
}

// Caller holds the mutex.
std::ptrdiff_t IndexOf(const Registry& registry, AudioComponent component) {
  const auto found = std::find_if(registry.mComponents.begin(), registry.mComponents.end(),
                                  [component](const auto& c) { return c.get() == component; });
  return found == registry.mComponents.end() ? -1 : found - registry.mComponents.begin();
}

AudioComponent Append(Registry& registry, const AudioComponentDescription& description, CFStringRef name,
                      UInt32 version, AudioComponentEntryProc entry, void* library,
                      const std::string& manifest) {
  auto component = std::unique_ptr<OpaqueAudioComponent>(
      new (std::nothrow) OpaqueAudioComponent{description, name, version, entry, library, manifest});
  if (!component) return nullptr;
  try {
    registry.mComponents.push_back(std::move(component));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return registry.mComponents.back().get();
}

}  // namespace

namespace varsile::platform {

bool IsRegisteredComponent(AudioComponent component) {
  if (component == nullptr) return false;
  Registry& registry = TheRegistry();
  const std::lock_guard lock(registry.mMutex);
  return IndexOf(registry, component) >= 0;
}

AudioComponent RegisterLoadedComponent(const AudioComponentDescription& description, CFStringRef name,
                                       UInt32 version, AudioComponentEntryProc entry, void* library,
                                       const std::string& manifest, bool* outAlreadyLoaded) {
  *outAlreadyLoaded = false;
  Registry& registry = TheRegistry();
  const std::lock_guard lock(registry.mMutex);
  for (const auto& component : registry.mComponents) {
    if (!component->mManifest.empty() && component->mManifest == manifest) {
      *outAlreadyLoaded = true;
      return component.get();
    }
  }
  return Append(registry, description, name, version, entry, library, manifest);
}

}  // namespace varsile::platform

extern "C" {

AudioComponent AudioComponentRegister(const AudioComponentDescription* inDesc, CFStringRef inName,
                                      UInt32 inVersion, AudioComponentEntryProc inEntry) {
  if (inDesc == nullptr || inEntry == nullptr || !Valid(*inDesc)) return nullptr;
  CFStringRef name = inName != nullptr ? static_cast<CFStringRef>(CFRetain(inName)) : CFSTR("");
  Registry& registry = TheRegistry();
  AudioComponent component;
  {
    const std::lock_guard lock(registry.mMutex);
    component = Append(registry, *inDesc, name, inVersion, inEntry, nullptr, std::string());
  }
  if (component == nullptr) CFRelease(name);
  return component;
}

AudioComponent AudioComponentFindNext(AudioComponent inComponent, const AudioComponentDescription* inDesc) {
  Registry& registry = TheRegistry();
  const std::lock_guard lock(registry.mMutex);
  std::size_t start = 0;
  if (inComponent != nullptr) {
    const std::ptrdiff_t index = IndexOf(registry, inComponent);
    if (index < 0) return nullptr;
    start = static_cast<std::size_t>(index) + 1;
  }
  for (std::size_t i = start; i < registry.mComponents.size(); ++i) {
    if (Matches(registry.mComponents[i]->mDescription, inDesc)) return registry.mComponents[i].get();
  }
  return nullptr;
}

UInt32 AudioComponentCount(const AudioComponentDescription* inDesc) {
  Registry& registry = TheRegistry();
  const std::lock_guard lock(registry.mMutex);
  return static_cast<UInt32>(
      std::count_if(registry.mComponents.begin(), registry.mComponents.end(),
                    [inDesc](const auto& c) { return Matches(c->mDescription, inDesc); }));
}

// Registered components never change, so once a handle is known to be one of
// ours its fields can be read without the lock.
OSStatus AudioComponentGetDescription(AudioComponent inComponent, AudioComponentDescription* outDesc) {
  if (inComponent == nullptr || outDesc == nullptr) return kAudio_ParamError;
  if (!varsile::platform::IsRegisteredComponent(inComponent)) return invalidComponentID;
  *outDesc = inComponent->mDescription;
  return noErr;
}

OSStatus AudioComponentCopyName(AudioComponent inComponent, CFStringRef* outName) {
  if (inComponent == nullptr || outName == nullptr) return kAudio_ParamError;
  if (!varsile::platform::IsRegisteredComponent(inComponent)) return invalidComponentID;
  *outName = static_cast<CFStringRef>(CFRetain(inComponent->mName));
  return noErr;
}

OSStatus AudioComponentGetVersion(AudioComponent inComponent, UInt32* outVersion) {
  if (inComponent == nullptr || outVersion == nullptr) return kAudio_ParamError;
  if (!varsile::platform::IsRegisteredComponent(inComponent)) return invalidComponentID;
  *outVersion = inComponent->mVersion;
  return noErr;
}

}  // extern "C"
