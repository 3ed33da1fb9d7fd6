// The gate's options (--key, --scale, --volume, --master, ...) and how they
// become parameter values, found through the parameters' information.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "AudioUnitHandle.h"
#include "CommandLine.h"
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

// Adds the gate's options to a command; their values land in `options`,
// numbers checked as they are read (a UsageError otherwise).
void AddGateOptions(CLI::App& app, GateOptions& options);
// The tracker's settings alone (analyze changes no volume).
void AddTrackerOptions(CLI::App& app, GateOptions& options);

// What can be checked before the component is loaded: the --volume syntax,
// the scale's name, --out-of-scale only with --scale. Throws UsageError.
void CheckGateOptions(const GateOptions& options);

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

// Without a preset, attack and release suit melodies rather than the
// component's own 1 s; `keepTheUnits` (a preset was loaded, or the unit has
// no such times) leaves the options as they are.
GateOptions WithMelodyTiming(GateOptions gate, bool keepTheUnits);

// "0.01 to 10 s": a parameter's range for messages.
std::string RangeText(const host::ParameterDescription& parameter);
// "0.5 s", "80": a value in a parameter's unit, as the float it is.
std::string ValueText(const host::ParameterDescription& parameter, Float32 value);
// Shortest decimal text of a value ("0.01", "100").
std::string NumberText(double value);

}  // namespace varsile::cli
