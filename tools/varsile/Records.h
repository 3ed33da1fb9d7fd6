// Rows of named fields as CSV or as a JSON array of objects, for the
// tables scripts read.
#pragma once

#include <string>
#include <vector>

namespace varsile::cli {

// One field: a number, a text, or nothing (empty in CSV, null in JSON).
struct Field {
  static Field Number(double value, int decimals);
  static Field Text(std::string text);
  static Field None();

  std::string text;
  bool quoted = false;  // in JSON
  bool none = false;
};

std::string RecordsCsv(const std::vector<std::string>& names, const std::vector<std::vector<Field>>& rows);
std::string RecordsJson(const std::vector<std::string>& names, const std::vector<std::vector<Field>>& rows);

}  // namespace varsile::cli
