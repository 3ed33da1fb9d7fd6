// varsile process IN -o OUT [options], or IN... --out-dir DIR
#include <algorithm>
#include <bitset>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "AudioFile.h"
#include "Batch.h"
#include "CliError.h"
#include "Commands.h"
#include "GateSession.h"
#include "MeterLog.h"
#include "NoteNames.h"
#include "NotePlot.h"
#include "NoteReport.h"
#include "PendingFile.h"
#include "Presets.h"
#include "Progress.h"
#include "SameFiles.h"

namespace varsile::cli {

namespace {

constexpr std::string_view kHelp =
    "usage: varsile process IN -o OUT [options]\n"
    "       varsile process IN... --out-dir DIR [--jobs N] [options]\n"
    "\n"
    "Gates IN by key and scale and writes OUT with IN's sample rate, channels\n"
    "and sample format. IN may be any file libsndfile reads (WAV, FLAC, AIFF,\n"
    "Ogg, ...); OUT's type follows its extension. '-' reads standard input;\n"
    "'-o -' writes to standard output, as WAV unless --format names another\n"
    "container. No file is written over another file of the run, and Ctrl-C\n"
    "leaves no partial file.\n"
    "\n"
    "options:\n"
    "  -o, --output OUT          the file to write\n"
    "  --out-dir DIR             write each IN under its own name in DIR (made\n"
    "                            if need be); a failed file does not stop the rest\n"
    "  --jobs N                  files processed at once (default: one per core)\n"
    "  --report                  print the notes heard: time, note, in scale or\n"
    "                            not, level in and out (of channel 1)\n"
    "  --report-format FORMAT    text, csv or json (default text)\n"
    "  --plot FILE.png|svg       draw the run: the input's envelope and the gain,\n"
    "                            and the notes heard in lanes, the scale shaded\n"
    "  --key NOTE                the key: C, C#, Db, D, ... B, or 0-11 (default C)\n"
    "  --scale NAME              in-scale intervals at 100 %, the others at\n"
    "                            --out-of-scale: chromatic, major, natural-minor,\n"
    "                            harmonic-minor, melodic-minor, ionian, dorian,\n"
    "                            phrygian, lydian, mixolydian, aeolian, locrian,\n"
    "                            major-pentatonic, minor-pentatonic, blues, whole-tone\n"
    "  --out-of-scale PCT        volume of the intervals outside the scale (default 0)\n"
    "  --volume INTERVAL=PCT     one interval's volume, by its name ('minor third',\n"
    "                            'fifth', ...) or semitones above the key (0-11);\n"
    "                            may be repeated; applied after --scale\n"
    "  --master PCT              master volume: moves every interval volume\n"
    "  --attack SECONDS          time for the gain to rise from 0 to 100 %\n"
    "                            (default 0.02, for melodies; the component's\n"
    "                            own default is 1 s; a --preset's value wins)\n"
    "  --release SECONDS         time for the gain to fall from 100 to 0 %\n"
    "                            (default 0.02, likewise)\n"
    "  --a4 HZ                   tuning reference of the pitch tracker\n"
    "  --accuracy-threshold PCT  least accuracy for the tracker to change note\n"
    "  --jitter-threshold N      the tracker's hold threshold; it changes nothing\n"
    "                            you can hear or see: the gate does not read it\n"
    "  --bypass                  pass the audio through unchanged\n"
    "  --lookahead               decide on each note before it sounds: the gate\n"
    "                            hears the audio a little ahead of what it\n"
    "                            gates; OUT stays aligned with IN\n"
    "  --preset FILE             start from a preset (.aupreset); options apply on top\n"
    "  --save-preset FILE        save the settings as a preset (.aupreset)\n"
    "  --meters FILE.csv         write the meters after every block\n"
    "  --block N                 frames per render call (default 512)\n"
    "  --format FORMAT           OUT's sample format: pcm16, pcm24, pcm32, float,\n"
    "                            double or vorbis (default: IN's); with -o -,\n"
    "                            also the container: wav, flac, aiff, ogg, caf,\n"
    "                            w64 or au, alone or as flac:pcm24\n"
    "\n"
    "Ranges come from the component ('varsile params' lists them).\n";

// One per core, or as many as VARSILE_THREADS says (the benchmarks compare).
unsigned DefaultWorkers() {
  if (const char* text = std::getenv("VARSILE_THREADS")) {
    const long asked = std::strtol(text, nullptr, 10);
    if (asked >= 1 && asked <= 256) return static_cast<unsigned>(asked);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

// The pitch classes that pass whole: their interval is at full volume.
std::bitset<12> PassingClasses(GateSession& session) {
  const host::ParameterDescription& key = session.Catalogue().Require("key");
  const int keyClass = static_cast<int>(std::lround(session.Unit().GetParameter(key.id)));
  const IntervalTable intervals = IntervalTable::Find(session.Catalogue());
  std::bitset<12> passes;
  for (int pitchClass = 0; pitchClass < 12; ++pitchClass) {
    const host::ParameterDescription& interval =
        intervals.Parameter(((pitchClass - keyClass) % 12 + 12) % 12);
    passes[static_cast<std::size_t>(pitchClass)] =
        session.Unit().GetParameter(interval.id) >= interval.maxValue;
  }
  return passes;
}

}  // namespace

void WarnIfShort(const AudioFileReader& input, SInt64 framesRead, CliContext& context) {
  // A pipe announces no length, so only what the header itself claims counts.
  const bool pipe = input.Path() == "-";
  if (!input.EndsEarly() && (pipe || input.Frames() <= 0 || framesRead >= input.Frames())) return;
  context.err << "varsile: warning: '" << input.Path()
              << "' ends before its header says it should (cut off?); the output stops where it does\n";
}

void ProcessFile(const ProcessRequest& request, CliContext& context) {
  const NamedFile files[] = {{"the input", request.input},
                             {"-o", request.output},
                             {"--meters", request.meters.value_or("")},
                             {"--save-preset", request.presetOut.value_or("")},
                             {"--plot", request.plot.value_or("")}};
  RefuseSameFiles(files);
  if (request.plot) CheckPlotPath(*request.plot);

  AudioFileReader input(request.input);
  const int format = ChooseOutputFormat(request.output, input.Format(), request.sampleFormat,
                                        input.Channels(), input.SampleRate());

  // The lookahead gate has a latency to undo, which Run does on one
  // instance; the plain gate gets one instance per channel, each set up
  // alike (the first also saves the preset).
  const UInt32 instances = request.lookahead ? 1 : input.Channels();
  std::vector<std::unique_ptr<GateSession>> sessions;
  std::vector<GateSession*> channels;
  for (UInt32 c = 0; c < instances; ++c) {
    auto& session = *sessions.emplace_back(std::make_unique<GateSession>(
        request.lookahead ? LookaheadSearch(context.componentSearch) : context.componentSearch));
    if (request.presetIn) session.LoadPreset(*request.presetIn);
    session.Apply(WithMelodyTiming(
        request.gate, request.presetIn.has_value() || session.Catalogue().Find("attack time") == nullptr));
    channels.push_back(&session);
  }
  GateSession& session = *sessions.front();

  // Every file is written under a temporary name and put in place only
  // when all of them are complete.
  std::optional<PendingFile> preset;
  if (request.presetOut) {
    const std::string text = PresetText(session.Unit(), *request.presetOut);
    preset.emplace(*request.presetOut);
    preset->Write(text.data(), text.size());
  }
  AudioFileWriter output(request.output, input.SampleRate(), input.Channels(), format);
  std::optional<MeterLog> meters;
  if (request.meters)
    meters.emplace(*request.meters, session.Catalogue().Require("current note").valueStrings);

  Progress progress(context.err, context.stderrIsTerminal, input.Frames(), input.SampleRate());
  GateSession::RunOptions run;
  run.blockSize = request.blockSize;
  // The output has the input's length, so what is written tells what was read.
  SInt64 framesRead = 0;
  run.write = [&](const Float32* const* samples, UInt32 frames) {
    output.Write(samples, frames);
    framesRead += frames;
  };
  run.progress = &progress;
  NoteSegments heard;
  std::vector<MeterReading> readings;
  if (meters || request.report || request.plot) {
    run.meters = [&](const MeterReading& reading) {
      if (meters) meters->Add(reading);
      if (request.plot) readings.push_back(reading);
      heard.Add(reading);
    };
  }
  if (request.lookahead) {
    session.Run(input, run);
  } else {
    RunChannelsInParallel(input, channels, request.workers != 0 ? request.workers : DefaultWorkers(), run);
  }
  WarnIfShort(input, framesRead, context);
  const std::bitset<12> passes = PassingClasses(session);

  output.Commit();
  if (meters) meters->Commit();
  if (preset) preset->Commit();
  if (request.report || request.plot) {
    const std::vector<NoteSegment> segments = MergeShortSegments(heard.Segments(), kDefaultMinNoteSeconds);
    const std::vector<std::string>& noteNames = session.Catalogue().Require("current note").valueStrings;
    if (request.plot) {
      const PlotData plot{static_cast<double>(framesRead) / input.SampleRate(),
                          1,
                          segments,
                          noteNames,
                          passes,
                          std::move(readings)};
      WritePlot(*request.plot, plot);
    }
    if (request.report) {
      (request.output == "-" ? context.err : context.out) << FormatNoteReport(
          segments, noteNames,
          [&](int pitchClass) { return passes.test(static_cast<std::size_t>(pitchClass)); }, *request.report);
    }
  }
  if (!request.gate.bypass && passes.all()) {
    context.err << "varsile: warning: every interval is at 100 %, so the output is the input unchanged "
                   "(choose --scale, --volume or --preset)\n";
  }
}

int ProcessCommand(std::span<const std::string> arguments, CliContext& context) {
  CLI::App app("", "process");
  std::vector<std::string> inputs;
  std::optional<std::string> output, outDir, jobsText, reportFormat;
  bool report = false;
  ProcessRequest request;
  app.add_option("IN", inputs);
  AddText(app, "-o,--output", output);
  AddText(app, "--out-dir", outDir);
  AddText(app, "--jobs", jobsText);
  AddText(app, "--preset", request.presetIn);
  AddText(app, "--save-preset", request.presetOut);
  AddText(app, "--meters", request.meters);
  AddText(app, "--plot", request.plot);
  AddWholeNumber(app, "--block", request.blockSize, 1, kMaxBlockSize);
  AddText(app, "--format", request.sampleFormat);
  app.add_flag("--report", report)->disable_flag_override();
  AddText(app, "--report-format", reportFormat);
  AddGateOptions(app, request.gate);
  app.add_flag("--lookahead", request.lookahead)->disable_flag_override();
  if (!ParseCommand(app, arguments, kHelp, context.out)) return 0;
  if (inputs.empty()) throw UsageError("process needs an input file (try 'varsile process --help')");
  if (output && outDir) throw UsageError("give -o OUT or --out-dir DIR, not both");
  if (!output && !outDir) throw UsageError("process needs an output file: -o OUT (or --out-dir DIR)");
  if (output && inputs.size() > 1) throw UsageError("several input files need --out-dir DIR instead of -o");
  CheckGateOptions(request.gate);
  if (report || reportFormat)
    request.report = ParseTimelineFormat(reportFormat.value_or("text"), "--report-format");
  if (output) {
    request.input = inputs.front();
    request.output = *output;
    ProcessFile(request, context);
    return 0;
  }

  if (inputs.size() > 1 && (request.meters || request.presetOut || request.plot))
    throw UsageError("--meters, --save-preset and --plot take a single input file");
  std::vector<ProcessRequest> requests;
  std::vector<NamedFile> files;
  for (const std::string& input : inputs) {
    if (input == "-") throw UsageError("--out-dir needs input files, not standard input");
    request.input = input;
    request.output = (std::filesystem::path(*outDir) / std::filesystem::path(input).filename()).string();
    requests.push_back(request);
    files.push_back({"the input", input});
    files.push_back({"the output", request.output});
  }
  RefuseSameFiles(files);
  std::error_code error;
  std::filesystem::create_directories(*outDir, error);
  if (error) throw CliError("cannot create '{}': {}", *outDir, error.message());
  unsigned jobs = ParseJobs(jobsText.value_or("0"));
  if (jobs == 0) jobs = DefaultWorkers();
  // Files spread over the cores first; what is left renders their channels.
  const unsigned filesAtOnce = std::min<unsigned>(jobs, static_cast<unsigned>(inputs.size()));
  for (ProcessRequest& each : requests) each.workers = std::max(1u, DefaultWorkers() / filesAtOnce);
  return RunBatch(inputs, jobs, context, [&](std::size_t i, CliContext& own) {
    if (requests[i].report && inputs.size() > 1) own.out << requests[i].input << ":\n";
    ProcessFile(requests[i], own);
  });
}

}  // namespace varsile::cli
