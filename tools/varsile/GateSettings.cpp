#include "GateSettings.h"

#include <array>
#include <charconv>

#include "CliError.h"
#include "NoteNames.h"
#include "Scales.h"

namespace varsile::cli {

using music::FindScale;
using music::ScaleNames;

namespace {

constexpr std::array kGateOptionSpecs{
    OptionSpec{"key"},
    OptionSpec{"scale"},
    OptionSpec{"out-of-scale"},
    OptionSpec{"volume", '\0', true, true},
    OptionSpec{"master"},
    OptionSpec{"attack"},
    OptionSpec{"release"},
    OptionSpec{"a4"},
    OptionSpec{"accuracy-threshold"},
    OptionSpec{"jitter-threshold"},
    OptionSpec{"bypass", '\0', false},
};

constexpr std::array kTrackerOptionSpecs{
    OptionSpec{"a4"},
    OptionSpec{"accuracy-threshold"},
    OptionSpec{"jitter-threshold"},
};

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

std::optional<double> Number(const ParsedOptions& parsed, std::string_view name) {
  const auto text = parsed.Value(name);
  if (!text) return std::nullopt;
  return ParseNumber("--" + std::string(name), *text);
}

Float32 Checked(const host::ParameterDescription& parameter, std::string_view option, double value) {
  if (!parameter.InRange(value)) {
    throw UsageError(std::string(option) + " " + NumberText(value) + " is out of range: " + parameter.name +
                     " takes " + RangeText(parameter));
  }
  return static_cast<Float32>(value);
}

UsageError UnknownScale(const std::string& name) {
  return UsageError("unknown scale '" + name + "' (use one of: " + ScaleNames() + ")");
}

}  // namespace

std::span<const OptionSpec> GateOptionSpecs() {
  return kGateOptionSpecs;
}

std::span<const OptionSpec> TrackerOptionSpecs() {
  return kTrackerOptionSpecs;
}

std::string NumberText(double value) {
  std::array<char, 32> text{};
  const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} ? std::string(text.data(), end) : std::string("?");
}

std::string RangeText(const host::ParameterDescription& parameter) {
  // The range is printed as the float the component declares, shortest.
  const auto shortest = [](Float32 value) {
    std::array<char, 32> text{};
    const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} ? std::string(text.data(), end) : std::string("?");
  };
  std::string range = shortest(parameter.minValue) + " to " + shortest(parameter.maxValue);
  const std::string_view symbol = host::UnitSymbol(parameter.unit);
  if (!symbol.empty()) range += std::string(symbol == "%" ? "" : " ") + std::string(symbol);
  return range;
}

GateOptions ReadGateOptions(const ParsedOptions& parsed) {
  GateOptions options;
  options.key = parsed.Value("key");
  options.scale = parsed.Value("scale");
  options.outOfScale = Number(parsed, "out-of-scale");
  options.volumes = parsed.Values("volume");
  options.master = Number(parsed, "master");
  options.attack = Number(parsed, "attack");
  options.release = Number(parsed, "release");
  options.a4 = Number(parsed, "a4");
  options.accuracyThreshold = Number(parsed, "accuracy-threshold");
  options.jitterThreshold = Number(parsed, "jitter-threshold");
  options.bypass = parsed.Has("bypass");
  for (const std::string& volume : options.volumes) {
    const std::size_t equals = volume.rfind('=');
    if (equals == std::string::npos || equals == 0) {
      throw UsageError("--volume needs INTERVAL=PCT, got '" + volume + "'");
    }
    ParseNumber("--volume " + volume.substr(0, equals), volume.substr(equals + 1));
  }
  if (options.scale && !FindScale(*options.scale)) throw UnknownScale(*options.scale);
  if (options.outOfScale && !options.scale) throw UsageError("--out-of-scale needs --scale");
  return options;
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

}  // namespace varsile::cli
