// The gate's component module, loaded through its manifest, for the host
// layer's tests.
#pragma once

#include "AudioUnitHandle.h"
#include "HostedGate.h"

namespace hosttest {

using reliability::GateComponent;

inline varsile::host::AudioUnitHandle OpenGate() {
  return varsile::host::AudioUnitHandle::Open(GateComponent());
}

}  // namespace hosttest
