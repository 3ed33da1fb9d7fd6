// The groups of checks the validator runs, one file each, and what they
// share.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "Report.h"
#include "Target.h"
#include "UnitInstance.h"

namespace varsile::validate {

using host::PropertyInfo;
class RenderRig;

// What a group runs, given the report and the component.
using GroupRun = void(Report& report, const Target& target);

struct CheckGroup {
  std::string_view name;
  std::string_view title;
  GroupRun* run;
};

// In the order they run.
std::span<const CheckGroup> CheckGroups();

// The groups, each in the file of its name: CheckComponent in
// ComponentChecks.cpp, CheckRendering in RenderChecks.cpp, and so on.
GroupRun CheckComponent, CheckProperties, CheckParameters, CheckFormats, CheckInitialization, CheckRendering,
    CheckBypass, CheckReset, CheckScheduledEvents, CheckState, CheckNotifications, CheckListeners;

// Runs the named groups (every group when none is named), each followed by
// a count of the property-list values it left alive. False, with nothing
// run, if a name is unknown.
bool RunChecks(Report& report, const Target& target, std::span<const std::string> only);

// Shared by the groups.

// Opens an instance; failing to open ends the group.
std::unique_ptr<host::UnitInstance> OpenUnit(Report& report, const Target& target);
// A status the group cannot go on without; anything but noErr ends it.
void RequireNoErr(Report& report, OSStatus status, std::string_view name, std::string_view what);
// An instance configured for rendering: canonical format at the rate and
// channel count on input and output; initialized when asked. Ends the group
// if any step fails.
std::unique_ptr<host::UnitInstance> OpenConfigured(Report& report, const Target& target, Float64 sampleRate,
                                                   UInt32 channels, bool initialize = true);
// Attaches the rig's input callback and initializes its unit; failing
// either ends the group. `where` names the configuration in that message.
void StartRendering(Report& report, RenderRig& rig, std::string_view where = {});

}  // namespace varsile::validate
