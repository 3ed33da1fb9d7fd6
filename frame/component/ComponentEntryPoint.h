// The exported entry's work: the open selector makes the instance, every
// other selector goes to the dispatcher, and whatever is thrown on the way
// becomes a status.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <memory>
#include <mutex>
#include <new>

#include "AUBase.h"
#include "CatchAsStatus.h"

// Holds the process-wide open mutex for its lifetime, so that no two
// instances are constructed at the same time.
class ComponentInitLocker {
 public:
  ComponentInitLocker() { sComponentOpenMutex.lock(); }
  ~ComponentInitLocker() { sComponentOpenMutex.unlock(); }

  ComponentInitLocker(const ComponentInitLocker&) = delete;
  ComponentInitLocker& operator=(const ComponentInitLocker&) = delete;

  static std::mutex sComponentOpenMutex;  // constant-initialised: usable before main
};

template <class Class>
class ComponentEntryPoint {
 public:
  // `instance` is the host's instance storage: meaningless for open, the
  // object made by open for every later selector.
  static OSStatus Dispatch(ComponentParameters* params, Class* instance) noexcept {
    return CatchAsStatus([&]() -> OSStatus {
      if (params == nullptr) return kAudio_ParamError;
      if (params->what != kComponentOpenSelect) return AUBase::ComponentEntryDispatch(params, instance);
      return Open(reinterpret_cast<AudioComponentInstance>(params->params[0]));
    });
  }

 private:
  static OSStatus Open(AudioComponentInstance handle) {
    // Nowhere to store the instance: it could never be closed.
    if (handle == nullptr) return kAudio_ParamError;
    const ComponentInitLocker lock;
    // Freed on every failure, a failing PostConstructor included: the host
    // never received it and will not close it.
    auto object = std::make_unique<Class>(handle);
    object->PostConstructor();
    SetComponentInstanceStorage(handle, object.get());
    object.release();
    return noErr;
  }
};
