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
  CLI::App app("", "analyze");
  std::vector<std::string> inputs;
  std::optional<std::string> meterPath;
  UInt32 block = 512;
  GateOptions gate;
  app.add_option("IN", inputs);
  AddText(app, "--meters", meterPath);
  AddWholeNumber(app, "--block", block, 1, kMaxBlockSize);
  AddTrackerOptions(app, gate);
  if (!ParseCommand(app, arguments, kHelp, context.out)) return 0;
  const std::string& inputPath = OnlyInput(inputs, "analyze");
  // Every interval at 100 %, and the master too, so nothing is attenuated.
  gate.scale = "chromatic";
  gate.master = 100.0;

  AudioFileReader input(inputPath);
  GateSession session(context.componentSearch);
  session.Apply(gate);

  const host::ParameterDescription& note = session.Catalogue().Require("current note");
  NoteSegments segments;
  std::optional<MeterLog> meters;
  if (meterPath) meters.emplace(*meterPath);

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
