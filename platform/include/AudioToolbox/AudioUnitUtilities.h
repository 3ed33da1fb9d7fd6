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

// How a host registers for these events. Not named by the platform's
// component interface; this stand-in's own, in the platform's style.
//
// A listener is a callback with its user data; it hears the events it added
// with AUEventListenerAddEventType. The callback runs synchronously on the
// thread that called AUEventListenerNotify (possibly a render thread), once
// per matching (listener, object) pair, and receives the object it was added
// with, a host time of 0 and a parameter value of 0: a sender's event record
// carries no value, and the callback may ask the unit itself. A listener is
// not told of its own events, nor is a subscription whose object is the
// sending object.
//
// The registry is a fixed table: notification neither locks nor allocates.
inline constexpr UInt32 kAUEventListener_MaxListeners = 64;
inline constexpr UInt32 kAUEventListener_MaxEventTypes = 128;  // per listener

// An event's parameter id that matches every parameter (and every scope and
// element) of the unit. A null unit in an added event matches every unit.
inline constexpr AudioUnitParameterID kAUEventListener_AnyParameter = 0xFFFFFFFF;

// memFullErr when all listener slots are taken; kAudio_ParamError for a null
// procedure or out-pointer.
OSStatus AUEventListenerCreateWithCallback(AUEventListenerProc inProc, void* inUserData,
                                           AUEventListenerRef* outListener);

// Subscribes the listener to events of inEvent's type for inEvent's unit and
// parameter (or property) id, scope and element. Adding the same subscription
// twice keeps one. memFullErr when the listener has no free subscription slot.
OSStatus AUEventListenerAddEventType(AUEventListenerRef inListener, void* inObject,
                                     const AudioUnitEvent* inEvent);

// Removes a subscription added with the same object and event; kAudio_ParamError
// if there is none. Once it returns (outside a callback) the subscription is
// heard no more.
OSStatus AUEventListenerRemoveEventType(AUEventListenerRef inListener, void* inObject,
                                        const AudioUnitEvent* inEvent);

// Disposes of a listener. Outside a callback it waits until no notification
// still runs that could call it, so the user data may be freed on return.
// Called from inside a callback it returns at once: the listener is not told
// of later events, but other threads' notifications already under way may
// still be calling it.
OSStatus AUListenerDispose(AUEventListenerRef inListener);

}  // extern "C"
