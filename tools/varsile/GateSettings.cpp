#include "GateSettings.h"

#include <fmt/format.h>

#include <array>

#include "CliError.h"
#include "MelodyTiming.h"
#include "NoteNames.h"
#include "Scales.h"

namespace varsile::cli {

using music::FindScale;
using music::ScaleNames;

namespace {

// The parameters behind the plain numeric options, by the names the
// component gives them.
struct NumericOption {
  std::string_view option;
  std::optional<double> GateOptions::*field;
  std::string_view parameterName;
};
constexpr std::array kTimeAndTrackerOptions{
    NumericOption{"--attack", &GateOptions::attack, "attack time"},
    NumericOption{"--release", &GateOptions::release, "release time"},
    NumericOption{"--a4", &GateOptions::a4, "A4 frequency"},
    NumericOption{"--accuracy-threshold", &GateOptions::accuracyThreshold, "accuracy threshold"},
    NumericOption{"--jitter-threshold", &GateOptions::jitterThreshold, "jitter threshold"},
};

void AddNumber(CLI::App& app, const std::string& name, std::optional<double>& value) {
  app.add_option_function<std::string>(
         name, [&value, name](const std::string& text) { value = ParseNumber(name, text); })
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
}

Float32 Checked(const host::ParameterDescription& parameter, std::string_view option, double value) {
  if (!parameter.InRange(value)) {
    throw UsageError(fmt::format("{} {} is out of range: {} takes {}", option, NumberText(value),
                                 parameter.name, RangeText(parameter)));
  }
  return static_cast<Float32>(value);
}

UsageError UnknownScale(const std::string& name) {
  return UsageError(fmt::format("unknown scale '{}' (use one of: {})", name, ScaleNames()));
}

}  // namespace

void AddTrackerOptions(CLI::App& app, GateOptions& options) {
  AddNumber(app, "--a4", options.a4);
  AddNumber(app, "--accuracy-threshold", options.accuracyThreshold);
  AddNumber(app, "--jitter-threshold", options.jitterThreshold);
}

void AddGateOptions(CLI::App& app, GateOptions& options) {
  AddText(app, "--key", options.key);
  AddText(app, "--scale", options.scale);
  AddNumber(app, "--out-of-scale", options.outOfScale);
  app.add_option("--volume", options.volumes)->allow_extra_args(false);
  AddNumber(app, "--master", options.master);
  AddNumber(app, "--attack", options.attack);
  AddNumber(app, "--release", options.release);
  AddTrackerOptions(app, options);
  app.add_flag("--bypass", options.bypass)->disable_flag_override();
}

std::string NumberText(double value) {
  return fmt::format("{}", value);
}

std::string ValueText(const host::ParameterDescription& parameter, Float32 value) {
  const std::string_view symbol = host::UnitSymbol(parameter.unit);
  return fmt::format("{}{}{}", value, symbol.empty() || symbol == "%" ? "" : " ", symbol);
}

std::string RangeText(const host::ParameterDescription& parameter) {
  // The range is printed as the float the component declares, shortest.
  return fmt::format("{} to {}", parameter.minValue, ValueText(parameter, parameter.maxValue));
}

void CheckGateOptions(const GateOptions& options) {
  for (const std::string& volume : options.volumes) {
    const std::size_t equals = volume.rfind('=');
    if (equals == std::string::npos || equals == 0) {
      throw UsageError(fmt::format("--volume needs INTERVAL=PCT, got '{}'", volume));
    }
    ParseNumber("--volume " + volume.substr(0, equals), volume.substr(equals + 1));
  }
  if (options.scale && !FindScale(*options.scale)) throw UnknownScale(*options.scale);
  if (options.outOfScale && !options.scale) throw UsageError("--out-of-scale needs --scale");
}

std::vector<ParameterSetting> ResolveGateOptions(const GateOptions& options,
                                                 const host::ParameterCatalogue& catalogue) {
  std::vector<ParameterSetting> settings;
  if (options.key) {
    const host::ParameterDescription& key = catalogue.Require("key");
    settings.push_back({key.id, static_cast<Float32>(ParseKey(*options.key, key)), "--key"});
  }

  if (options.scale || !options.volumes.empty()) {
    const IntervalTable intervals = IntervalTable::Find(catalogue);
    if (options.scale) {
      const auto scale = FindScale(*options.scale);
      if (!scale) throw UnknownScale(*options.scale);
      const Float32 outside =
          Checked(intervals.Parameter(0), "--out-of-scale", options.outOfScale.value_or(0.0));
      for (int n = 0; n < 12; ++n) {
        const host::ParameterDescription& parameter = intervals.Parameter(n);
        const bool inside = scale->semitones.test(static_cast<std::size_t>(n));
        settings.push_back(
            {parameter.id, inside ? Checked(parameter, "--scale", 100.0) : outside, "--scale"});
      }
    }
    for (const std::string& volume : options.volumes) {
      const std::size_t equals = volume.rfind('=');
      const std::string name = volume.substr(0, equals);
      const int semitones = intervals.Parse(name);
      const host::ParameterDescription& parameter = intervals.Parameter(semitones);
      const double value = ParseNumber("--volume " + name, volume.substr(equals + 1));
      settings.push_back({parameter.id, Checked(parameter, "--volume " + name, value), "--volume"});
    }
  }

  if (options.master) {
    const host::ParameterDescription& master = catalogue.Require("master volume");
    settings.push_back({master.id, Checked(master, "--master", *options.master), "--master"});
  }
  for (const NumericOption& numeric : kTimeAndTrackerOptions) {
    const std::optional<double>& value = options.*numeric.field;
    if (!value) continue;
    const host::ParameterDescription& parameter = catalogue.Require(numeric.parameterName);
    settings.push_back(
        {parameter.id, Checked(parameter, numeric.option, *value), std::string(numeric.option)});
  }
  return settings;
}

void ApplyGateSettings(host::AudioUnitHandle& unit, const std::vector<ParameterSetting>& settings,
                       bool bypass) {
  for (const ParameterSetting& setting : settings) unit.SetParameter(setting.id, setting.value);
  if (bypass) {
    const UInt32 on = 1;
    unit.SetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, on);
  }
}

GateOptions WithMelodyTiming(GateOptions gate, bool keepTheUnits) {
  if (keepTheUnits) return gate;
  if (!gate.attack) gate.attack = music::kMelodyAttackSeconds;
  if (!gate.release) gate.release = music::kMelodyReleaseSeconds;
  return gate;
}

}  // namespace varsile::cli
