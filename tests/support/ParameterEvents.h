// Scheduled parameter events as a host builds them: global scope unless
// told otherwise.
#pragma once

#include <AudioUnit/AudioUnit.h>

namespace testevents {

inline AudioUnitParameterEvent ImmediateEvent(AudioUnitParameterID id, UInt32 offset, Float32 value,
                                              AudioUnitScope scope = kAudioUnitScope_Global,
                                              AudioUnitElement element = 0) noexcept {
  AudioUnitParameterEvent e{};
  e.scope = scope;
  e.element = element;
  e.parameter = id;
  e.eventType = kParameterEvent_Immediate;
  e.eventValues.immediate = {offset, value};
  return e;
}

inline AudioUnitParameterEvent RampedEvent(AudioUnitParameterID id, SInt32 start, UInt32 duration,
                                           Float32 from, Float32 to,
                                           AudioUnitScope scope = kAudioUnitScope_Global) noexcept {
  AudioUnitParameterEvent e{};
  e.scope = scope;
  e.parameter = id;
  e.eventType = kParameterEvent_Ramped;
  e.eventValues.ramp = {start, duration, from, to};
  return e;
}

}  // namespace testevents
