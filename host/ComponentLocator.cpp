#include "ComponentLocator.h"

#include <AudioToolbox/AudioComponentRegistry.h>
#include <AudioUnit/AudioUnit.h>
#include <Varsile/CoreTypes.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
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

std::string Components(UInt32 count) {
  return std::to_string(count) + (count == 1 ? " component" : " components");
}

// A manifest's component, or nullptr for a folder.
AudioComponent Load(const std::string& path, std::ostream& log) {
  std::error_code code;
  if (std::filesystem::is_directory(path, code)) {
    log << "loaded " << Components(AudioComponentLoadDirectory(path.c_str())) << " from " << path << '\n';
    const std::string problems = AudioComponentLastLoadError();
    if (!problems.empty()) log << problems << (problems.back() == '\n' ? "" : "\n");
    return nullptr;
  }
  AudioComponent loaded = nullptr;
  if (const OSStatus status = AudioComponentLoadManifest(path.c_str(), &loaded); status != noErr) {
    throw HostError::Told(
        "cannot load " + path + ": " + StatusName(status) + ": " + AudioComponentLastLoadError(), status);
  }
  log << "loaded " << path << '\n';
  return loaded;
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
    throw HostError::Told("no component named " + search.componentName + " in VARSILE_COMPONENT_PATH (" +
                              search.searchPath + ")" + (errors.empty() ? "" : ": " + errors),
                          invalidComponentID);
  }
  for (const std::string& manifest : search.defaultManifests) {
    std::error_code error;
    if (!std::filesystem::exists(manifest, error)) continue;
    AudioComponent component = nullptr;
    const OSStatus status = AudioComponentLoadManifest(manifest.c_str(), &component);
    if (status != noErr) {
      const std::string errors = LoadErrors();
      throw HostError::Told(errors.empty() ? manifest + ": " + StatusName(status) : errors, status);
    }
    return component;
  }
  std::string looked;
  for (const std::string& manifest : search.defaultManifests)
    looked += (looked.empty() ? "" : ", ") + manifest;
  throw HostError::Told("cannot find " + search.manifestName + " (looked for " +
                            (looked.empty() ? std::string("nothing") : looked) +
                            "); set VARSILE_COMPONENT_PATH to the folder that holds it",
                        invalidComponentID);
}

ComponentInfo FindComponent(const ComponentQuery& query, std::ostream& log) {
  if (query.loads.empty() && std::getenv("VARSILE_COMPONENT_PATH") != nullptr) {
    // As a host finds installed components.
    log << "loaded " << Components(AudioComponentLoadPath(nullptr)) << " from VARSILE_COMPONENT_PATH\n";
  }
  AudioComponent loaded = nullptr;
  for (const std::string& path : query.loads) {
    if (AudioComponent component = Load(path, log)) loaded = component;
  }

  ComponentInfo info;
  AudioComponentDescription wanted{query.type, query.subtype, query.manufacturer, 0, 0};
  if (wanted.componentType == 0 && wanted.componentSubType == 0 && wanted.componentManufacturer == 0) {
    if (query.loads.size() == 1) info.component = loaded;
    wanted.componentType = kAudioUnitType_Effect;
  }
  if (info.component == nullptr) info.component = AudioComponentFindNext(nullptr, &wanted);
  if (info.component == nullptr) {
    const auto any = [](UInt32 code) { return code != 0 ? FourCCText(code) : std::string("*"); };
    throw HostError::Told("no component matches " + FourCCText(wanted.componentType) + " " +
                              any(wanted.componentSubType) + " " + any(wanted.componentManufacturer),
                          invalidComponentID);
  }
  ThrowIfError(AudioComponentGetDescription(info.component, &info.description),
               "the registry cannot describe the component");
  info.name = CopyName(info.component);
  if (AudioComponentGetVersion(info.component, &info.version) != noErr) info.version = 0;
  return info;
}

std::string DescribeComponent(const ComponentInfo& info) {
  char version[48];
  std::snprintf(version, sizeof version, "0x%08X (%u.%u.%u)", static_cast<unsigned>(info.version),
                static_cast<unsigned>(info.version >> 16), static_cast<unsigned>((info.version >> 8) & 0xFF),
                static_cast<unsigned>(info.version & 0xFF));
  return "\"" + info.name + "\" (" + FourCCText(info.description.componentType) + " " +
         FourCCText(info.description.componentSubType) + " " +
         FourCCText(info.description.componentManufacturer) + "), version " + version;
}

}  // namespace varsile::host
