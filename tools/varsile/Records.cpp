#include "Records.h"

#include <fmt/format.h>

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
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) text += (i == 0 ? "" : ",") + names[i];
  text += '\n';
  for (const std::vector<Field>& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) text += (i == 0 ? "" : ",") + row[i].text;
    text += '\n';
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
