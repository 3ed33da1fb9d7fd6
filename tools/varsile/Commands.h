// The subcommands. Each takes its arguments after the command's name and
// returns the exit status; failures are thrown (CliError, UsageError,
// HostError) and reported by RunCli.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "Cli.h"
#include "GateSettings.h"

namespace varsile::cli {

int ProcessCommand(std::span<const std::string> arguments, CliContext& context);
int AnalyzeCommand(std::span<const std::string> arguments, CliContext& context);
int ParamsCommand(std::span<const std::string> arguments, CliContext& context);
int DemoCommand(std::span<const std::string> arguments, CliContext& context);

// What process does, for the demo too.
struct ProcessRequest {
  std::string input;
  std::string output;
  GateOptions gate;
  UInt32 blockSize = 512;
  std::optional<std::string> sampleFormat;
  std::optional<std::string> presetIn;
  std::optional<std::string> presetOut;
  std::optional<std::string> meters;
  bool lookahead = false;
  // Threads that render the channels of a file of several; 0: one per core.
  unsigned workers = 0;
};
void ProcessFile(const ProcessRequest& request, CliContext& context);

inline constexpr long kMaxBlockSize = 65536;

}  // namespace varsile::cli
