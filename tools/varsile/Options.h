// Command-line options of the subcommands: "--name value", "--name=value",
// "-o value", flags without a value, and positional arguments; "--" ends
// the options.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varsile::cli {

struct OptionSpec {
  std::string_view name;  // without the dashes: "key"
  char shortName = '\0';  // 'o' for -o, or none
  bool takesValue = true;
  bool repeatable = false;
};

class ParsedOptions {
 public:
  bool Has(std::string_view name) const noexcept;
  // The value of an option given once, if given.
  std::optional<std::string> Value(std::string_view name) const;
  // Every value of a repeatable option, in order.
  std::vector<std::string> Values(std::string_view name) const;

  std::vector<std::string> positionals;
  std::vector<std::pair<std::string, std::string>> options;  // (name, value)
  bool help = false;
};

// Throws UsageError for an unknown option, a missing value, a value given to
// a flag, or an option repeated that is not repeatable. "-h" and "--help"
// are always known.
ParsedOptions ParseOptions(std::string_view command, std::span<const std::string> arguments,
                           std::span<const OptionSpec> specs);

// A finite decimal number, the whole text; otherwise a UsageError
// "<option> needs a number, got '<text>'".
double ParseNumber(std::string_view option, std::string_view text);

// A whole number from low to high; otherwise a UsageError naming the range.
long ParseWholeNumber(std::string_view option, std::string_view text, long low, long high);

}  // namespace varsile::cli
