// Parameter-change events: components announce changed parameter values, and
// hosts that registered a listener hear of them.
#pragma once

#include <AudioUnit/AudioUnit.h>

using AudioUnitEventType = UInt32;
enum : AudioUnitEventType {
  kAudioUnitEvent_ParameterValueChange = 0,
  kAudioUnitEvent_BeginParameterChangeGesture = 1,
  kAudioUnitEvent_EndParameterChangeGesture = 2,
  kAudioUnitEvent_PropertyChange = 3,
};

struct AudioUnitParameter {
  AudioUnit mAudioUnit;
  AudioUnitParameterID mParameterID;
  AudioUnitScope mScope;
  AudioUnitElement mElement;
};

struct AudioUnitProperty {
  AudioUnit mAudioUnit;
  AudioUnitPropertyID mPropertyID;
  AudioUnitScope mScope;
  AudioUnitElement mElement;
};

struct AudioUnitEvent {
  AudioUnitEventType mEventType;
  union {
    AudioUnitParameter mParameter;
    AudioUnitProperty mProperty;
  } mArgument;
};
static_assert(offsetof(AudioUnitEvent, mArgument) == 8);
static_assert(sizeof(AudioUnitEvent) == 32);

using AUEventListenerRef = struct AUEventListenerOpaque*;

// Called on the thread that sent the event.
using AUEventListenerProc = void (*)(void* inUserData, void* inObject, const AudioUnitEvent* inEvent,
                                     UInt64 inEventHostTime, AudioUnitParameterValue inParameterValue);

extern "C" {

// Tells every listener whose unit matches the event's (or that listens to all
// units) of the event. inSendingListener, when given, is not told.
OSStatus AUEventListenerNotify(AUEventListenerRef inSendingListener, void* inSendingObject,
                               const AudioUnitEvent* inEvent);

}  // extern "C"
