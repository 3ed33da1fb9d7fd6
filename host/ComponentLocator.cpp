#include "ComponentLocator.h"

#include <AudioToolbox/AudioComponentRegistry.h>
#include <AudioUnit/AudioUnit.h>
#include <Varsile/CoreTypes.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "ParameterCatalogue.h"
#include "StatusNames.h"

namespace varsile::host {

namespace {

std::string CopyName(AudioComponent component) {
  CFStringRef name = nullptr;
  if (AudioComponentCopyName(component, &name) != noErr || name == nullptr) return {};
  const CFRef<CFStringRef> owned(name);
  return ToStdString(name);
}

// The loader's messages end with a line break per failed manifest.
std::string LoadErrors() {
  std::string text = AudioComponentLastLoadError();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  for (char& c : text) {
    if (c == '\n') c = ';';
  }
  return text;
}

}  // namespace

std::vector<std::string> DefaultManifests(const std::string& programDir,
                                          const std::string& buildRelativeManifest,
                                          const std::string& installRelativeManifest) {
  std::vector<std::string> paths;
  for (const std::string& relative : {buildRelativeManifest, installRelativeManifest}) {
    if (relative.empty()) continue;
    const std::filesystem::path path(relative);
    paths.push_back(
        (path.is_absolute() ? path : std::filesystem::path(programDir) / path).lexically_normal());
  }
  return paths;
}

std::string ProgramDirectory() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || self.empty()) return ".";
  return self.parent_path().string();
}

AudioComponent FindEffectNamed(const std::string& name) {
  AudioComponentDescription effects{};
  effects.componentType = kAudioUnitType_Effect;
  for (AudioComponent c = AudioComponentFindNext(nullptr, &effects); c != nullptr;
       c = AudioComponentFindNext(c, &effects)) {
    if (CopyName(c) == name) return c;
  }
  return nullptr;
}

AudioComponent LocateComponent(const ComponentSearch& search) {
  if (!search.searchPath.empty()) {
    AudioComponentLoadPath(search.searchPath.c_str());
    const std::string errors = LoadErrors();
    if (AudioComponent found = FindEffectNamed(search.componentName)) return found;
    throw ComponentNotFound("no component named " + search.componentName + " in VARSILE_COMPONENT_PATH (" +
                            search.searchPath + ")" + (errors.empty() ? "" : ": " + errors));
  }
  for (const std::string& manifest : search.defaultManifests) {
    std::error_code error;
    if (!std::filesystem::exists(manifest, error)) continue;
    AudioComponent component = nullptr;
    const OSStatus status = AudioComponentLoadManifest(manifest.c_str(), &component);
    if (status != noErr) {
      const std::string errors = LoadErrors();
      throw ComponentNotFound(errors.empty() ? manifest + ": " + StatusName(status) : errors);
    }
    return component;
  }
  std::string looked;
  for (const std::string& manifest : search.defaultManifests)
    looked += (looked.empty() ? "" : ", ") + manifest;
  throw ComponentNotFound("cannot find " + search.manifestName + " (looked for " +
                          (looked.empty() ? std::string("nothing") : looked) +
                          "); set VARSILE_COMPONENT_PATH to the folder that holds it");
}

}  // namespace varsile::host
