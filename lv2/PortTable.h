// The LV2 ports of the gate, derived from the parameters the component
// reports: one control port per parameter (input for the writable ones,
// output for the meters), then the audio ports, the bypass port and the
// meters of the other channels. The generator writes the plug-in description
// from this table and the plug-in builds the same table when it is
// instantiated, so port indices agree by construction.
//
// Port symbols key presets and sessions in every host: they must never
// change, and ports that come later are added after the existing ones. They
// are derived from the parameter names (and a test pins them).
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <string>
#include <string_view>
#include <vector>

#include "ParameterCatalogue.h"

namespace varsile::lv2 {

// The clump whose members are the interval volumes; their symbols carry the
// prefix "vol_" ("vol_minor_second").
inline constexpr std::string_view kIntervalVolumeGroup = "Volume";
inline constexpr std::string_view kIntervalSymbolPrefix = "vol_";

enum class PortKind { ControlInput, ControlOutput, AudioInput, AudioOutput };

// What a control port stands for: a parameter of the component, or a
// property the plug-in maps (bypass, latency).
enum class PortRole { Parameter, Enabled, Latency };

struct ScalePoint {
  Float32 value = 0.0f;
  std::string label;
};

struct PortGroup {
  std::string symbol;  // "transposition"
  std::string label;   // "Transposition", the component's clump name
  // Turtle classes: "pg:Group", or "pg:InputGroup , pg:StereoGroup".
  std::string classes = "pg:Group";
};

struct PortSpec {
  UInt32 index = 0;
  PortKind kind = PortKind::ControlInput;
  PortRole role = PortRole::Parameter;
  std::string symbol;
  std::string name;
  std::string comment;
  // A Turtle term: "lv2:enabled", "pg:left" ...; or "".
  std::string designation;
  // Control ports only.
  AudioUnitParameterID parameter = 0;
  AudioUnitParameterUnit unit = kAudioUnitParameterUnit_Generic;
  Float32 minimum = 0.0f;
  Float32 maximum = 0.0f;
  Float32 defaultValue = 0.0f;
  bool integer = false;
  bool enumeration = false;
  bool toggled = false;
  bool logarithmic = false;
  std::vector<ScalePoint> scalePoints;
  std::string group;  // a PortGroup symbol, or ""
  // Audio ports and meters: the channel.
  UInt32 channel = 0;

  bool IsControl() const noexcept {
    return kind == PortKind::ControlInput || kind == PortKind::ControlOutput;
  }
  bool IsIntervalVolume() const noexcept { return symbol.starts_with(kIntervalSymbolPrefix); }
};

class PortTable {
 public:
  // Throws std::runtime_error when two parameters would share a symbol.
  // latency: whether the plug-in reports its delay through an output port.
  static PortTable Build(const host::ParameterCatalogue& catalogue, UInt32 channels, bool latency = false);

  const std::vector<PortSpec>& Ports() const noexcept { return mPorts; }
  const std::vector<PortGroup>& Groups() const noexcept { return mGroups; }
  UInt32 Channels() const noexcept { return mChannels; }
  const PortSpec* Find(std::string_view symbol) const noexcept;
  // The groups of the audio ports.
  const std::string& MainInput() const noexcept { return mMainInput; }
  const std::string& MainOutput() const noexcept { return mMainOutput; }

 private:
  std::vector<PortSpec> mPorts;
  std::vector<PortGroup> mGroups;
  UInt32 mChannels = 0;
  std::string mMainInput;
  std::string mMainOutput;
};

// An LV2 symbol from a display name: lower case, every run of other
// characters one '_', none at either end ("A4 frequency" -> "a4_frequency",
// "aug. fourth" -> "aug_fourth"); a leading digit gets a '_' before it.
std::string SymbolFor(std::string_view name);

// What a port does, in a sentence for the host's tooltip (rdfs:comment).
std::string PortComment(const PortSpec& port, UInt32 channels);

inline constexpr std::string_view kMasterVolumeSymbol = "master_volume";
inline constexpr std::string_view kEnabledSymbol = "enabled";
inline constexpr std::string_view kLatencySymbol = "latency";
// The latency port's range ends here, in frames: a second at 192 kHz.
inline constexpr Float32 kLatencyMaximum = 192000.0f;

}  // namespace varsile::lv2
