// AUBase parameter operations, scheduled parameter events and the fast parameter entries.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "AUBase.h"
#include "CatchAsStatus.h"

namespace {

// The word at bytes 16-19 is the immediate event's offset and the ramp's
// start offset alike; which way it is compared is decided at each use.
UInt32 OffsetWord(const AudioUnitParameterEvent& event) noexcept {
  UInt32 word = 0;
  std::memcpy(&word, reinterpret_cast<const Byte*>(&event) + offsetof(AudioUnitParameterEvent, eventValues),
              sizeof word);
  return word;
}

SInt32 SignedOffset(const AudioUnitParameterEvent& event) noexcept {
  return static_cast<SInt32>(OffsetWord(event));
}

// Start plus duration, added unsigned (a ramp may have begun before the
// buffer and may be long); the caller decides whether to read it signed.
UInt32 RampEnd(const AudioUnitParameterEvent& event) noexcept {
  return OffsetWord(event) + event.eventValues.ramp.durationInFrames;
}

// Whether a scheduled event for `id` can be applied to `element`: a table
// holds the ids below its size; a map ignores an id it lacks once initialized.
bool CanApply(const AUElement& element, AudioUnitParameterID id) noexcept {
  return !element.UsesIndexedParameters() || id < element.GetNumberOfParameters();
}

}  // namespace

OSStatus AUBase::SetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                              AudioUnitParameterValue value, UInt32 bufferOffsetInFrames) {
  if (scope == kAudioUnitScope_Group) return SetGroupParameter(id, element, value, bufferOffsetInFrames);
  SafeGetElement(scope, element)->SetParameter(id, value, false);
  return noErr;
}

OSStatus AUBase::GetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                              AudioUnitParameterValue& outValue) {
  if (scope == kAudioUnitScope_Group) return GetGroupParameter(id, element, outValue);
  outValue = SafeGetElement(scope, element)->GetParameter(id);
  return noErr;
}

OSStatus AUBase::SetGroupParameter(AudioUnitParameterID, AudioUnitElement, AudioUnitParameterValue, UInt32) {
  return kAudioUnitErr_InvalidScope;
}

OSStatus AUBase::GetGroupParameter(AudioUnitParameterID, AudioUnitElement, AudioUnitParameterValue&) {
  return kAudioUnitErr_InvalidScope;
}

OSStatus AUBase::ScheduleParameter(const AudioUnitParameterEvent* events, UInt32 numEvents) {
  if (events == nullptr && numEvents != 0) return kAudio_ParamError;
  for (UInt32 i = 0; i < numEvents; ++i) {
    const AudioUnitParameterEvent& event = events[i];
    if (event.eventType == kParameterEvent_Immediate) {
      // The result is ignored; a throw ends the call with what was appended so far.
      SetParameter(event.parameter, event.scope, event.element, event.eventValues.immediate.value,
                   event.eventValues.immediate.bufferOffset);
    }
    // An event with no valid scope would fail every render from now on,
    // since a failed render keeps its pending events: refuse it here.
    if (event.scope >= kNumScopes) return kAudioUnitErr_InvalidScope;
    // So would a ramp of a parameter the element does not hold.
    if (const AUElement* element = GetElement(event.scope, event.element);
        event.eventType == kParameterEvent_Ramped && element != nullptr &&
        !CanApply(*element, event.parameter)) {
      return kAudioUnitErr_InvalidParameter;
    }
    mPendingEvents.push_back(event);
  }
  return noErr;
}

void AUBase::SortParameterEventList(std::vector<AudioUnitParameterEvent>& events) {
  std::sort(events.begin(), events.end(),
            [](const AudioUnitParameterEvent& a, const AudioUnitParameterEvent& b) noexcept {
              return SignedOffset(a) < SignedOffset(b);
            });
}

OSStatus AUBase::ProcessForScheduledParams(std::vector<AudioUnitParameterEvent>& events, UInt32 frames,
                                           void* context) {
  SortParameterEventList(events);

  // Signed on purpose, as are the comparisons marked so below: a ramp begun
  // in an earlier buffer has a negative start.
  const auto totalFrames = static_cast<SInt32>(frames);
  SInt32 remaining = totalFrames;
  SInt32 start = 0;
  // An event that cannot be applied is skipped, and reported once; the
  // render's ending drops it with the others.
  OSStatus skipped = noErr;
  while (remaining > 0) {
    // Where this slice ends: the first event offset after its start, or an
    // earlier ramp end.
    SInt32 end = totalFrames;
    for (const AudioUnitParameterEvent& event : events) {
      const SInt32 offset = SignedOffset(event);
      if (start < offset && offset < end) {
        end = offset;
        break;
      }
      if (event.eventType == kParameterEvent_Ramped) {
        const auto rampEnd = static_cast<SInt32>(RampEnd(event));
        if (start < rampEnd && rampEnd < end) end = rampEnd;
      }
    }
    const SInt32 sliceFrames = end - start;

    // Every event that holds at the slice start, in sorted order, so the
    // last immediate one at or before the start wins.
    for (const AudioUnitParameterEvent& event : events) {
      bool applies = false;
      if (event.eventType == kParameterEvent_Ramped) {
        // The ramp end is compared unsigned here: a ramp that ended before
        // this buffer still applies.
        applies = SignedOffset(event) < end && static_cast<UInt32>(start) < RampEnd(event);
      } else {
        applies = OffsetWord(event) <= static_cast<UInt32>(start);
      }
      if (!applies) continue;
      if (event.scope >= kNumScopes) {
        skipped = kAudioUnitErr_InvalidScope;
        continue;
      }
      if (AUElement* element = GetElement(event.scope, event.element)) {
        if (!CanApply(*element, event.parameter)) {
          skipped = kAudioUnitErr_InvalidParameter;
          continue;
        }
        element->SetScheduledEvent(event.parameter, event, static_cast<UInt32>(start),
                                   static_cast<UInt32>(sliceFrames), false);
      }
    }

    if (const OSStatus status = ProcessScheduledSlice(context, static_cast<UInt32>(start),
                                                      static_cast<UInt32>(sliceFrames), frames);
        status != noErr) {
      return status;
    }
    remaining -= sliceFrames;
    start = end;
  }
  return skipped;
}

OSStatus AUBase::ProcessScheduledSlice(void*, UInt32, UInt32, UInt32) {
  return noErr;
}

OSStatus AudioUnitBaseGetParameter(void* storage, AudioUnitParameterID id, AudioUnitScope scope,
                                   AudioUnitElement element, AudioUnitParameterValue* outValue) {
  auto* const instance = static_cast<AUBase*>(storage);
  if (instance == nullptr || outValue == nullptr) return kAudio_ParamError;
  return CatchAsStatus([&] { return instance->GetParameter(id, scope, element, *outValue); });
}

OSStatus AudioUnitBaseSetParameter(void* storage, AudioUnitParameterID id, AudioUnitScope scope,
                                   AudioUnitElement element, AudioUnitParameterValue value,
                                   UInt32 bufferOffsetInFrames) {
  auto* const instance = static_cast<AUBase*>(storage);
  if (instance == nullptr) return kAudio_ParamError;
  return CatchAsStatus(
      [&] { return instance->SetParameter(id, scope, element, value, bufferOffsetInFrames); });
}
