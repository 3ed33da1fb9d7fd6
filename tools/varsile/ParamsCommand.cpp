// varsile params: the parameters as a host sees them.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <vector>

#include "CliError.h"
#include "Commands.h"
#include "GateSession.h"

namespace varsile::cli {

namespace {

constexpr std::string_view kHelp =
    "usage: varsile params\n"
    "\n"
    "Lists the component's parameters as a host sees them: id, name, group,\n"
    "unit, range, default, whether a host may change it, and value strings.\n";

std::string Joined(const std::vector<std::string>& values) {
  std::string text;
  for (const std::string& value : values) {
    if (!text.empty()) text += ", ";
    text += host::Trim(value);
  }
  return text;
}

}  // namespace

int ParamsCommand(std::span<const std::string> arguments, CliContext& context) {
  CLI::App app("", "params");
  if (!ParseCommand(app, arguments, kHelp, context.out)) return 0;

  GateSession session(context.componentSearch);
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
    strings.push_back(Joined(parameter.valueStrings));
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
