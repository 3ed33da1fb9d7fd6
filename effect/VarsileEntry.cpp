// The component module's exported symbols, one per component it holds: every
// selector the host sends arrives at one of them.
#include "ComponentEntryPoint.h"
#include "Varsile.h"
#include "VarsileLookahead.h"

// The storage word is the Varsile made by the open selector. Declared with the
// platform's entry type so that the loader may call it through that type.
extern "C" __attribute__((visibility("default"))) OSStatus VarsileEntry(ComponentParameters* params,
                                                                        void* storage) {
  return ComponentEntryPoint<Varsile>::Dispatch(params, static_cast<Varsile*>(storage));
}

extern "C" __attribute__((visibility("default"))) OSStatus VarsileLookaheadEntry(ComponentParameters* params,
                                                                                 void* storage) {
  return ComponentEntryPoint<VarsileLookahead>::Dispatch(params, static_cast<VarsileLookahead*>(storage));
}
