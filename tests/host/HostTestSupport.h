// The gate's component module, loaded through its manifest, for the host
// layer's tests.
#pragma once

#include <AudioToolbox/AudioComponentRegistry.h>
#include <gtest/gtest.h>

#include "AudioUnitHandle.h"

namespace hosttest {

inline AudioComponent GateComponent() {
  static const AudioComponent component = [] {
    AudioComponent loaded = nullptr;
    const OSStatus status = AudioComponentLoadManifest(VARSILE_COMPONENT_MANIFEST, &loaded);
    EXPECT_EQ(status, noErr) << AudioComponentLastLoadError();
    return loaded;
  }();
  return component;
}

inline varsile::host::AudioUnitHandle OpenGate() {
  return varsile::host::AudioUnitHandle::Open(GateComponent());
}

}  // namespace hosttest
