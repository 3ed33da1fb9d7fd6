#include "ModuleComponent.h"

#include <AudioUnit/AudioUnit.h>
#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "CliError.h"
#include "ComponentLocator.h"

namespace varsile::python {

namespace {

// 'vgla', the lookahead variant's subtype.
constexpr OSType kLookaheadSubType =
    (OSType{'v'} << 24) | (OSType{'g'} << 16) | (OSType{'l'} << 8) | OSType{'a'};

std::string ModuleDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&GateComponent), &info) == 0 || info.dli_fname == nullptr)
    return ".";
  return std::filesystem::path(info.dli_fname).parent_path().string();
}

AudioComponent LoadGate() {
  host::ComponentSearch search;
  if (const char* path = std::getenv("VARSILE_COMPONENT_PATH")) search.searchPath = path;
  search.defaultManifests =
      host::DefaultManifests(ModuleDirectory(), VARSILE_BUILD_TREE_MANIFEST, VARSILE_INSTALLED_MANIFEST);
  return host::LocateComponent(search);
}

}  // namespace

AudioComponent GateComponent(bool lookahead) {
  // Loading registers the manifest's components; once is enough.
  static std::once_flag once;
  static AudioComponent gate = nullptr;
  std::call_once(once, [] { gate = LoadGate(); });
  if (!lookahead) return gate;

  AudioComponentDescription wanted{};
  AudioComponentGetDescription(gate, &wanted);
  wanted.componentSubType = kLookaheadSubType;
  if (AudioComponent variant = AudioComponentFindNext(nullptr, &wanted)) return variant;
  throw cli::UsageError("lookahead=True needs the lookahead gate, which this build of Varsile does not have");
}

}  // namespace varsile::python
