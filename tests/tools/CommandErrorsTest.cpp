// Every mistake a user can make gets one line on stderr, a non-zero exit,
// and leaves the files as they were.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "CliError.h"
#include "ToolsTestSupport.h"

namespace {

class CommandErrors : public toolstest::Scratch {
 protected:
  void SetUp() override {
    Scratch::SetUp();
    mInput = Path("in.wav");
    toolstest::WriteAudio(mInput, toolstest::Tone(69, 0.3, 2));
  }

  // Runs a command that must fail; returns its one line without the prefix.
  std::string Failure(std::vector<std::string> arguments, int expectedStatus = varsile::cli::kExitFailure) {
    const int status = Run(std::move(arguments));
    EXPECT_EQ(status, expectedStatus) << Err();
    EXPECT_TRUE(Out().empty()) << Out();
    std::string line = Err();
    EXPECT_EQ(line.rfind("varsile: ", 0), 0u) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    if (line.size() > 9) line = line.substr(9, line.size() - 10);
    return line;
  }
  std::string Usage(std::vector<std::string> arguments) {
    return Failure(std::move(arguments), varsile::cli::kExitUsage);
  }

  std::string mInput;
};

TEST_F(CommandErrors, MissingUnreadableAndUnknownInputFiles) {
  const std::string missing = Path("missing.wav");
  EXPECT_EQ(Failure({"process", missing, "-o", Path("out.wav")}),
            "cannot open '" + missing + "': No such file or directory");
  EXPECT_EQ(Failure({"analyze", mFolder.string()}), "cannot open '" + mFolder.string() + "': Is a directory");
  const std::string text = Path("notes.txt");
  std::ofstream(text) << "not audio";
  EXPECT_EQ(Failure({"process", text, "-o", Path("out.wav")}),
            "cannot read '" + text +
                "': not an audio file in a format this program reads (Format not recognised.)");
  if (geteuid() != 0) {  // the superuser reads anything
    chmod(mInput.c_str(), 0);
    EXPECT_EQ(Failure({"process", mInput, "-o", Path("out.wav")}),
              "cannot open '" + mInput + "': Permission denied");
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"in.wav", "notes.txt"}));
}

TEST_F(CommandErrors, UnsupportedOutputFormats) {
  const std::string odd = Path("out.xyz");
  EXPECT_EQ(Failure({"process", mInput, "-o", odd}),
            "cannot write '" + odd +
                "': unsupported file type '.xyz'; use .wav, .flac, .aiff, .ogg, .caf, .w64 or .au");
  const std::string flac = Path("out.flac");
  EXPECT_EQ(Failure({"process", mInput, "-o", flac, "--format", "float"}),
            "cannot write '" + flac + "': unsupported format: FLAC files cannot hold 32-bit float samples");
  EXPECT_EQ(Usage({"process", mInput, "-o", flac, "--format", "pcm12"}),
            "unknown sample format 'pcm12' (use one of: pcm16, pcm24, pcm32, float, double, vorbis)");
  EXPECT_EQ(Usage({"process", mInput, "-o", flac, "--report-format", "xml"}),
            "--report-format takes text, csv or json, got 'xml'");
  EXPECT_EQ(Files(), std::vector<std::string>{"in.wav"});
}

TEST_F(CommandErrors, AChannelCountTheComponentRefuses) {
  mSearch.componentName = "Refusing";
  mSearch.searchPath = VARSILE_REFUSING_COMPONENT_DIR;
  EXPECT_EQ(Failure({"process", mInput, "-o", Path("out.wav")}),
            "'" + mInput +
                "' has 2 channels at 44100 Hz, which the component does not accept "
                "(the component does not take this audio format)");
  EXPECT_EQ(Files(), std::vector<std::string>{"in.wav"});
}

TEST_F(CommandErrors, UnknownKeysScalesIntervalsOptionsAndCommands) {
  const std::string out = Path("out.wav");
  EXPECT_EQ(Usage({"process", mInput, "-o", out, "--key", "H"}),
            "unknown key 'H' (use a note name such as C, F# or Bb, or a number from 0 to 11)");
  EXPECT_EQ(
      Usage({"process", mInput, "-o", out, "--scale", "hungarian"}),
      "unknown scale 'hungarian' (use one of: chromatic, major, natural-minor, harmonic-minor, "
      "melodic-minor, ionian, dorian, phrygian, lydian, mixolydian, aeolian, locrian, major-pentatonic, "
      "minor-pentatonic, blues, whole-tone)");
  EXPECT_EQ(
      Usage({"process", mInput, "-o", out, "--volume", "tenth=20"}),
      "unknown interval 'tenth' (use a name such as 'minor third' or 'fifth', or semitones from 0 to 11)");
  EXPECT_EQ(Usage({"process", mInput, "-o", out, "--loud"}),
            "unknown option '--loud' for process (try 'varsile process --help')");
  EXPECT_EQ(Usage({"analyze", mInput, "--key", "C"}),
            "unknown option '--key' for analyze (try 'varsile analyze --help')");
  EXPECT_EQ(Usage({"params", "--block", "3"}),
            "unknown option '--block' for params (try 'varsile params --help')");
  EXPECT_EQ(Usage({"demo", "extra"}), "unexpected argument 'extra'");
  EXPECT_EQ(Usage({"mix"}), "unknown command 'mix' (try 'varsile --help')");
  EXPECT_EQ(Usage({"process"}), "process needs an input file (try 'varsile process --help')");
  EXPECT_EQ(Usage({"process", mInput}), "process needs an output file: -o OUT (or --out-dir DIR)");
  EXPECT_EQ(Usage({"process", mInput, "second.wav", "-o", out}),
            "several input files need --out-dir DIR instead of -o");
  EXPECT_EQ(Usage({"analyze"}), "analyze needs an input file (try 'varsile analyze --help')");
  EXPECT_EQ(Usage({"process", mInput, "-o", out, "--block", "0"}),
            "--block needs a whole number from 1 to 65536, got '0'");
  EXPECT_EQ(Files(), std::vector<std::string>{"in.wav"});
}

