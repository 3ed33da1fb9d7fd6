// varsile demo: the gate at work on a generated melody, in one command.
#include <fmt/format.h>

#include <filesystem>
#include <vector>

#include "AudioFile.h"
#include "CliError.h"
#include "Commands.h"
#include "DemoMelody.h"
#include "Scales.h"

namespace varsile::cli {

using music::FindScale;

namespace {

constexpr std::string_view kHelp =
    "usage: varsile demo [--out-dir DIR]\n"
    "\n"
    "Makes a melody of harmonic tones walking up the chromatic scale from C4,\n"
    "gates it in C major, writes the input and the output side by side as\n"
    "varsile-demo-input.wav and varsile-demo-output.wav (in the current folder,\n"
    "or DIR, created if need be), and prints each note's level before and after.\n"
    "The gate's settings are those of 'varsile process --key C --scale major'.\n"
    "\n"
    "options:\n"
    "  --out-dir DIR   where to write the two files\n";

constexpr const char* kNoteNames[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

std::vector<Float32> ReadMono(const std::string& path) {
  AudioFileReader file(path);
  std::vector<Float32> samples;
  std::vector<Float32> block(4096 * file.Channels());
  std::vector<Float32*> channels(file.Channels());
  for (UInt32 c = 0; c < file.Channels(); ++c) channels[c] = block.data() + std::size_t{c} * 4096;
  while (const UInt32 frames = file.Read(channels.data(), 4096)) {
    samples.insert(samples.end(), channels[0], channels[0] + frames);
  }
  return samples;
}

}  // namespace

int DemoCommand(std::span<const std::string> arguments, CliContext& context) {
  CLI::App app("", "demo");
  std::optional<std::string> folderText;
  AddText(app, "--out-dir", folderText);
  if (!ParseCommand(app, arguments, kHelp, context.out)) return 0;
  const std::filesystem::path folder = folderText.value_or(".");
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw CliError("cannot create '{}': {}", folder.string(), error.message());
  const std::string inputPath = (folder / "varsile-demo-input.wav").string();
  const std::string outputPath = (folder / "varsile-demo-output.wav").string();

  const DemoMelody melody = MakeDemoMelody();
  {
    AudioFileWriter input(inputPath, melody.sampleRate, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const Float32* channels[] = {melody.samples.data()};
    input.Write(channels, static_cast<UInt32>(melody.samples.size()));
    input.Commit();
  }

  ProcessRequest request;
  request.input = inputPath;
  request.output = outputPath;
  request.gate.key = "C";
  request.gate.scale = "major";
  // Attack and release are process's own defaults: what the demo shows is what users get.
  ProcessFile(request, context);

  const std::vector<Float32> before = ReadMono(inputPath);
  const std::vector<Float32> after = ReadMono(outputPath);
  const auto major = FindScale("major");

  context.out << "Varsile demo: " << melody.notes << " harmonic tones from C4 up, gated in C major\n"
              << "  input:  " << inputPath << "\n  output: " << outputPath << "\n\n"
              << "note  in scale  before (dB)  after (dB)  change (dB)\n";
  for (int n = 0; n < melody.notes; ++n) {
    const int pitchClass = (melody.firstMidiNote + n) % 12;
    const int octave = (melody.firstMidiNote + n) / 12 - 1;
    const double levelBefore = LevelDb(before, melody.SteadyBegin(n), melody.SteadyEnd(n));
    const double levelAfter = LevelDb(after, melody.SteadyBegin(n), melody.SteadyEnd(n));
    context.out << fmt::format("{:<4}  {:<8}  {:11.1f}  {:10.1f}  {:11.1f}\n",
                               fmt::format("{}{}", kNoteNames[pitchClass], octave),
                               major->semitones.test(static_cast<std::size_t>(pitchClass)) ? "yes" : "no",
                               levelBefore, levelAfter, levelAfter - levelBefore);
  }
  context.out << "\nIn-scale notes pass; the others are attenuated (-120 dB: silent).\n";
  return 0;
}

}  // namespace varsile::cli
