#include "ModuleComponent.h"

#include <AudioUnit/AudioUnit.h>
#include <dlfcn.h>

#include <filesystem>
#include <mutex>

#include "Cli.h"
#include "CliError.h"
#include "GateSession.h"

namespace varsile::python {

namespace {

std::string ModuleDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&GateComponent), &info) == 0 || info.dli_fname == nullptr)
    return ".";
  return std::filesystem::path(info.dli_fname).parent_path().string();
}

host::ComponentSearch GateSearch() {
  return cli::GateSearch(ModuleDirectory(), VARSILE_BUILD_TREE_MANIFEST, VARSILE_INSTALLED_MANIFEST);
}

}  // namespace

AudioComponent GateComponent(bool lookahead) {
  // Loading registers a manifest's components; once is enough.
  static std::once_flag gateOnce;
  static std::once_flag lookaheadOnce;
  static AudioComponent gate = nullptr;
  static AudioComponent variant = nullptr;
  if (!lookahead) {
    std::call_once(gateOnce, [] { gate = host::LocateComponent(GateSearch()); });
    return gate;
  }
  try {
    std::call_once(lookaheadOnce,
                   [] { variant = host::LocateComponent(cli::LookaheadSearch(GateSearch())); });
  } catch (const host::HostError& failure) {
    throw cli::UsageError(std::string("lookahead=True needs the lookahead gate, which was not found: ") +
                          failure.what());
  }
  return variant;
}

}  // namespace varsile::python
