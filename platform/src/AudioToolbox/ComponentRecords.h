// What a component handle and an instance handle point at, and the registry's
// inner calls that the loader and the instances share.
#pragma once

#include <AudioUnit/AudioComponent.h>

#include <atomic>
#include <string>

// Immutable once registered, and never freed: handles a host holds stay valid
// for the life of the process.
struct OpaqueAudioComponent {
  AudioComponentDescription mDescription;
  CFStringRef mName;  // one reference, owned by the registry
  UInt32 mVersion;
  AudioComponentEntryProc mEntry;
  void* mLibrary;         // dlopen handle of a loaded module, never closed; null when linked in
  std::string mManifest;  // canonical manifest path of a loaded module; empty when linked in
};

struct ComponentInstanceRecord {
  AudioComponent mComponent;
  AudioComponentEntryProc mEntry;
  // Set on a control thread after open, read by render threads that reach an
  // upstream unit; the host orders the two, the atomic keeps the word whole.
  std::atomic<void*> mStorage;
};

namespace varsile::platform {

bool IsRegisteredComponent(AudioComponent component);

// Registers a component read from a manifest, unless that manifest was loaded
// before: then the earlier component is returned and *outAlreadyLoaded is set,
// and the caller gives back its library handle and name.
AudioComponent RegisterLoadedComponent(const AudioComponentDescription& description, CFStringRef name,
                                       UInt32 version, AudioComponentEntryProc entry, void* library,
                                       const std::string& manifest, bool* outAlreadyLoaded);

}  // namespace varsile::platform
