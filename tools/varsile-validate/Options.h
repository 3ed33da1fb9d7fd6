// The validator's command line.
#pragma once

#include <CLI/Error.hpp>
#include <span>
#include <string>
#include <vector>

#include "Target.h"

namespace varsile::validate {

// A command-line mistake, as the parser reports it; its text is the message.
using UsageError = CLI::ParseError;

struct Options {
  TargetQuery query;
  std::vector<std::string> groups;  // empty: every group
  bool quiet = false;
  bool help = false;
  bool listGroups = false;
};

// Throws UsageError for an unknown option, a missing value or a malformed
// four-character code.
Options ParseOptions(std::span<const std::string> arguments);
std::string Usage();

}  // namespace varsile::validate
