// The component module's single exported symbol: every selector the host
// sends arrives here.
#include "ComponentEntryPoint.h"
#include "Varsile.h"

// The storage word is the Varsile made by the open selector. Declared with the
// platform's entry type so that the loader may call it through that type.
extern "C" __attribute__((visibility("default"))) OSStatus VarsileEntry(ComponentParameters* params,
                                                                        void* storage) {
  return ComponentEntryPoint<Varsile>::Dispatch(params, static_cast<Varsile*>(storage));
}
