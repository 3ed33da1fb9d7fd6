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

struct CheckGroup {
  std::string_view name;
  std::string_view title;
  void (*run)(Report& report, const Target& target);
};

// In the order they run.
std::span<const CheckGroup> CheckGroups();

void CheckComponent(Report& report, const Target& target);        // ComponentChecks.cpp
void CheckProperties(Report& report, const Target& target);       // PropertyChecks.cpp
void CheckParameters(Report& report, const Target& target);       // ParameterChecks.cpp
void CheckFormats(Report& report, const Target& target);          // FormatChecks.cpp
void CheckInitialization(Report& report, const Target& target);   // InitializationChecks.cpp
void CheckRendering(Report& report, const Target& target);        // RenderChecks.cpp
void CheckBypass(Report& report, const Target& target);           // BypassChecks.cpp
void CheckReset(Report& report, const Target& target);            // ResetChecks.cpp
void CheckScheduledEvents(Report& report, const Target& target);  // ScheduledEventChecks.cpp
void CheckState(Report& report, const Target& target);            // StateChecks.cpp
void CheckNotifications(Report& report, const Target& target);    // NotificationChecks.cpp
void CheckListeners(Report& report, const Target& target);        // ListenerChecks.cpp

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
