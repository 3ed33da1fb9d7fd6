#include "PortTable.h"

#include <cctype>
#include <set>
#include <stdexcept>

namespace varsile::lv2 {

namespace {

bool IsInteger(AudioUnitParameterUnit unit) noexcept {
  return unit == kAudioUnitParameterUnit_Indexed || unit == kAudioUnitParameterUnit_Boolean ||
         unit == kAudioUnitParameterUnit_SampleFrames;
}

bool IsIntervalVolume(const host::ParameterDescription& parameter) noexcept {
  return parameter.clumpName == kIntervalVolumeGroup;
}

std::string ControlSymbol(const host::ParameterDescription& parameter) {
  const std::string stem = SymbolFor(host::NameStem(parameter.name));
  return IsIntervalVolume(parameter) ? std::string(kIntervalSymbolPrefix) + stem : stem;
}

std::string ControlName(const host::ParameterDescription& parameter) {
  // An interval's name ends in the note it is above the current key
  // ("fifth / G" in C). A port's name is fixed when the bundle is built, and
  // the note would be wrong in every other key, so only the interval stays.
  return std::string(IsIntervalVolume(parameter) ? host::NameStem(parameter.name) : parameter.name);
}

PortSpec ControlPort(const host::ParameterDescription& parameter) {
  PortSpec port;
  port.kind = parameter.IsWritable() ? PortKind::ControlInput : PortKind::ControlOutput;
  port.symbol = ControlSymbol(parameter);
  port.name = ControlName(parameter);
  port.parameter = parameter.id;
  port.unit = parameter.unit;
  port.minimum = parameter.minValue;
  port.maximum = parameter.maxValue;
  port.defaultValue = parameter.defaultValue;
  port.integer = IsInteger(parameter.unit);
  // Value strings name the values from the minimum up, one per step.
  for (std::size_t i = 0; i < parameter.valueStrings.size(); ++i) {
    const Float32 value = parameter.minValue + static_cast<Float32>(i);
    if (value > parameter.maxValue) break;
    port.scalePoints.push_back(ScalePoint{value, parameter.valueStrings[i]});
  }
  port.enumeration = port.integer && !port.scalePoints.empty();
  return port;
}

PortSpec AudioPort(PortKind kind, UInt32 channel, UInt32 channels) {
  static constexpr const char* kSides[] = {"l", "r"};
  static constexpr const char* kSideNames[] = {"Left", "Right"};
  const bool input = kind == PortKind::AudioInput;
  PortSpec port;
  port.kind = kind;
  port.channel = channel;
  port.symbol = input ? "in" : "out";
  port.name = input ? "Input" : "Output";
  if (channels == 2) {
    port.symbol += std::string("_") + kSides[channel];
    port.name = std::string(kSideNames[channel]) + (input ? " input" : " output");
  } else if (channels > 2) {
    port.symbol += "_" + std::to_string(channel + 1);
    port.name += " " + std::to_string(channel + 1);
  }
  return port;
}

}  // namespace

std::string SymbolFor(std::string_view name) {
  std::string symbol;
  bool gap = false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80 && std::isalnum(byte) != 0) {
      if (gap && !symbol.empty()) symbol += '_';
      gap = false;
      symbol += static_cast<char>(std::tolower(byte));
    } else {
      gap = true;
    }
  }
  if (symbol.empty() || std::isdigit(static_cast<unsigned char>(symbol.front())) != 0) symbol.insert(0, "_");
  return symbol;
}

PortTable PortTable::Build(const host::ParameterCatalogue& catalogue, UInt32 channels) {
  if (channels == 0) throw std::invalid_argument("a port table needs at least one channel");
  PortTable table;
  table.mChannels = channels;
  std::set<std::string> symbols;
  auto add = [&](PortSpec port) {
    if (!symbols.insert(port.symbol).second) {
      throw std::runtime_error("two ports would share the symbol '" + port.symbol + "'");
    }
    port.index = static_cast<UInt32>(table.mPorts.size());
    table.mPorts.push_back(std::move(port));
  };

  std::set<std::string> groupSymbols;
  for (const host::ParameterDescription& parameter : catalogue.All()) {
    if ((parameter.flags & (kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable)) == 0)
      continue;
    PortSpec port = ControlPort(parameter);
    if (!parameter.clumpName.empty()) {
      port.group = SymbolFor(parameter.clumpName);
      if (groupSymbols.insert(port.group).second) {
        table.mGroups.push_back(PortGroup{port.group, parameter.clumpName});
      }
    }
    add(std::move(port));
  }
  for (UInt32 c = 0; c < channels; ++c) add(AudioPort(PortKind::AudioInput, c, channels));
  for (UInt32 c = 0; c < channels; ++c) add(AudioPort(PortKind::AudioOutput, c, channels));
  return table;
}

const PortSpec* PortTable::Find(std::string_view symbol) const noexcept {
  for (const PortSpec& port : mPorts) {
    if (port.symbol == symbol) return &port;
  }
  return nullptr;
}

}  // namespace varsile::lv2
