// varsile process IN -o OUT [options]
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "AudioFile.h"
#include "CliError.h"
#include "Commands.h"
#include "GateSession.h"
#include "MeterLog.h"
#include "PendingFile.h"
#include "Presets.h"
#include "Progress.h"

namespace varsile::cli {

namespace {

constexpr std::string_view kHelp =
    "usage: varsile process IN -o OUT [options]\n"
    "\n"
    "Gates IN by key and scale and writes OUT with IN's sample rate, channels\n"
    "and sample format. IN may be any file libsndfile reads (WAV, FLAC, AIFF,\n"
    "Ogg, ...); OUT's type follows its extension.\n"
    "\n"
    "options:\n"
    "  -o, --output OUT          the file to write\n"
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
    "  --release SECONDS         time for the gain to fall from 100 to 0 %\n"
    "  --a4 HZ                   tuning reference of the pitch tracker\n"
    "  --accuracy-threshold PCT  least accuracy for the tracker to change note\n"
    "  --jitter-threshold N      the tracker's hold threshold\n"
    "  --bypass                  pass the audio through unchanged\n"
    "  --lookahead               decide on each note before it sounds: the gate\n"
    "                            hears the audio a little ahead of what it\n"
    "                            gates; OUT stays aligned with IN\n"
    "  --preset FILE             start from a preset (.aupreset); options apply on top\n"
    "  --save-preset FILE        save the settings as a preset (.aupreset)\n"
    "  --meters FILE.csv         write the meters after every block\n"
    "  --block N                 frames per render call (default 512)\n"
    "  --format FORMAT           OUT's sample format: pcm16, pcm24, pcm32, float,\n"
    "                            double or vorbis (default: IN's)\n"
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

}  // namespace

void ProcessFile(const ProcessRequest& request, CliContext& context) {
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
    session.Apply(request.gate);
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
  if (request.meters) meters.emplace(*request.meters);

  Progress progress(context.err, context.stderrIsTerminal, input.Frames(), input.SampleRate());
  GateSession::RunOptions run;
  run.blockSize = request.blockSize;
  run.write = [&](const Float32* const* samples, UInt32 frames) { output.Write(samples, frames); };
  run.progress = &progress;
  if (meters) run.meters = [&](const MeterReading& reading) { meters->Add(reading); };
  if (request.lookahead) {
    session.Run(input, run);
  } else {
    RunChannelsInParallel(input, channels, request.workers != 0 ? request.workers : DefaultWorkers(), run);
  }

  output.Commit();
  if (meters) meters->Commit();
  if (preset) preset->Commit();
}

int ProcessCommand(std::span<const std::string> arguments, CliContext& context) {
  CLI::App app("", "process");
  std::vector<std::string> inputs;
  std::optional<std::string> output;
  ProcessRequest request;
  app.add_option("IN", inputs);
  AddText(app, "-o,--output", output);
  AddText(app, "--preset", request.presetIn);
  AddText(app, "--save-preset", request.presetOut);
  AddText(app, "--meters", request.meters);
  AddWholeNumber(app, "--block", request.blockSize, 1, kMaxBlockSize);
  AddText(app, "--format", request.sampleFormat);
  AddGateOptions(app, request.gate);
  app.add_flag("--lookahead", request.lookahead)->disable_flag_override();
  if (!ParseCommand(app, arguments, kHelp, context.out)) return 0;
  request.input = OnlyInput(inputs, "process");
  if (!output) throw UsageError("process needs an output file: -o OUT");
  CheckGateOptions(request.gate);

  request.output = *output;
  ProcessFile(request, context);
  return 0;
}

}  // namespace varsile::cli
