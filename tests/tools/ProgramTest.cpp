// The installed program as a user runs it: exit statuses, one-line errors on
// stderr, results on stdout, nothing drawn on a stderr that is no terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "ToolsTestSupport.h"

namespace {

class Program : public toolstest::Scratch {
 protected:
  int Shell(const std::string& arguments, const std::string& environment = "") {
    const std::string command = "cd '" + mFolder.string() + "' && " + environment +
                                " '" VARSILE_PROGRAM "' " + arguments + " > stdout.txt 2> stderr.txt";
    const int status = std::system(command.c_str());
    mStdout = toolstest::ReadText(mFolder / "stdout.txt");
    mStderr = toolstest::ReadText(mFolder / "stderr.txt");
    std::filesystem::remove(mFolder / "stdout.txt");
    std::filesystem::remove(mFolder / "stderr.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string mStdout;
  std::string mStderr;
};

TEST_F(Program, TheDemoRunsFromTheBuildTree) {
  ASSERT_EQ(Shell("demo"), 0) << mStderr;
  EXPECT_TRUE(mStderr.empty()) << mStderr;
  EXPECT_NE(mStdout.find("gated in C major"), std::string::npos);
  EXPECT_NE(mStdout.find("C#4   no"), std::string::npos) << mStdout;
  EXPECT_EQ(Files(), (std::vector<std::string>{"varsile-demo-input.wav", "varsile-demo-output.wav"}));
}

TEST_F(Program, ExitStatusesAndOneLineErrors) {
  EXPECT_EQ(Shell("process missing.wav -o out.wav"), 1);
  EXPECT_EQ(mStderr, "varsile: cannot open 'missing.wav': No such file or directory\n");
  EXPECT_TRUE(mStdout.empty());
  EXPECT_EQ(Shell("remix"), 2);
  EXPECT_EQ(mStderr, "varsile: unknown command 'remix' (try 'varsile --help')\n");
  EXPECT_EQ(Shell("params", "VARSILE_COMPONENT_PATH=/nonexistent"), 1);
  EXPECT_EQ(
      mStderr,
      "varsile: cannot load the Varsile component: no component named Varsile in VARSILE_COMPONENT_PATH "
      "(/nonexistent): /nonexistent: cannot read the folder: No such file or directory\n");
  EXPECT_TRUE(Files().empty());
}

TEST_F(Program, FindsTheComponentThroughTheSearchPath) {
  const std::string folder = std::filesystem::path(VARSILE_COMPONENT_MANIFEST).parent_path().string();
  ASSERT_EQ(Shell("params", "VARSILE_COMPONENT_PATH='" + folder + "'"), 0) << mStderr;
  EXPECT_NE(mStdout.find("attack time"), std::string::npos);
}

TEST_F(Program, ASignalEndsTheRunAndLeavesNoTemporaryFile) {
  toolstest::WriteAudio(Path("in.wav"), toolstest::Tone(69, 60.0));
  std::ofstream(Path("out.wav")) << "precious";
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const pid_t child = fork();
    if (child == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      if (chdir(mFolder.c_str()) == 0) {
        execl(VARSILE_PROGRAM, "varsile", "process", "in.wav", "-o", "out.wav", "--scale", "major",
              "--meters", "m.csv", "--save-preset", "p.aupreset", "--block", "16", nullptr);
      }
      _exit(127);
    }
    // Signalled once all three temporary files exist: mid-run.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Files().size() < 5 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(Files().size(), 5u) << "the run ended before it was signalled";
    kill(child, signal);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal) << signal << ": " << status;
    EXPECT_EQ(Files(), (std::vector<std::string>{"in.wav", "out.wav"}));
    EXPECT_EQ(toolstest::ReadText(mFolder / "out.wav"), "precious");
  }
}

TEST_F(Program, ManyFilesAtOnceAndPipes) {
  toolstest::WriteAudio(mFolder / "a.wav", toolstest::Tone(69, 0.3));
  std::filesystem::copy_file(mFolder / "a.wav", mFolder / "b.wav");
  std::ofstream(mFolder / "c.wav") << "not audio";
  EXPECT_EQ(Shell("process a.wav b.wav c.wav --out-dir out --jobs 2 --scale major"), 1);
  EXPECT_NE(mStderr.find("varsile: c.wav: cannot read 'c.wav'"), std::string::npos) << mStderr;
  EXPECT_TRUE(mStderr.ends_with("varsile: 2 of 3 files done, 1 failed\n")) << mStderr;
  EXPECT_EQ(toolstest::ReadAudio(mFolder / "out/b.wav").samples,
            toolstest::ReadAudio(mFolder / "out/a.wav").samples);
  EXPECT_FALSE(std::filesystem::exists(mFolder / "out/c.wav"));
  // analyze: one table with a file column, the failed file left out.
  EXPECT_EQ(Shell("analyze c.wav a.wav --jobs 2 --format csv"), 1);
  EXPECT_NE(mStderr.find("varsile: c.wav: cannot read 'c.wav'"), std::string::npos) << mStderr;
  EXPECT_EQ(mStdout.rfind("file,start_s,end_s,channel,note,pitch_class,accuracy\na.wav,0.000000,", 0), 0u)
      << mStdout;
  EXPECT_NE(mStdout.find(",1,A,9,"), std::string::npos) << mStdout;
  EXPECT_EQ(mStdout.find("c.wav"), std::string::npos) << mStdout;

  // Standard input to standard output gives the very file -o gives, but for
  // the time of writing that libsndfile stamps in the header.
  ASSERT_EQ(Shell("process - -o - --key A --scale major < a.wav"), 0) << mStderr;
  std::string piped = mStdout;
  ASSERT_EQ(Shell("process a.wav -o direct.wav --key A --scale major"), 0) << mStderr;
  std::string direct = toolstest::ReadText(mFolder / "direct.wav");
  for (std::string* file : {&piped, &direct}) {
    if (const auto peak = file->find("PEAK"); peak != std::string::npos) file->replace(peak + 12, 4, 4, '\0');
  }
  EXPECT_EQ(piped, direct);
  ASSERT_EQ(Shell("process a.wav -o - --format flac:pcm16 --scale major"), 0) << mStderr;
  EXPECT_EQ(mStdout.rfind("fLaC", 0), 0u);
}

}  // namespace
