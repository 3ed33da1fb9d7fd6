// Runs the groups of checks, and counts the property-list values each group
// leaves alive.
#include <algorithm>
#include <array>
#include <vector>

#include "CFValues.h"
#include "Checks.h"
#include "ParameterSurvey.h"
#include "RenderRig.h"
#include "Text.h"

namespace varsile::validate {

namespace {

constexpr std::array kGroups{
    CheckGroup{"component", "opening, closing, version and can-do answers", &CheckComponent},
    CheckGroup{"properties", "every property's info, get and set against its info", &CheckProperties},
    CheckGroup{"parameters", "parameter info, ranges, defaults, names, value strings and clumps",
               &CheckParameters},
    CheckGroup{"formats", "stream formats accepted and refused", &CheckFormats},
    CheckGroup{"initialize", "initialization with 1 and 2 channels at 44.1, 48 and 96 kHz",
               &CheckInitialization},
    CheckGroup{"render", "renders of 1, 64, 512 and the maximum frames", &CheckRendering},
    CheckGroup{"bypass", "bypass passes the input through", &CheckBypass},
    CheckGroup{"reset", "reset returns the unit to its initialized state", &CheckReset},
    CheckGroup{"events", "scheduled parameter events during renders", &CheckScheduledEvents},
    CheckGroup{"state", "saved state: round trip, refusals, leaks", &CheckState},
    CheckGroup{"notify", "render notifications", &CheckNotifications},
    CheckGroup{"listeners", "property listeners", &CheckListeners},
};

// Touches everything a unit may create once per process (name caches, FFT
// plans) so that the leak counts of the groups see only what a group leaves.
void WarmUp(const Target& target) {
  host::UnitInstance unit(target.component);
  if (!unit) return;
  for (const ParameterEntry& p : SurveyParameters(unit)) {
    CFRef<CFArrayRef> strings;
    unit.Get(kAudioUnitProperty_ParameterValueStrings, kAudioUnitScope_Global, p.id, *strings.Receive());
    if ((p.info.flags & kAudioUnitParameterFlag_HasClump) != 0 && p.info.clumpID != 0) {
      AudioUnitParameterNameInfo clump{p.info.clumpID, -1, nullptr};
      if (unit.Get(kAudioUnitProperty_ParameterClumpName, kAudioUnitScope_Global, 0, clump) == noErr &&
          clump.outName != nullptr) {
        CFRelease(clump.outName);
      }
    }
  }
  CFRef<CFPropertyListRef> state;
  if (unit.Get(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, *state.Receive()) == noErr) {
    const CFPropertyListRef value = state.Get();
    unit.Set(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, value);
  }
  if (unit.ConfigureIO(44100.0, 2) != noErr) return;
  RenderRig rig(unit, 2, 44100.0);
  if (rig.AttachInput() != noErr || unit.Initialize() != noErr) return;
  for (int i = 0; i < 8; ++i) rig.Render(512);
  unit.Uninitialize();
}

}  // namespace

std::span<const CheckGroup> CheckGroups() {
  return kGroups;
}

bool RunChecks(Report& report, const Target& target, std::span<const std::string> only) {
  for (const std::string& name : only) {
    if (std::none_of(kGroups.begin(), kGroups.end(),
                     [&](const CheckGroup& group) { return group.name == name; })) {
      return false;
    }
  }
  WarmUp(target);
  for (const CheckGroup& group : kGroups) {
    if (!only.empty() && std::find(only.begin(), only.end(), group.name) == only.end()) continue;
    report.BeginGroup(group.name, group.title);
    const CFIndex before = CFLiveObjectCount();
    try {
      group.run(report, target);
    } catch (const GroupAborted&) {
      report.Note("(the rest of this group was skipped)");
    }
    const CFIndex after = CFLiveObjectCount();
    report.Check(after == before, "cf-values-released",
                 std::to_string(before) + " property-list values alive before the group, " +
                     std::to_string(after) + " after");
  }
  return true;
}

std::unique_ptr<host::UnitInstance> OpenUnit(Report& report, const Target& target) {
  auto unit = std::make_unique<host::UnitInstance>(target.component);
  if (!*unit) report.Require(false, "open", "AudioComponentInstanceNew: " + StatusText(unit->OpenStatus()));
  return unit;
}

void RequireNoErr(Report& report, OSStatus status, std::string_view name, std::string_view what) {
  if (status != noErr) report.Require(false, name, std::string(what) + ": " + StatusText(status));
}

std::unique_ptr<host::UnitInstance> OpenConfigured(Report& report, const Target& target, Float64 sampleRate,
                                                   UInt32 channels, bool initialize) {
  auto unit = OpenUnit(report, target);
  const std::string where = std::to_string(channels) + " ch at " + FloatText(sampleRate) + " Hz";
  RequireNoErr(report, unit->ConfigureIO(sampleRate, channels), "setup", "canonical format, " + where);
  if (initialize) RequireNoErr(report, unit->Initialize(), "setup", "initialize, " + where);
  return unit;
}

void StartRendering(Report& report, RenderRig& rig, std::string_view where) {
  const std::string suffix = where.empty() ? "" : ", " + std::string(where);
  RequireNoErr(report, rig.AttachInput(), "setup", "input callback" + suffix);
  RequireNoErr(report, rig.Unit().Initialize(), "setup", "initialize" + suffix);
}

}  // namespace varsile::validate
