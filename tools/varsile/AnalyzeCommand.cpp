// varsile analyze IN... [options]: the notes the tracker hears, as segments.
#include <iterator>
#include <optional>
#include <vector>

#include "AudioFile.h"
#include "Batch.h"
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
    "usage: varsile analyze IN... [options]\n"
    "\n"
    "Runs every channel of IN through the gate with every volume at 100 % (the\n"
    "audio passes unchanged) and prints the notes the pitch tracker detects, as\n"
    "segments: start and end in seconds, the channel (when there are several),\n"
    "the note ('-': none, as over silence), and its mean accuracy in percent.\n"
    "\n"
    "With several files, each timeline comes in the order the files were given,\n"
    "once all are done: in text under a line 'FILE:', in csv with a first column\n"
    "'file' (one header), in json as a list of {\"file\": ..., \"segments\": [...]}.\n"
    "A file that fails is left out and named on stderr; the others are still\n"
    "analysed, and the exit status is 1.\n"
    "\n"
    "options:\n"
    "  --min-note MS             segments shorter than this join a neighbour\n"
    "                            (default 50; 0 shows every one)\n"
    "  --format FORMAT           text, csv or json (default text)\n"
    "  --jobs N                  files analysed at once (default: one per core)\n"
    "  --meters FILE.csv         (one input only) write every channel's meters after every block\n"
    "  --plot FILE.png|svg       (one input only) draw the notes of every channel in twelve lanes,\n"
    "                            under channel 1's envelope\n"
    "  --block N                 frames per render call (default 512)\n"
    "  --a4 HZ                   tuning reference of the pitch tracker\n"
    "  --accuracy-threshold PCT  least accuracy for the tracker to change note\n"
    "  --jitter-threshold N      the tracker's hold threshold; it changes nothing\n"
    "                            you can hear or see: the gate does not read it\n";

// Quoted when a spreadsheet would otherwise split or misread it.
std::string CsvText(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + '"';
}

std::string JsonText(const std::string& text) {
  std::string quoted = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      fmt::format_to(std::back_inserter(quoted), "\\u{:04x}", c);
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + '"';
}

// The timelines of several files, in the order given; the failed ones
// (no analysis) left out.
std::string FormatTimelines(const std::vector<std::string>& names,
                            const std::vector<std::optional<NoteAnalysis>>& analyses, TimelineFormat format) {
  std::string text;
  bool first = true;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!analyses[i]) continue;
    const std::string timeline = FormatTimeline(analyses[i]->segments, analyses[i]->noteNames, format);
    switch (format) {
      case TimelineFormat::kText:
        text += (first ? "" : "\n") + names[i] + ":\n" + timeline;
        break;
      case TimelineFormat::kCsv: {
        const std::size_t header = timeline.find('\n') + 1;
        if (first) text += "file," + timeline.substr(0, header);
        for (std::size_t at = header; at < timeline.size();) {
          const std::size_t end = timeline.find('\n', at) + 1;
          text += CsvText(names[i]) + ',' + timeline.substr(at, end - at);
          at = end;
        }
        break;
      }
      case TimelineFormat::kJson:
        text += (first ? "[\n{\"file\": " : ",\n{\"file\": ") + JsonText(names[i]) +
                ", \"segments\": " + timeline.substr(0, timeline.size() - 1) + "}";
        break;
    }
    first = false;
  }
  if (format == TimelineFormat::kJson) text += first ? "[]\n" : "\n]\n";
  return text;
}

}  // namespace

TimelineFormat ParseTimelineFormat(const std::string& text, std::string_view option) {
  if (text == "text") return TimelineFormat::kText;
  if (text == "csv") return TimelineFormat::kCsv;
  if (text == "json") return TimelineFormat::kJson;
  throw UsageError("{} takes text, csv or json, got '{}'", option, text);
}

NoteAnalysis AnalyzeFile(const AnalyzeRequest& request, CliContext& context) {
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
  return analysis;
}

int AnalyzeCommand(std::span<const std::string> arguments, CliContext& context) {
  CLI::App app("", "analyze");
  std::vector<std::string> inputs;
  std::optional<std::string> format, jobsText;
  UInt32 minNoteMs = static_cast<UInt32>(kDefaultMinNoteSeconds * 1000.0);
  AnalyzeRequest request;
  app.add_option("IN", inputs);
  AddText(app, "--meters", request.meters);
  AddText(app, "--plot", request.plot);
  AddText(app, "--jobs", jobsText);
  AddWholeNumber(app, "--block", request.blockSize, 1, kMaxBlockSize);
  AddWholeNumber(app, "--min-note", minNoteMs, 0, 3'600'000);
  AddText(app, "--format", format);
  AddTrackerOptions(app, request.tracker);
  if (!ParseCommand(app, arguments, kHelp, context.out)) return 0;
  if (inputs.empty()) throw UsageError("analyze needs an input file (try 'varsile analyze --help')");
  request.minNoteMs = minNoteMs;
  if (format) request.format = ParseTimelineFormat(*format);
  const unsigned jobs = ParseJobs(jobsText.value_or("0"));
  if (inputs.size() == 1) {
    request.input = inputs.front();
    const NoteAnalysis analysis = AnalyzeFile(request, context);
    context.out << FormatTimeline(analysis.segments, analysis.noteNames, request.format);
    return 0;
  }

  if (request.meters || request.plot) throw UsageError("--meters and --plot take a single input file");
  std::vector<std::optional<NoteAnalysis>> analyses(inputs.size());
  const int status = RunBatch(inputs, jobs, context, [&](std::size_t i, CliContext& own) {
    AnalyzeRequest each = request;
    each.input = inputs[i];
    analyses[i] = AnalyzeFile(each, own);
  });
  context.out << FormatTimelines(inputs, analyses, request.format);
  return status;
}

}  // namespace varsile::cli
