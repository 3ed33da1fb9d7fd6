#include "PortTable.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <stdexcept>

#include "MelodyTiming.h"

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
  std::string name(IsIntervalVolume(parameter) ? host::NameStem(parameter.name) : parameter.name);
  // Hosts list the names beside each other: all of them start in capitals.
  if (!name.empty()) name.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(name.front())));
  return name;
}

// "_l"/"_r" for stereo, "_1", "_2" ... beyond, nothing for mono.
std::string ChannelSuffix(UInt32 channel, UInt32 channels) {
  static constexpr const char* kSides[] = {"_l", "_r"};
  if (channels == 1) return "";
  return channels == 2 ? kSides[channel] : "_" + std::to_string(channel + 1);
}

std::string ChannelName(UInt32 channel, UInt32 channels) {
  static constexpr const char* kSideNames[] = {"Left", "Right"};
  return channels == 2 ? kSideNames[channel] : "Channel " + std::to_string(channel + 1);
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
  port.toggled = parameter.unit == kAudioUnitParameterUnit_Boolean;
  // The useful times for melodies are tens of milliseconds: a linear
  // slider up to 10 s gives them almost no travel.
  if (parameter.unit == kAudioUnitParameterUnit_Seconds && parameter.minValue > 0.0f) port.logarithmic = true;
  if (port.symbol == "attack_time") port.defaultValue = static_cast<Float32>(music::kMelodyAttackSeconds);
  if (port.symbol == "release_time") port.defaultValue = static_cast<Float32>(music::kMelodyReleaseSeconds);
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
  static constexpr const char* kSideTerms[] = {"pg:left", "pg:right"};
  const bool input = kind == PortKind::AudioInput;
  PortSpec port;
  port.kind = kind;
  port.channel = channel;
  port.symbol = std::string(input ? "in" : "out") + ChannelSuffix(channel, channels);
  port.name = input ? "Input" : "Output";
  if (channels > 1) port.name = ChannelName(channel, channels) + (input ? " input" : " output");
  if (channels == 1) port.designation = "pg:center";
  if (channels == 2) port.designation = kSideTerms[channel];
  return port;
}

PortGroup AudioGroup(bool input, UInt32 channels) {
  const std::string shape = channels == 1   ? "mono"
                            : channels == 2 ? "stereo"
                                            : std::to_string(channels) + "ch";
  const std::string label = channels == 1 ? "Mono " : channels == 2 ? "Stereo " : "Audio ";
  const std::string classes = channels == 1 ? " , pg:MonoGroup" : channels == 2 ? " , pg:StereoGroup" : "";
  return PortGroup{shape + (input ? "_in" : "_out"), label + (input ? "input" : "output"),
                   (input ? "pg:InputGroup" : "pg:OutputGroup") + classes};
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

PortTable PortTable::Build(const host::ParameterCatalogue& catalogue, UInt32 channels, bool latency) {
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
  auto join = [&](PortSpec& port, const PortGroup& group) {
    port.group = group.symbol;
    if (groupSymbols.insert(group.symbol).second) table.mGroups.push_back(group);
  };
  std::vector<PortSpec> meters;
  for (const host::ParameterDescription& parameter : catalogue.All()) {
    if ((parameter.flags & (kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable)) == 0)
      continue;
    PortSpec port = ControlPort(parameter);
    if (port.symbol == kMasterVolumeSymbol) {
      // It moves every interval at once: a group of its own, not one with
      // the key.
      join(port, PortGroup{"master", "Master"});
    } else if (!parameter.clumpName.empty()) {
      join(port, PortGroup{SymbolFor(parameter.clumpName), parameter.clumpName});
    }
    if (port.kind == PortKind::ControlOutput) {
      meters.push_back(port);
      if (channels > 1) port.name += " (" + ChannelName(0, channels) + ")";
    }
    add(std::move(port));
  }
  const PortGroup inputs = AudioGroup(true, channels);
  const PortGroup outputs = AudioGroup(false, channels);
  table.mMainInput = inputs.symbol;
  table.mMainOutput = outputs.symbol;
  for (const PortKind kind : {PortKind::AudioInput, PortKind::AudioOutput}) {
    for (UInt32 c = 0; c < channels; ++c) {
      PortSpec port = AudioPort(kind, c, channels);
      join(port, kind == PortKind::AudioInput ? inputs : outputs);
      add(std::move(port));
    }
  }

  PortSpec enabled;
  enabled.role = PortRole::Enabled;
  enabled.symbol = kEnabledSymbol;
  enabled.name = "Enabled";
  enabled.designation = "lv2:enabled";
  enabled.maximum = 1.0f;
  enabled.defaultValue = 1.0f;
  enabled.integer = true;
  enabled.toggled = true;
  add(std::move(enabled));

  // The meters above are the first channel's; the others follow.
  for (UInt32 c = 1; c < channels; ++c) {
    for (PortSpec meter : meters) {
      meter.symbol += ChannelSuffix(c, channels);
      meter.name += " (" + ChannelName(c, channels) + ")";
      meter.channel = c;
      add(std::move(meter));
    }
  }
  if (latency) {
    PortSpec port;
    port.kind = PortKind::ControlOutput;
    port.role = PortRole::Latency;
    port.symbol = kLatencySymbol;
    port.name = "Latency";
    port.designation = "lv2:latency";
    port.unit = kAudioUnitParameterUnit_SampleFrames;
    port.maximum = kLatencyMaximum;
    port.integer = true;
    add(std::move(port));
  }
  for (PortSpec& port : table.mPorts) port.comment = PortComment(port, channels);
  return table;
}

const PortSpec* PortTable::Find(std::string_view symbol) const noexcept {
  const auto found = std::ranges::find(mPorts, symbol, &PortSpec::symbol);
  return found == mPorts.end() ? nullptr : &*found;
}

}  // namespace varsile::lv2
