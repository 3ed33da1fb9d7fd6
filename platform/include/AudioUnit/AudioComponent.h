// Components: descriptions, the registry a host searches, instances and their
// storage. The registry itself is the host side's; see AudioComponentRegistry.h
// for how components get into it.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <cstddef>

struct AudioComponentDescription {
  OSType componentType;
  OSType componentSubType;
  OSType componentManufacturer;
  UInt32 componentFlags;
  UInt32 componentFlagsMask;
};
static_assert(sizeof(AudioComponentDescription) == 20);
using ComponentDescription = AudioComponentDescription;

using AudioComponent = struct OpaqueAudioComponent*;
using AudioComponentInstance = struct ComponentInstanceRecord*;
using ComponentInstance = AudioComponentInstance;
using AudioUnit = AudioComponentInstance;

// The call record a host hands to a component's entry, in its 64-bit layout:
// the selector at bytes 2-3 and the argument words from byte 8.
struct ComponentParameters {
  UInt8 flags;
  UInt8 paramSize;
  SInt16 what;
  UInt32 padding;
  long params[8];  // room for the longest call (render: six arguments after word 0)
};
static_assert(offsetof(ComponentParameters, what) == 2);
static_assert(offsetof(ComponentParameters, params) == 8);
static_assert(sizeof(long) == 8);

using ComponentResult = OSStatus;
using AudioComponentEntryProc = OSStatus (*)(ComponentParameters* params, void* storage);

enum : SInt16 {
  kComponentOpenSelect = -1,
  kComponentCloseSelect = -2,
  kComponentCanDoSelect = -3,
  kComponentVersionSelect = -4,
};

enum : OSStatus {
  badComponentSelector = static_cast<OSStatus>(0x80008002),
  invalidComponentID = -3000,
};

extern "C" {

// Zero fields of the description are wildcards. Starts after inComponent, or
// at the first registered component when it is null.
AudioComponent AudioComponentFindNext(AudioComponent inComponent, const AudioComponentDescription* inDesc);
OSStatus AudioComponentGetDescription(AudioComponent inComponent, AudioComponentDescription* outDesc);
OSStatus AudioComponentCopyName(AudioComponent inComponent, CFStringRef* outName);
OSStatus AudioComponentGetVersion(AudioComponent inComponent, UInt32* outVersion);
UInt32 AudioComponentCount(const AudioComponentDescription* inDesc);

OSStatus AudioComponentInstanceNew(AudioComponent inComponent, AudioComponentInstance* outInstance);
OSStatus AudioComponentInstanceDispose(AudioComponentInstance inInstance);
AudioComponent AudioComponentInstanceGetComponent(AudioComponentInstance inInstance);
Boolean AudioComponentInstanceCanDo(AudioComponentInstance inInstance, SInt16 inSelectorID);

void SetComponentInstanceStorage(ComponentInstance inInstance, void* inStorage);
void* GetComponentInstanceStorage(ComponentInstance inInstance);

// Calls the instance's entry with a packed record.
OSStatus CallComponentDispatch(ComponentInstance inInstance, ComponentParameters* params);

}  // extern "C"
