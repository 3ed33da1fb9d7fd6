// The gate's options (--key, --scale, --volume, --master, ...) and how they
// become parameter values, found through the parameters' information.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "AudioUnitHandle.h"
#include "Options.h"
#include "ParameterCatalogue.h"

namespace varsile::cli {

struct GateOptions {
  std::optional<std::string> key;
  std::optional<std::string> scale;
  std::optional<double> outOfScale;
  std::vector<std::string> volumes;  // "INTERVAL=PCT", in the order given
  std::optional<double> master;
  std::optional<double> attack;
  std::optional<double> release;
  std::optional<double> a4;
  std::optional<double> accuracyThreshold;
  std::optional<double> jitterThreshold;
  bool bypass = false;
};

// The option specs of the gate settings, for commands that take them.
std::span<const OptionSpec> GateOptionSpecs();
// The tracker's settings alone (analyze changes no volume).
std::span<const OptionSpec> TrackerOptionSpecs();

// Reads the options given; numbers are checked here, names and ranges when
// resolved. Throws UsageError.
GateOptions ReadGateOptions(const ParsedOptions& parsed);

struct ParameterSetting {
  AudioUnitParameterID id;
  Float32 value;
  std::string option;  // for messages: "--master"
};

// The parameter values the options ask for, in the order they are to be
// set: key, scale and interval volumes, master volume (which moves the
// volumes set before it), then the times and the tracker's settings.
// Throws UsageError for an unknown key, scale or interval, or a value
// outside its parameter's range.
std::vector<ParameterSetting> ResolveGateOptions(const GateOptions& options,
                                                 const host::ParameterCatalogue& catalogue);

// Sets them, and the bypass property when asked.
void ApplyGateSettings(host::AudioUnitHandle& unit, const std::vector<ParameterSetting>& settings,
                       bool bypass);

// "0.01 to 10 s": a parameter's range for messages.
std::string RangeText(const host::ParameterDescription& parameter);
// Shortest decimal text of a value ("0.01", "100").
std::string NumberText(double value);

}  // namespace varsile::cli
