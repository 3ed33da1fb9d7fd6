#include "CommandLine.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "CliError.h"

namespace varsile::cli {

namespace {

// CLI11 names the option first in its own messages: "--key: ..." or
// "bypass was ...".
const CLI::Option* OptionNamedIn(const CLI::App& app, std::string_view message) {
  const std::size_t end = message.find_first_of(": ");
  std::string name(message.substr(0, end));
  name.erase(0, name.find_first_not_of('-'));
  for (const CLI::Option* option : app.get_options()) {
    if (option->check_lname(name) || option->check_sname(name)) return option;
  }
  return nullptr;
}

UsageError Reworded(const CLI::App& app, const CLI::ParseError& error) {
  const std::string command = app.get_name();
  const std::string tryHelp = fmt::format(" (try 'varsile {} --help')", command);
  const std::string_view message = error.what();
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    if (const CLI::Option* option = OptionNamedIn(app, message)) {
      const std::string first =
          option->get_lnames().empty() ? "-" + option->get_snames().at(0) : "--" + option->get_lnames()[0];
      if (option->get_expected_max() == 0)
        return UsageError(fmt::format("option '{}' takes no value", first));
      if (option->count() > 1) return UsageError(fmt::format("option '{}' is given more than once", first));
      return UsageError(fmt::format("option '{}' needs a value{}", first, tryHelp));
    }
  }
  // Our own checks give the whole message; CLI11 puts the option's name before it.
  if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr) {
    const std::size_t colon = message.find(": ");
    if (colon != std::string_view::npos) return UsageError(std::string(message.substr(colon + 2)));
  }
  return UsageError(fmt::format("{}{}", message, tryHelp));
}

}  // namespace

bool ParseCommand(CLI::App& app, std::span<const std::string> arguments, std::string_view help,
                  std::ostream& out) {
  app.set_help_flag("-h,--help");
  app.allow_extras();
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << help;
    return false;
  } catch (const CLI::ParseError& error) {
    throw Reworded(app, error);
  }
  for (const std::string& extra : app.remaining()) {
    if (extra == "--") continue;
    if (extra.size() > 1 && extra[0] == '-') {
      const std::string shown =
          extra.starts_with("--") ? extra.substr(0, extra.find('=')) : extra.substr(0, 2);
      throw UsageError(fmt::format("unknown option '{}' for {} (try 'varsile {} --help')", shown,
                                   app.get_name(), app.get_name()));
    }
    throw UsageError(fmt::format("unexpected argument '{}'", extra));
  }
  return true;
}

CLI::Option* AddText(CLI::App& app, const std::string& names, std::optional<std::string>& value) {
  return app.add_option_function<std::string>(names, [&value](const std::string& text) { value = text; })
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
}

CLI::Option* AddWholeNumber(CLI::App& app, const std::string& name, UInt32& value, long low, long high) {
  return app
      .add_option_function<std::string>(name,
                                        [&value, name, low, high](const std::string& text) {
                                          value =
                                              static_cast<UInt32>(ParseWholeNumber(name, text, low, high));
                                        })
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
}

double ParseNumber(std::string_view option, std::string_view text) {
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc{} || stop != end || !std::isfinite(value)) {
    throw UsageError(fmt::format("{} needs a number, got '{}'", option, text));
  }
  return value;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::optional<long> WholeNumber(std::string_view text) {
  long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc{} || stop != end) return std::nullopt;
  return value;
}

long ParseWholeNumber(std::string_view option, std::string_view text, long low, long high) {
  const std::optional<long> value = WholeNumber(text);
  if (!value || *value < low || *value > high)
    throw UsageError("{} needs a whole number from {} to {}, got '{}'", option, low, high, text);
  return *value;
}

}  // namespace varsile::cli
