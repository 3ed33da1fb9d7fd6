// The installed program as a user runs it: exit statuses, one-line errors on
// stderr, results on stdout, nothing drawn on a stderr that is no terminal.
#include <gtest/gtest.h>
#include <sys/wait.h>

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

}  // namespace
