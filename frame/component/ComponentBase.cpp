// The generic component base and its selector dispatch.
#include "ComponentBase.h"

ComponentBase::~ComponentBase() = default;

void ComponentBase::PostConstructor() {}

void ComponentBase::PreDestructor() {}

SInt32 ComponentBase::Version() {
  return 1;
}

OSStatus ComponentBase::ComponentEntryDispatch(ComponentParameters* params, ComponentBase* instance) {
  if (params == nullptr || instance == nullptr) return kAudio_ParamError;
  switch (params->what) {
    case kComponentCloseSelect:
      instance->PreDestructor();
      delete instance;
      return noErr;
    case kComponentVersionSelect:
      return instance->Version();
    case kComponentCanDoSelect: {
      // Sign-extended by the host: the generic selectors are negative.
      const long selector = params->params[0];
      return selector >= kComponentVersionSelect && selector <= kComponentOpenSelect ? 1 : 0;
    }
    default:
      return badComponentSelector;
  }
}
