#include "Presets.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "CliError.h"
#include "PendingFile.h"
#include "PlainStatus.h"
#include "PropertyListXml.h"

namespace varsile::cli {

namespace {

// Far above any preset; a larger file is not one.
constexpr std::uintmax_t kMaxPresetBytes = 16u << 20;

}  // namespace

CFRef<CFPropertyListRef> ReadPresetFile(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    throw CliError("cannot open '{}': {}", path, std::strerror(EISDIR));
  std::ifstream file(path, std::ios::binary);
  if (!file) throw CliError("cannot open '{}': {}", path, std::strerror(errno));
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > kMaxPresetBytes) throw CliError("cannot read preset '{}': file too large", path);
  const std::string text{std::istreambuf_iterator<char>(file), {}};
  if (file.bad()) throw CliError("cannot read preset '{}': {}", path, std::strerror(errno));

  CFRef<CFPropertyListRef> state;
  try {
    state = FromXml(text);
  } catch (const CliError& failure) {
    throw CliError("cannot read preset '{}': {}", path, failure.what());
  }
  if (CFGetTypeID(state.Get()) != CFDictionaryGetTypeID())
    throw CliError("cannot read preset '{}': it does not hold a dictionary", path);
  return state;
}

void LoadPreset(host::AudioUnitHandle& unit, const std::string& path) {
  const CFRef<CFPropertyListRef> state = ReadPresetFile(path);
  const CFPropertyListRef value = state.Get();
  // Without its data the component would quietly keep its defaults.
  if (CFDictionaryGetValue(static_cast<CFDictionaryRef>(value), CFSTR("data")) == nullptr)
    throw CliError("cannot use preset '{}': it holds no 'data' (the parameter values)", path);
  try {
    unit.SetProperty(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, value);
  } catch (const host::HostError& failure) {
    throw CliError("the component refused the preset '{}': {}", path, PlainStatus(failure.Status()));
  }
}

std::string PresetText(host::AudioUnitHandle& unit, const std::string& path) {
  const std::string name = std::filesystem::path(path).stem().string();
  const CFRef<CFStringRef> presetName(
      CFStringCreateWithCString(kCFAllocatorDefault, name.c_str(), kCFStringEncodingUTF8));
  if (presetName) {
    const AUPreset preset{-1, presetName.Get()};
    unit.SetProperty(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, preset);
  }
  const CFRef<CFPropertyListRef> state =
      unit.CopyProperty<CFPropertyListRef>(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0);
  if (!state) throw CliError("the component gave no state to save");
  return ToXml(state.Get());
}

void SavePreset(host::AudioUnitHandle& unit, const std::string& path) {
  const std::string xml = PresetText(unit, path);
  PendingFile file(path);
  file.Write(xml.data(), xml.size());
  file.Commit();
}

}  // namespace varsile::cli
