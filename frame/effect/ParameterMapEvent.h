// The stored state of one parameter: its current value, or the ramp that
// the last scheduled event set for the slice being processed.
#pragma once

#include <AudioUnit/AudioUnit.h>

struct ParameterMapEvent {
  UInt32 mEventKind = kParameterEvent_Immediate;
  SInt32 mOffsetInSlice = 0;  // ramp start relative to the slice start; may be negative
  UInt32 mDurationFrames = 0;
  Float32 mStartValue = 0.0f;  // the parameter's current value
  Float32 mEndValue = 0.0f;
  UInt32 mSliceFrames = 0;
};
static_assert(sizeof(ParameterMapEvent) == 24);
