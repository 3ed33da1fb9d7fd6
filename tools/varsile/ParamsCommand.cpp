// varsile params: the parameters as a host sees them.
#include <fmt/ranges.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "CliError.h"
#include "Commands.h"
#include "GateSession.h"

namespace varsile::cli {

namespace {

constexpr std::string_view kHelp =
    "usage: varsile params [--preset FILE]\n"
    "\n"
    "Lists the component's parameters as a host sees them: id, name, group,\n"
    "unit, range, default, whether a host may change it, and value strings.\n"
    "The jitter threshold changes nothing you can hear or see: the gate does\n"
    "not read it.\n"
    "\n"
    "options:\n"
    "  --preset FILE   print the values a preset (.aupreset) holds, by name\n";

}  // namespace

int ParamsCommand(std::span<const std::string> arguments, CliContext& context) {
  CLI::App app("", "params");
  std::optional<std::string> presetPath;
  AddText(app, "--preset", presetPath);
  if (!ParseCommand(app, arguments, kHelp, context.out)) return 0;

  GateSession session(context.componentSearch);
  if (presetPath) {
    session.LoadPreset(*presetPath);
    for (const host::ParameterDescription& parameter : session.Catalogue().All()) {
      if (!parameter.IsWritable()) continue;
      const auto index = static_cast<std::size_t>(parameter.value);
      const bool named =
          static_cast<Float32>(index) == parameter.value && index < parameter.valueStrings.size();
      context.out << fmt::format("{}: {}\n", parameter.name,
                                 named ? std::string(host::Trim(parameter.valueStrings[index]))
                                       : ValueText(parameter, parameter.value));
    }
    return 0;
  }
  using Row = std::array<std::string, 7>;
  std::vector<Row> rows{{"id", "name", "group", "unit", "range", "default", "access"}};
  std::vector<std::string> strings{"value strings"};
  for (const host::ParameterDescription& parameter : session.Catalogue().All()) {
    rows.push_back({std::to_string(parameter.id), parameter.name, parameter.clumpName,
                    std::string(host::UnitName(parameter.unit)),
                    fmt::format("{} to {}", parameter.minValue, parameter.maxValue),
                    fmt::format("{}", parameter.defaultValue),
                    parameter.IsWritable()                                           ? "read/write"
                    : (parameter.flags & kAudioUnitParameterFlag_MeterReadOnly) != 0 ? "meter"
                                                                                     : "read-only"});
    std::vector<std::string_view> values;
    for (const std::string& value : parameter.valueStrings) values.push_back(host::Trim(value));
    strings.push_back(fmt::to_string(fmt::join(values, ", ")));
  }
  std::array<std::size_t, 7> widths{};
  for (const Row& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::string line;
    for (std::size_t i = 0; i < rows[r].size(); ++i) line += fmt::format("{:<{}}", rows[r][i], widths[i] + 2);
    line += strings[r];
    while (!line.empty() && line.back() == ' ') line.pop_back();
    context.out << line << '\n';
  }
  return 0;
}

}  // namespace varsile::cli
