#include "ParameterCatalogue.h"

#include <Varsile/CoreTypes.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace varsile::host {

namespace {

std::string TrimmedEnd(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  return text;
}

std::string ReadName(const AudioUnitParameterInfo& info) {
  if ((info.flags & kAudioUnitParameterFlag_HasCFNameString) != 0 && info.cfNameString != nullptr) {
    return ToStdString(info.cfNameString);
  }
  // The C-string field need not be terminated when the name fills it.
  return std::string(info.name, strnlen(info.name, sizeof(info.name)));
}

std::vector<std::string> ReadValueStrings(const AudioUnitHandle& unit, AudioUnitParameterID id) {
  // A unit says whether a parameter has value strings by answering the
  // info query; most parameters have none.
  UInt32 size = 0;
  Boolean writable = 0;
  if (AudioUnitGetPropertyInfo(unit.Get(), kAudioUnitProperty_ParameterValueStrings, kAudioUnitScope_Global,
                               id, &size, &writable) != noErr) {
    return {};
  }
  const CFRef<CFArrayRef> strings =
      unit.CopyProperty<CFArrayRef>(kAudioUnitProperty_ParameterValueStrings, kAudioUnitScope_Global, id);
  std::vector<std::string> values;
  if (!strings) return values;
  const CFIndex count = CFArrayGetCount(strings.Get());
  for (CFIndex i = 0; i < count; ++i) {
    const auto* value = static_cast<CFStringRef>(CFArrayGetValueAtIndex(strings.Get(), i));
    values.push_back(TrimmedEnd(ToStdString(value)));
  }
  return values;
}

std::string ReadClumpName(const AudioUnitHandle& unit, UInt32 clumpID) {
  AudioUnitParameterNameInfo request{};
  request.inID = clumpID;
  request.inDesiredLength = -1;  // the full name
  UInt32 size = sizeof(request);
  // A group without a name is listed without one.
  if (AudioUnitGetProperty(unit.Get(), kAudioUnitProperty_ParameterClumpName, kAudioUnitScope_Global, 0,
                           &request, &size) != noErr ||
      request.outName == nullptr) {
    return {};
  }
  const CFRef<CFStringRef> name(request.outName);
  return ToStdString(name.Get());
}

}  // namespace

std::string ToStdString(CFStringRef text) {
  if (text == nullptr || CFGetTypeID(text) != CFStringGetTypeID()) return {};
  if (const char* direct = CFStringGetCStringPtr(text, kCFStringEncodingUTF8)) return direct;
  std::string buffer(static_cast<std::size_t>(CFStringGetLength(text)) * 4 + 1, '\0');
  if (!CFStringGetCString(text, buffer.data(), static_cast<CFIndex>(buffer.size()), kCFStringEncodingUTF8)) {
    return {};
  }
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

ParameterCatalogue ParameterCatalogue::Read(const AudioUnitHandle& unit) {
  ParameterCatalogue catalogue;
  const std::vector<AudioUnitParameterID> ids = unit.GetPropertyArray<AudioUnitParameterID>(
      kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0);
  std::map<UInt32, std::string> clumpNames;
  for (const AudioUnitParameterID id : ids) {
    const auto info = unit.GetProperty<AudioUnitParameterInfo>(kAudioUnitProperty_ParameterInfo,
                                                               kAudioUnitScope_Global, id);
    ParameterDescription parameter;
    parameter.id = id;
    parameter.name = TrimmedEnd(ReadName(info));
    // Without this flag the name stays the unit's (it may be reused by the
    // next request for the same parameter, so it is copied above).
    if ((info.flags & kAudioUnitParameterFlag_CFNameRelease) != 0 && info.cfNameString != nullptr) {
      CFRelease(info.cfNameString);
    }
    parameter.clumpID = (info.flags & kAudioUnitParameterFlag_HasClump) != 0 ? info.clumpID : 0;
    parameter.unit = info.unit;
    parameter.minValue = info.minValue;
    parameter.maxValue = info.maxValue;
    parameter.defaultValue = info.defaultValue;
    parameter.flags = info.flags;
    parameter.valueStrings = ReadValueStrings(unit, id);
    if ((info.flags & kAudioUnitParameterFlag_IsReadable) != 0) parameter.value = unit.GetParameter(id);
    if (parameter.clumpID != 0) {
      auto [it, added] = clumpNames.try_emplace(parameter.clumpID);
      if (added) it->second = ReadClumpName(unit, parameter.clumpID);
      parameter.clumpName = it->second;
    }
    catalogue.mParameters.push_back(std::move(parameter));
  }
  std::sort(catalogue.mParameters.begin(), catalogue.mParameters.end(),
            [](const ParameterDescription& a, const ParameterDescription& b) { return a.id < b.id; });
  return catalogue;
}

const ParameterDescription* ParameterCatalogue::Find(std::string_view name) const noexcept {
  for (const ParameterDescription& parameter : mParameters) {
    if (parameter.name == name) return &parameter;
  }
  return nullptr;
}

const ParameterDescription* ParameterCatalogue::FindID(AudioUnitParameterID id) const noexcept {
  for (const ParameterDescription& parameter : mParameters) {
    if (parameter.id == id) return &parameter;
  }
  return nullptr;
}

const ParameterDescription& ParameterCatalogue::Require(std::string_view name) const {
  if (const ParameterDescription* parameter = Find(name)) return *parameter;
  throw std::runtime_error("the component has no parameter named '" + std::string(name) + "'");
}

std::vector<const ParameterDescription*> ParameterCatalogue::Group(std::string_view clumpName) const {
  std::vector<const ParameterDescription*> members;
  for (const ParameterDescription& parameter : mParameters) {
    if (parameter.clumpID != 0 && parameter.clumpName == clumpName) members.push_back(&parameter);
  }
  return members;
}

std::string_view Trim(std::string_view text) noexcept {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string_view NameStem(std::string_view name) noexcept {
  const std::size_t separator = name.find(" / ");
  return Trim(separator == std::string_view::npos ? name : name.substr(0, separator));
}

std::string_view UnitName(AudioUnitParameterUnit unit) noexcept {
  switch (unit) {
    case kAudioUnitParameterUnit_Generic:
      return "generic";
    case kAudioUnitParameterUnit_Indexed:
      return "indexed";
    case kAudioUnitParameterUnit_Boolean:
      return "boolean";
    case kAudioUnitParameterUnit_Percent:
      return "percent";
    case kAudioUnitParameterUnit_Seconds:
      return "seconds";
    case kAudioUnitParameterUnit_SampleFrames:
      return "sample frames";
    case kAudioUnitParameterUnit_Hertz:
      return "Hz";
  }
  return "other";
}

std::string_view UnitSymbol(AudioUnitParameterUnit unit) noexcept {
  switch (unit) {
    case kAudioUnitParameterUnit_Percent:
      return "%";
    case kAudioUnitParameterUnit_Seconds:
      return "s";
    case kAudioUnitParameterUnit_Hertz:
      return "Hz";
    case kAudioUnitParameterUnit_SampleFrames:
      return "sample frames";
    default:
      return "";
  }
}

}  // namespace varsile::host
