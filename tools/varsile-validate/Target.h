// The component under test: found in the platform's registry by its
// description, after loading any modules the command line names.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace varsile::validate {

struct Target {
  AudioComponent component = nullptr;
  AudioComponentDescription description{};
  std::string name;
  UInt32 version = 0;
};

struct TargetQuery {
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

// Loads and searches; on failure nullopt, and error says why. What was
// loaded is told to log.
std::optional<Target> FindTarget(const TargetQuery& query, std::ostream& log, std::string& error);

// "Varsile ('aufx' 'vgat' 'Vrsl'), version 0x00010000 (1.0.0)"
std::string DescribeTarget(const Target& target);

}  // namespace varsile::validate
