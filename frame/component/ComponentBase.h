// The generic component: the host's instance handle and the selectors every
// component answers (close, version, can-do).
#pragma once

#include <AudioUnit/AudioUnit.h>

class ComponentBase {
 public:
  explicit ComponentBase(AudioComponentInstance instance) noexcept : mComponentInstance(instance) {}
  virtual ~ComponentBase();

  ComponentBase(const ComponentBase&) = delete;
  ComponentBase& operator=(const ComponentBase&) = delete;

  // Called once after the most derived constructor has finished.
  virtual void PostConstructor();
  // Called by close before the instance is destroyed.
  virtual void PreDestructor();
  virtual SInt32 Version();

  AudioComponentInstance GetComponentInstance() const noexcept { return mComponentInstance; }

  // Close, version and can-do; anything else is badComponentSelector.
  static OSStatus ComponentEntryDispatch(ComponentParameters* params, ComponentBase* instance);

 protected:
  AudioComponentInstance mComponentInstance;
};
