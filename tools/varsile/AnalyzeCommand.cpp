// varsile analyze IN [options]: the notes the tracker hears, as segments.
#include <optional>
#include <vector>

#include "AudioFile.h"
#include "CliError.h"
#include "Commands.h"
#include "MeterLog.h"
#include "NoteAnalysis.h"
#include "NotePlot.h"
#include "Progress.h"
#include "SameFiles.h"

namespace varsile::cli {

namespace {

constexpr std::string_view kHelp =
    "usage: varsile analyze IN [options]\n"
    "\n"
    "Runs every channel of IN through the gate with every volume at 100 % (the\n"
    "audio passes unchanged) and prints the notes the pitch tracker detects, as\n"
    "segments: start and end in seconds, the channel (when there are several),\n"
    "the note ('-': none, as over silence), and its mean accuracy in percent.\n"
    "\n"
    "options:\n"
    "  --min-note MS             segments shorter than this join a neighbour\n"
    "                            (default 50; 0 shows every one)\n"
    "  --format FORMAT           text, csv or json (default text)\n"
    "  --meters FILE.csv         write every channel's meters after every block\n"
    "  --plot FILE.png|svg       draw the notes of every channel in twelve lanes,\n"
    "                            under channel 1's envelope\n"
    "  --block N                 frames per render call (default 512)\n"
    "  --a4 HZ                   tuning reference of the pitch tracker\n"
    "  --accuracy-threshold PCT  least accuracy for the tracker to change note\n"
    "  --jitter-threshold N      the tracker's hold threshold; it changes nothing\n"
    "                            you can hear or see: the gate does not read it\n";

}  // namespace

TimelineFormat ParseTimelineFormat(const std::string& text) {
  if (text == "text") return TimelineFormat::kText;
  if (text == "csv") return TimelineFormat::kCsv;
  if (text == "json") return TimelineFormat::kJson;
  throw UsageError("--format takes text, csv or json, got '" + text + "'");
}

void AnalyzeFile(const AnalyzeRequest& request, CliContext& context) {
  const NamedFile files[] = {{"the input", request.input},
                             {"--meters", request.meters.value_or("")},
                             {"--plot", request.plot.value_or("")}};
  RefuseSameFiles(files);
  if (request.plot) CheckPlotPath(*request.plot);
  AudioFileReader input(request.input);
  std::optional<MeterLog> meters;
  Progress progress(context.err, context.stderrIsTerminal, input.Frames(), input.SampleRate());

  NoteAnalysisOptions options;
  options.tracker = request.tracker;
  options.blockSize = request.blockSize;
  options.minNoteSeconds = request.minNoteMs / 1000.0;
  options.progress = &progress;
  std::vector<MeterReading> firstChannel;
  if (request.meters || request.plot) {
    options.meters = [&](const MeterReading& reading, int channel) {
      if (meters) meters->Add(reading, channel);
      if (request.plot && channel == 1) firstChannel.push_back(reading);
    };
  }
  NoteAnalyzer analyzer(context.componentSearch, input, options);
  if (request.meters) meters.emplace(*request.meters, analyzer.NoteNames());
  const NoteAnalysis analysis = analyzer.Run(input);
  if (meters) meters->Commit();
  WarnIfShort(input, analysis.framesRead, context);
  if (request.plot) {
    const PlotData plot{static_cast<double>(analysis.framesRead) / input.SampleRate(),
                        static_cast<int>(input.Channels()),
                        analysis.segments,
                        analysis.noteNames,
                        std::nullopt,
                        std::move(firstChannel)};
    WritePlot(*request.plot, plot);
  }
  context.out << FormatTimeline(analysis.segments, analysis.noteNames, request.format);
}

int AnalyzeCommand(std::span<const std::string> arguments, CliContext& context) {
  CLI::App app("", "analyze");
  std::vector<std::string> inputs;
  std::optional<std::string> format;
  UInt32 minNoteMs = static_cast<UInt32>(kDefaultMinNoteSeconds * 1000.0);
  AnalyzeRequest request;
  app.add_option("IN", inputs);
  AddText(app, "--meters", request.meters);
  AddText(app, "--plot", request.plot);
  AddWholeNumber(app, "--block", request.blockSize, 1, kMaxBlockSize);
  AddWholeNumber(app, "--min-note", minNoteMs, 0, 3'600'000);
  AddText(app, "--format", format);
  AddTrackerOptions(app, request.tracker);
  if (!ParseCommand(app, arguments, kHelp, context.out)) return 0;
  request.input = OnlyInput(inputs, "analyze");
  request.minNoteMs = minNoteMs;
  if (format) request.format = ParseTimelineFormat(*format);
  AnalyzeFile(request, context);
  return 0;
}

}  // namespace varsile::cli
