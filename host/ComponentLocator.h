// Finds components for the host programs. The gate's programs look for the
// gate by name: in the folders listed in VARSILE_COMPONENT_PATH when that is
// set, otherwise from its manifest in the build tree beside the program or
// in the installed library folder. A validator loads what it is told and
// searches by description. Failures throw HostError, whose message says
// where the program looked and what went wrong.
#pragma once

#include <AudioUnit/AudioComponent.h>

#include <iosfwd>
#include <string>
#include <vector>

#include "HostError.h"

namespace varsile::host {

struct ComponentSearch {
  std::string componentName = "Varsile";  // the name the manifest gives
  std::string manifestName = "Varsile.component";
  // Manifests to try, in order, when the environment names no folders.
  std::vector<std::string> defaultManifests;
  // The value of VARSILE_COMPONENT_PATH; empty means unset.
  std::string searchPath;
};

// The default manifests for a program in programDir: the build tree's
// (relative to the program's build folder) and the installed one.
std::vector<std::string> DefaultManifests(const std::string& programDir,
                                          const std::string& buildRelativeManifest,
                                          const std::string& installRelativeManifest);

// The folder of the running program (from /proc/self/exe); "." if unknown.
std::string ProgramDirectory();

// Loads and returns the component.
AudioComponent LocateComponent(const ComponentSearch& search);

// Finds an already registered effect component by its name.
AudioComponent FindEffectNamed(const std::string& name);

// A registered component as a host lists it.
struct ComponentInfo {
  AudioComponent component = nullptr;
  AudioComponentDescription description{};
  std::string name;
  UInt32 version = 0;
};

struct ComponentQuery {
  // Manifests or folders of manifests, loaded in order; with none, the
  // folders of VARSILE_COMPONENT_PATH, if it is set.
  std::vector<std::string> loads;
  // Zero fields match anything; with no field given the search is for the
  // first effect ('aufx'), unless a single manifest was loaded, whose
  // component is then the one.
  UInt32 type = 0;
  UInt32 subtype = 0;
  UInt32 manufacturer = 0;
};

// Loads as the query says, telling log what each load registered, and
// describes the component found.
ComponentInfo FindComponent(const ComponentQuery& query, std::ostream& log);

// "\"Varsile\" ('aufx' 'vgat' 'Vrsl'), version 0x00010000 (1.0.0)"
std::string DescribeComponent(const ComponentInfo& info);

}  // namespace varsile::host
