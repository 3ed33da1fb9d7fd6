#include "Options.h"

#include <charconv>
#include <cmath>

#include "CliError.h"

namespace varsile::cli {

namespace {

const OptionSpec* FindLong(std::span<const OptionSpec> specs, std::string_view name) {
  for (const OptionSpec& row : specs) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

const OptionSpec* FindShort(std::span<const OptionSpec> specs, char name) {
  for (const OptionSpec& row : specs) {
    if (row.shortName != '\0' && row.shortName == name) return &row;
  }
  return nullptr;
}

std::string Quote(std::string_view text) {
  return "'" + std::string(text) + "'";
}

}  // namespace

bool ParsedOptions::Has(std::string_view name) const noexcept {
  for (const auto& [option, value] : options) {
    if (option == name) return true;
  }
  return false;
}

std::optional<std::string> ParsedOptions::Value(std::string_view name) const {
  for (const auto& [option, value] : options) {
    if (option == name) return value;
  }
  return std::nullopt;
}

std::vector<std::string> ParsedOptions::Values(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [option, value] : options) {
    if (option == name) values.push_back(value);
  }
  return values;
}

ParsedOptions ParseOptions(std::string_view command, std::span<const std::string> arguments,
                           std::span<const OptionSpec> specs) {
  ParsedOptions parsed;
  const std::string tryHelp = " (try 'varsile " + std::string(command) + " --help')";
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--") {
      parsed.positionals.insert(parsed.positionals.end(), arguments.begin() + static_cast<long>(i) + 1,
                                arguments.end());
      break;
    }
    if (argument == "-h" || argument == "--help") {
      parsed.help = true;
      continue;
    }
    // A lone "-" is a positional (a name), as are all arguments without dashes.
    if (argument.size() < 2 || argument[0] != '-') {
      parsed.positionals.push_back(argument);
      continue;
    }

    const OptionSpec* row = nullptr;
    std::optional<std::string> inlineValue;
    std::string shown;
    if (argument.starts_with("--")) {
      std::string_view body = std::string_view(argument).substr(2);
      const std::size_t equals = body.find('=');
      if (equals != std::string_view::npos) {
        inlineValue = std::string(body.substr(equals + 1));
        body = body.substr(0, equals);
      }
      shown = "--" + std::string(body);
      row = FindLong(specs, body);
    } else {
      shown = argument.substr(0, 2);
      row = FindShort(specs, argument[1]);
      if (argument.size() > 2) inlineValue = argument.substr(argument[2] == '=' ? 3 : 2);
    }
    if (row == nullptr)
      throw UsageError("unknown option " + Quote(shown) + " for " + std::string(command) + tryHelp);

    const std::string name(row->name);
    std::string value;
    if (row->takesValue) {
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
      } else {
        throw UsageError("option " + Quote(shown) + " needs a value" + tryHelp);
      }
    } else if (inlineValue) {
      throw UsageError("option " + Quote(shown) + " takes no value");
    }
    if (!row->repeatable && parsed.Has(name)) {
      throw UsageError("option " + Quote("--" + name) + " is given more than once");
    }
    parsed.options.emplace_back(name, std::move(value));
  }
  return parsed;
}

double ParseNumber(std::string_view option, std::string_view text) {
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc{} || stop != end || !std::isfinite(value)) {
    throw UsageError(std::string(option) + " needs a number, got '" + std::string(text) + "'");
  }
  return value;
}

long ParseWholeNumber(std::string_view option, std::string_view text, long low, long high) {
  long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc{} || stop != end || value < low || value > high) {
    throw UsageError(std::string(option) + " needs a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", got '" + std::string(text) + "'");
  }
  return value;
}

}  // namespace varsile::cli
