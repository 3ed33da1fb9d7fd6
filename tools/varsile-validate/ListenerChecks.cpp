// Property listeners: a change is heard once, with the unit, the property,
// scope and element and the listener's own reference; a refused change and
// an unchanged format are not heard; a removed listener hears nothing.
#include <vector>

#include "Checks.h"
#include "RenderRig.h"
#include "Text.h"

namespace varsile::validate {

namespace {

struct Heard {
  AudioUnit unit;
  AudioUnitPropertyID id;
  AudioUnitScope scope;
  AudioUnitElement element;
};

struct Listener {
  std::vector<Heard> heard;

  OSStatus Add(host::UnitInstance& unit, AudioUnitPropertyID id) {
    return AudioUnitAddPropertyListener(unit.Get(), id, &Proc, this);
  }
  OSStatus Remove(host::UnitInstance& unit, AudioUnitPropertyID id) {
    return AudioUnitRemovePropertyListenerWithUserData(unit.Get(), id, &Proc, this);
  }

  static void Proc(void* refCon, AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                   AudioUnitElement element) {
    static_cast<Listener*>(refCon)->heard.push_back({unit, id, scope, element});
  }
};

std::string HeardText(const std::vector<Heard>& heard) {
  std::string text = std::to_string(heard.size()) + (heard.size() == 1 ? " call" : " calls");
  for (const Heard& h : heard) {
    text += " (" + PropertyText(h.id) + ", " + ScopeText(h.scope) + "/" + std::to_string(h.element) + ")";
  }
  return text;
}

bool HeardOnce(const std::vector<Heard>& heard, AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
               AudioUnitElement element) {
  return heard.size() == 1 && heard[0].unit == unit && heard[0].id == id && heard[0].scope == scope &&
         heard[0].element == element;
}

void CheckMaximumFrames(Report& report, const Target& target) {
  // Declared first, so that they outlive the instance that calls them.
  Listener listener;
  Listener other;
  auto unit = OpenConfigured(report, target, 44100.0, 2, false);
  const OSStatus added = listener.Add(*unit, kAudioUnitProperty_MaximumFramesPerSlice);
  RequireNoErr(report, added, "add", "adding a listener for the maximum frames");
  other.Add(*unit, kAudioUnitProperty_StreamFormat);

  const UInt32 frames = unit->MaxFrames() == 2048 ? 1024 : 2048;
  const OSStatus set = unit->SetMaxFrames(frames);
  report.Check(set == noErr &&
                   HeardOnce(listener.heard, unit->Get(), kAudioUnitProperty_MaximumFramesPerSlice,
                             kAudioUnitScope_Global, 0) &&
                   other.heard.empty(),
               "max-frames",
               "maximum frames set to " + std::to_string(frames) + ": " + StatusText(set) + "; heard " +
                   HeardText(listener.heard) + "; a stream-format listener heard " + HeardText(other.heard));

  RequireNoErr(report, unit->Initialize(), "setup", "initialize");
  listener.heard.clear();
  const OSStatus refused = unit->SetMaxFrames(frames + 1);
  report.Check(refused != noErr && listener.heard.empty(), "max-frames-refused",
               "set while initialized: " + StatusText(refused) + "; heard " + HeardText(listener.heard));
  unit->Uninitialize();

  const OSStatus wrongRemoval = other.Remove(*unit, kAudioUnitProperty_MaximumFramesPerSlice);
  listener.heard.clear();
  unit->SetMaxFrames(frames + 2);
  const bool keptByWrongRemoval = listener.heard.size() == 1;
  const OSStatus removed = listener.Remove(*unit, kAudioUnitProperty_MaximumFramesPerSlice);
  listener.heard.clear();
  unit->SetMaxFrames(frames + 3);
  report.Check(wrongRemoval == noErr && keptByWrongRemoval && removed == noErr && listener.heard.empty(),
               "remove",
               "removal with another reference: " + StatusText(wrongRemoval) +
                   (keptByWrongRemoval ? ", listener kept" : ", listener lost") +
                   "; removal: " + StatusText(removed) + ", then heard " + HeardText(listener.heard));
  other.Remove(*unit, kAudioUnitProperty_StreamFormat);
}

void CheckStreamFormat(Report& report, const Target& target) {
  Listener listener;
  auto unit = OpenConfigured(report, target, 44100.0, 2, false);
  RequireNoErr(report, listener.Add(*unit, kAudioUnitProperty_StreamFormat), "add",
               "adding a listener for the stream format");
  const OSStatus changed = unit->SetFormat(kAudioUnitScope_Output, 0, CanonicalFormat(48000.0, 2));
  const bool once =
      HeardOnce(listener.heard, unit->Get(), kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0);
  const std::string heardChange = HeardText(listener.heard);
  listener.heard.clear();
  const OSStatus same = unit->SetFormat(kAudioUnitScope_Output, 0, CanonicalFormat(48000.0, 2));
  report.Check(changed == noErr && once && same == noErr && listener.heard.empty(), "stream-format",
               "a new output format: " + StatusText(changed) + ", heard " + heardChange +
                   "; the same format again: " + StatusText(same) + ", heard " + HeardText(listener.heard));
  listener.Remove(*unit, kAudioUnitProperty_StreamFormat);
}

void CheckRenderError(Report& report, const Target& target) {
  Listener listener;
  auto unit = OpenConfigured(report, target, 44100.0, 2, false);
  RenderRig rig(*unit, 2, 44100.0);
  StartRendering(report, rig);
  RequireNoErr(report, listener.Add(*unit, kAudioUnitProperty_LastRenderError), "add",
               "adding a listener for the last render error");
  const UInt32 tooMany = unit->MaxFrames() + 1;
  const OSStatus first = rig.Render(tooMany);
  const OSStatus second = rig.Render(tooMany);
  const bool once =
      HeardOnce(listener.heard, unit->Get(), kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0);
  const std::string heard = HeardText(listener.heard);
  OSStatus error = noErr;
  unit->Get(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0, error);
  listener.heard.clear();
  const OSStatus third = rig.Render(tooMany);
  report.Check(first == kAudioUnitErr_TooManyFramesToProcess && second == first && once && error == first &&
                   listener.heard.size() == 1,
               "render-error",
               "two refused renders before the error is read: heard " + heard + "; after reading it (" +
                   StatusText(error) + "), a third: " + StatusText(third) + ", heard " +
                   HeardText(listener.heard));
  unit->Get(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0, error);
  listener.Remove(*unit, kAudioUnitProperty_LastRenderError);
}

void CheckBypassChange(Report& report, const Target& target) {
  Listener listener;
  auto unit = OpenUnit(report, target);
  if (unit->Info(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0).status != noErr) return;
  RequireNoErr(report, listener.Add(*unit, kAudioUnitProperty_BypassEffect), "add",
               "adding a listener for bypass");
  const UInt32 on = 1;
  const OSStatus set = unit->Set(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, on);
  report.Check(set == noErr && HeardOnce(listener.heard, unit->Get(), kAudioUnitProperty_BypassEffect,
                                         kAudioUnitScope_Global, 0),
               "bypass", "bypass switched on: " + StatusText(set) + ", heard " + HeardText(listener.heard));
  listener.Remove(*unit, kAudioUnitProperty_BypassEffect);
}

}  // namespace

void CheckListeners(Report& report, const Target& target) {
  CheckMaximumFrames(report, target);
  CheckStreamFormat(report, target);
  CheckRenderError(report, target);
  CheckBypassChange(report, target);
}

}  // namespace varsile::validate
