// Errors the program reports to its user: one line on stderr, then exit.
#pragma once

#include <fmt/format.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace varsile::cli {

// Something about the files, the component or the values asked for.
class CliError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  template <typename... Args>
  requires(sizeof...(Args) > 0) CliError(fmt::format_string<Args...> format, Args&&... args)
      : std::runtime_error(fmt::format(format, std::forward<Args>(args)...)) {}
};

// The command line itself is wrong; the program exits with status 2.
class UsageError : public CliError {
 public:
  using CliError::CliError;
};

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

}  // namespace varsile::cli
