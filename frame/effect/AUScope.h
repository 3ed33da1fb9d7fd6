// One of the five scopes of a component: an ordered list of owned elements,
// index = element number.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>

#include <memory>
#include <vector>

#include "AUElement.h"
#include "AUElementCreator.h"

class AUIOElement;

class AUScope {
 public:
  // A restore of element names never grows a scope beyond this many
  // elements: the keys come from saved state that may be damaged or hostile.
  static constexpr UInt32 kMaxElementsFromNames = 1024;

  AUScope() = default;
  ~AUScope();

  AUScope(const AUScope&) = delete;
  AUScope& operator=(const AUScope&) = delete;

  void Initialize(AUElementCreator* creator, AudioUnitScope scope, UInt32 numElements);

  AudioUnitScope GetScope() const noexcept { return mScope; }
  UInt32 GetNumberOfElements() const noexcept { return static_cast<UInt32>(mElements.size()); }
  // Null when there is no such element.
  AUElement* GetElement(UInt32 index) const noexcept {
    return index < mElements.size() ? mElements[index].get() : nullptr;
  }
  // Throws kAudioUnitErr_InvalidElement when there is no such element.
  AUElement* SafeGetElement(UInt32 index) const;
  // Throws kAudioUnitErr_InvalidElement also when the element is not an I/O element.
  AUIOElement* GetIOElement(UInt32 index) const;

  // Grows through the element creator, or deletes elements from the end.
  void SetNumberOfElements(UInt32 count);

  bool HasElementWithName() const noexcept;
  // Adds {"<scope>": {"<element>": name, ...}} when some element is named.
  void AddElementNamesToDict(CFMutableDictionaryRef nameDict) const;
  // Names elements from {"<element>": name}; true when the scope had to grow.
  // Entries whose key is not a canonical unsigned decimal below
  // kMaxElementsFromNames, or whose value is not a string, are ignored; so
  // are names of missing elements when the scope may not grow (a render may
  // be reading its elements).
  bool RestoreElementNames(CFDictionaryRef nameDict, bool mayGrow = true);

 private:
  AUElementCreator* mCreator = nullptr;
  AudioUnitScope mScope = 0;
  std::vector<std::unique_ptr<AUElement>> mElements;
};
