// The subcommands. Each takes its arguments after the command's name and
// returns the exit status; failures are thrown (CliError, UsageError,
// HostError) and reported by RunCli.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "AudioFile.h"
#include "Cli.h"
#include "GateSettings.h"
#include "NoteAnalysis.h"
#include "NoteSegments.h"

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
  std::optional<TimelineFormat> report;  // the notes heard, after the run
  std::optional<std::string> plot;       // a picture of the run, .png or .svg
};
void ProcessFile(const ProcessRequest& request, CliContext& context);

// What analyze does to one file.
struct AnalyzeRequest {
  std::string input;
  GateOptions tracker;
  UInt32 blockSize = 512;
  double minNoteMs = 50.0;
  TimelineFormat format = TimelineFormat::kText;
  std::optional<std::string> meters;
  std::optional<std::string> plot;
};
// Warnings go to context.err; the caller prints the timeline.
NoteAnalysis AnalyzeFile(const AnalyzeRequest& request, CliContext& context);
// "text", "csv" or "json"; otherwise a UsageError that names the option.
TimelineFormat ParseTimelineFormat(const std::string& text, std::string_view option = "--format");

// A warning on err when the input ended before its header said it would.
void WarnIfShort(const AudioFileReader& input, SInt64 framesRead, CliContext& context);

inline constexpr long kMaxBlockSize = 65536;

}  // namespace varsile::cli
