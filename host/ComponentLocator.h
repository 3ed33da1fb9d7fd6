// Finds the gate component for a host program: from the folders listed in
// VARSILE_COMPONENT_PATH when that is set, otherwise from its manifest in
// the build tree beside the program or in the installed library folder.
#pragma once

#include <AudioUnit/AudioComponent.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace varsile::host {

// The component could not be found or loaded; the message says where the
// program looked and what went wrong.
class ComponentNotFound : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

// Loads and returns the component; throws ComponentNotFound.
AudioComponent LocateComponent(const ComponentSearch& search);

// Finds an already registered effect component by its name.
AudioComponent FindEffectNamed(const std::string& name);

}  // namespace varsile::host
