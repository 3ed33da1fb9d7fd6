// The validator's command line.
#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "Target.h"

namespace varsile::validate {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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
