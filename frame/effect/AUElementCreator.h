// The factory through which a scope makes its elements; the component
// implements it so that each scope gets the element class it needs.
#pragma once

#include <AudioUnit/AudioUnit.h>

class AUElement;

class AUElementCreator {
 public:
  virtual ~AUElementCreator() = default;

  // A new element that the caller owns.
  virtual AUElement* CreateElement(AudioUnitScope scope, AudioUnitElement element) = 0;
};
