// varsile analyze IN [options]: the notes the tracker hears, as segments.
#include <cstdio>
#include <vector>

#include "AudioFile.h"
#include "CliError.h"
#include "Commands.h"
#include "GateSession.h"
#include "MeterLog.h"
#include "NoteSegments.h"
#include "Progress.h"

namespace varsile::cli {

namespace {

constexpr std::string_view kHelp =
    "usage: varsile analyze IN [options]\n"
    "\n"
    "Runs IN through the gate with every volume at 100 % (the audio passes\n"
    "unchanged) and prints the notes the pitch tracker detects, as segments:\n"
    "start and end in seconds, the note, and its mean accuracy in percent.\n"
    "\n"
    "options:\n"
    "  --meters FILE.csv         write the meters after every block\n"
    "  --block N                 frames per render call (default 512)\n"
    "  --a4 HZ                   tuning reference of the pitch tracker\n"
    "  --accuracy-threshold PCT  least accuracy for the tracker to change note\n"
    "  --jitter-threshold N      the tracker's hold threshold\n";

}  // namespace

int AnalyzeCommand(std::span<const std::string> arguments, CliContext& context) {
  std::vector<OptionSpec> specs{{"meters"}, {"block"}};
  for (const OptionSpec& row : TrackerOptionSpecs()) specs.push_back(row);
  const ParsedOptions parsed = ParseOptions("analyze", arguments, specs);
  if (parsed.help) {
    context.out << kHelp;
    return 0;
  }
  if (parsed.positionals.empty())
    throw UsageError("analyze needs an input file (try 'varsile analyze --help')");
  if (parsed.positionals.size() > 1) throw UsageError("unexpected argument '" + parsed.positionals[1] + "'");
  UInt32 block = 512;
  if (const auto text = parsed.Value("block")) {
    block = static_cast<UInt32>(ParseWholeNumber("--block", *text, 1, kMaxBlockSize));
  }
  GateOptions gate = ReadGateOptions(parsed);
  // Every interval at 100 %, and the master too, so nothing is attenuated.
  gate.scale = "chromatic";
  gate.master = 100.0;

  AudioFileReader input(parsed.positionals.front());
  GateSession session(context.componentSearch);
  session.Apply(gate);

  const host::ParameterDescription& note = session.Catalogue().Require("current note");
  NoteSegments segments;
  std::optional<MeterLog> meters;
  if (const auto path = parsed.Value("meters")) meters.emplace(*path);

  Progress progress(context.err, context.stderrIsTerminal, input.Frames(), input.SampleRate());
  GateSession::RunOptions run;
  run.blockSize = block;
  run.progress = &progress;
  run.meters = [&](const MeterReading& reading) {
    segments.Add(reading);
    if (meters) meters->Add(reading);
  };
  session.Run(input, run);
  if (meters) meters->Commit();

  context.out << segments.Table(note.valueStrings);
  return 0;
}

}  // namespace varsile::cli
