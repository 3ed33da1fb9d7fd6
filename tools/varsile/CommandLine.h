// A command's arguments, parsed with CLI11, and its mistakes worded for the
// user: every one is a UsageError (exit status 2).
#pragma once

#include <MacTypes.h>

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varsile::cli {

// Parses a command's arguments (those after its name) into what `app` binds.
// Returns false when -h or --help asked for `help` (then printed to out).
bool ParseCommand(CLI::App& app, std::span<const std::string> arguments, std::string_view help,
                  std::ostream& out);

// "--name VALUE" into a text, present only when given.
CLI::Option* AddText(CLI::App& app, const std::string& names, std::optional<std::string>& value);

// "--name N", a whole number from low to high, into value when given.
CLI::Option* AddWholeNumber(CLI::App& app, const std::string& name, UInt32& value, long low, long high);

// A finite decimal number, the whole text; otherwise a UsageError
// "<option> needs a number, got '<text>'".
double ParseNumber(std::string_view option, std::string_view text);

// The text in lower case (ASCII), for names typed in any case.
std::string Lower(std::string_view text);

// The whole text as a whole number, if it is one.
std::optional<long> WholeNumber(std::string_view text);

// A whole number from low to high; otherwise a UsageError naming the range.
long ParseWholeNumber(std::string_view option, std::string_view text, long low, long high);

}  // namespace varsile::cli
