#include "Records.h"

#include <fmt/ranges.h>

#include <iterator>
#include <string_view>

namespace varsile::cli {

Field Field::Number(double value, int decimals) {
  return Field{fmt::format("{:.{}f}", value, decimals), false, false};
}

Field Field::Text(std::string text) {
  return Field{std::move(text), true, false};
}

Field Field::None() {
  return Field{"", false, true};
}

std::string RecordsCsv(const std::vector<std::string>& names, const std::vector<std::vector<Field>>& rows) {
  std::string text = fmt::format("{}\n", fmt::join(names, ","));
  for (const std::vector<Field>& row : rows) {
    std::vector<std::string_view> cells;
    for (const Field& field : row) cells.push_back(field.text);
    fmt::format_to(std::back_inserter(text), "{}\n", fmt::join(cells, ","));
  }
  return text;
}

std::string RecordsJson(const std::vector<std::string>& names, const std::vector<std::vector<Field>>& rows) {
  std::string text = "[";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    text += r == 0 ? "\n  {" : ",\n  {";
    for (std::size_t i = 0; i < rows[r].size() && i < names.size(); ++i) {
      const Field& field = rows[r][i];
      text += (i == 0 ? "\"" : ", \"") + names[i] + "\": ";
      // Names and notes hold no quotes or backslashes.
      text += field.none ? "null" : field.quoted ? "\"" + field.text + "\"" : field.text;
    }
    text += '}';
  }
  text += rows.empty() ? "]\n" : "\n]\n";
  return text;
}

}  // namespace varsile::cli
