#include "Target.h"

#include <AudioToolbox/AudioComponentRegistry.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>

#include "CFValues.h"
#include "Text.h"

namespace varsile::validate {

namespace {

std::string VersionText(UInt32 version) {
  char text[48];
  std::snprintf(text, sizeof text, "0x%08X (%u.%u.%u)", static_cast<unsigned>(version),
                static_cast<unsigned>(version >> 16), static_cast<unsigned>((version >> 8) & 0xFF),
                static_cast<unsigned>(version & 0xFF));
  return text;
}

// Loads one path; the component when it was a single manifest.
bool Load(const std::string& path, std::ostream& log, std::string& error, AudioComponent& loaded) {
  std::error_code code;
  if (std::filesystem::is_directory(path, code)) {
    const UInt32 count = AudioComponentLoadDirectory(path.c_str());
    log << "loaded " << count << " component" << (count == 1 ? "" : "s") << " from " << path << '\n';
    const std::string problems = AudioComponentLastLoadError();
    if (!problems.empty()) log << problems << (problems.back() == '\n' ? "" : "\n");
    return true;
  }
  const OSStatus status = AudioComponentLoadManifest(path.c_str(), &loaded);
  if (status != noErr) {
    error = "cannot load " + path + ": " + StatusText(status) + ": " + AudioComponentLastLoadError();
    return false;
  }
  log << "loaded " << path << '\n';
  return true;
}

}  // namespace

std::optional<Target> FindTarget(const TargetQuery& query, std::ostream& log, std::string& error) {
  AudioComponent loaded = nullptr;
  std::size_t manifests = 0;
  if (query.loads.empty() && std::getenv("VARSILE_COMPONENT_PATH") != nullptr) {
    // As a host finds installed components.
    const UInt32 count = AudioComponentLoadPath(nullptr);
    log << "loaded " << count << " component" << (count == 1 ? "" : "s") << " from VARSILE_COMPONENT_PATH\n";
  }
  for (const std::string& path : query.loads) {
    AudioComponent component = nullptr;
    if (!Load(path, log, error, component)) return std::nullopt;
    if (component != nullptr) {
      loaded = component;
      ++manifests;
    }
  }

  AudioComponent found = nullptr;
  const bool described = query.type != 0 || query.subtype != 0 || query.manufacturer != 0;
  if (!described && manifests == 1 && query.loads.size() == 1) {
    found = loaded;
  } else {
    AudioComponentDescription wanted{};
    wanted.componentType = described ? query.type : static_cast<OSType>(kAudioUnitType_Effect);
    wanted.componentSubType = query.subtype;
    wanted.componentManufacturer = query.manufacturer;
    found = AudioComponentFindNext(nullptr, &wanted);
    if (found == nullptr) {
      error = "no component matches " + FourCCText(wanted.componentType) + " " +
              (wanted.componentSubType != 0 ? FourCCText(wanted.componentSubType) : "*") + " " +
              (wanted.componentManufacturer != 0 ? FourCCText(wanted.componentManufacturer) : "*");
      return std::nullopt;
    }
  }

  Target target;
  target.component = found;
  if (const OSStatus status = AudioComponentGetDescription(found, &target.description); status != noErr) {
    error = "the registry cannot describe the component: " + StatusText(status);
    return std::nullopt;
  }
  CFRef<CFStringRef> name;
  if (AudioComponentCopyName(found, name.Receive()) == noErr) target.name = StringText(name.Get());
  if (AudioComponentGetVersion(found, &target.version) != noErr) target.version = 0;
  return target;
}

std::string DescribeTarget(const Target& target) {
  return "\"" + target.name + "\" (" + FourCCText(target.description.componentType) + " " +
         FourCCText(target.description.componentSubType) + " " +
         FourCCText(target.description.componentManufacturer) + "), version " + VersionText(target.version);
}

}  // namespace varsile::validate