TEST_F(CommandErrors, ValuesOutsideTheParametersRanges) {
  const std::string out = Path("out.wav");
  EXPECT_EQ(Usage({"process", mInput, "-o", out, "--master", "101"}),
            "--master 101 is out of range: master volume takes 0 to 100%");
  EXPECT_EQ(Usage({"process", mInput, "-o", out, "--attack", "20"}),
            "--attack 20 is out of range: attack time takes 0.01 to 10 s");
  EXPECT_EQ(Usage({"analyze", mInput, "--a4", "300"}),
            "--a4 300 is out of range: A4 frequency takes 400 to 480 Hz");
  EXPECT_EQ(Usage({"process", mInput, "-o", out, "--volume", "3=-1"}),
            "--volume 3 -1 is out of range: minor third / D# takes 0 to 100%");
  EXPECT_EQ(Files(), std::vector<std::string>{"in.wav"});
}

TEST_F(CommandErrors, UnwritableOutputsLeaveNothingAndDestroyNothing) {
  const std::string nowhere = Path("missing-folder/out.wav");
  EXPECT_EQ(Failure({"process", mInput, "-o", nowhere}),
            "cannot write '" + nowhere + "': No such file or directory");
  EXPECT_EQ(Failure({"process", mInput, "-o", mFolder.string()}),
            "cannot write '" + mFolder.string() + "': Is a directory");

  // An existing output survives a run that fails after it was begun.
  const std::string out = Path("out.wav");
  std::ofstream(out) << "precious";
  const std::string badMeters = Path("missing-folder/m.csv");
  EXPECT_EQ(Failure({"process", mInput, "-o", out, "--meters", badMeters}),
            "cannot write '" + badMeters + "': No such file or directory");
  const std::string badPreset = Path("missing-folder/p.aupreset");
  EXPECT_EQ(Failure({"process", mInput, "-o", out, "--save-preset", badPreset}),
            "cannot write '" + badPreset + "': No such file or directory");
  EXPECT_EQ(toolstest::ReadText(out), "precious");

  if (geteuid() != 0) {
    const std::string locked = Path("locked");
    std::filesystem::create_directory(locked);
    chmod(locked.c_str(), 0555);
    EXPECT_EQ(Failure({"process", mInput, "-o", locked + "/out.wav"}),
              "cannot write '" + locked + "/out.wav': Permission denied");
    chmod(locked.c_str(), 0755);
  }
  std::vector<std::string> expected{"in.wav", "out.wav"};
  if (geteuid() != 0) expected.insert(expected.begin() + 1, "locked");
  EXPECT_EQ(Files(), expected);
}

TEST_F(CommandErrors, TwoNamesForOneFileAreRefusedBeforeAnythingIsWritten) {
  const std::string before = toolstest::ReadText(mInput);
  const std::string out = Path("out.wav");
  std::filesystem::create_symlink(mInput, Path("link.wav"));
  EXPECT_EQ(Usage({"process", mInput, "-o", mInput}),
            "-o '" + mInput + "' is the same file as the input; nothing was written");
  EXPECT_EQ(Usage({"process", mInput, "-o", out, "--save-preset", Path("link.wav")}),
            "--save-preset '" + Path("link.wav") + "' is the same file as the input '" + mInput +
                "'; nothing was written");
  EXPECT_EQ(Usage({"process", mInput, "-o", out, "--meters", mFolder.string() + "/./out.wav"}),
            "--meters '" + mFolder.string() + "/./out.wav' is the same file as -o '" + out +
                "'; nothing was written");
  EXPECT_EQ(Usage({"analyze", mInput, "--meters", mInput}),
            "--meters '" + mInput + "' is the same file as the input; nothing was written");
  EXPECT_EQ(toolstest::ReadText(mInput), before);
  EXPECT_EQ(Files(), (std::vector<std::string>{"in.wav", "link.wav"}));
}

TEST_F(CommandErrors, AMissingComponentIsReported) {
  mSearch.defaultManifests = {Path("nowhere/Varsile.component")};
  EXPECT_EQ(Failure({"params"}),
            "cannot load the Varsile component: cannot find Varsile.component (looked for " +
                Path("nowhere/Varsile.component") +
                "); set VARSILE_COMPONENT_PATH to the folder that holds it");
}

}  // namespace
