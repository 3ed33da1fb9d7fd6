#include <gtest/gtest.h>

#include <array>

#include "CliError.h"
#include "Options.h"

namespace {

using varsile::cli::OptionSpec;
using varsile::cli::ParseNumber;
using varsile::cli::ParseOptions;
using varsile::cli::ParseWholeNumber;
using varsile::cli::UsageError;

constexpr std::array kSpecs{
    OptionSpec{"output", 'o'},
    OptionSpec{"key"},
    OptionSpec{"volume", '\0', true, true},
    OptionSpec{"bypass", '\0', false},
};

std::string UsageMessage(const std::vector<std::string>& arguments) {
  try {
    ParseOptions("process", arguments, kSpecs);
  } catch (const UsageError& error) {
    return error.what();
  }
  return "no error";
}

TEST(Options, LongShortInlineAndSeparateValues) {
  const std::vector<std::string> arguments{"in.wav",   "-o",       "out.wav",  "--key=F#",
                                           "--volume", "fifth=50", "--bypass", "--volume=3=20"};
  const auto parsed = ParseOptions("process", arguments, kSpecs);
  EXPECT_EQ(parsed.positionals, std::vector<std::string>{"in.wav"});
  EXPECT_EQ(parsed.Value("output"), "out.wav");
  EXPECT_EQ(parsed.Value("key"), "F#");
  EXPECT_TRUE(parsed.Has("bypass"));
  EXPECT_EQ(parsed.Values("volume"), (std::vector<std::string>{"fifth=50", "3=20"}));
  EXPECT_FALSE(parsed.help);
  EXPECT_FALSE(parsed.Value("nothing").has_value());
}

TEST(Options, ShortOptionsTakeAttachedValuesAndNegativeNumbersAreValues) {
  const auto parsed = ParseOptions("process", std::vector<std::string>{"-oout.wav", "--key", "-3"}, kSpecs);
  EXPECT_EQ(parsed.Value("output"), "out.wav");
  EXPECT_EQ(parsed.Value("key"), "-3");
}

TEST(Options, HelpAndTheEndOfOptions) {
  const auto parsed = ParseOptions("process", std::vector<std::string>{"-h", "--", "--key", "-"}, kSpecs);
  EXPECT_TRUE(parsed.help);
  EXPECT_EQ(parsed.positionals, (std::vector<std::string>{"--key", "-"}));
  EXPECT_TRUE(ParseOptions("params", std::vector<std::string>{"--help"}, {}).help);
}

TEST(Options, MistakesAreUsageErrorsWithExactMessages) {
  EXPECT_EQ(UsageMessage({"--colour", "red"}),
            "unknown option '--colour' for process (try 'varsile process --help')");
  EXPECT_EQ(UsageMessage({"-x"}), "unknown option '-x' for process (try 'varsile process --help')");
  EXPECT_EQ(UsageMessage({"--key"}), "option '--key' needs a value (try 'varsile process --help')");
  EXPECT_EQ(UsageMessage({"--bypass=yes"}), "option '--bypass' takes no value");
  EXPECT_EQ(UsageMessage({"--key", "C", "--key=D"}), "option '--key' is given more than once");
}

TEST(Options, Numbers) {
  EXPECT_EQ(ParseNumber("--master", "50"), 50.0);
  EXPECT_EQ(ParseNumber("--attack", "0.25"), 0.25);
  EXPECT_EQ(ParseNumber("--attack", "-1e-2"), -0.01);
  for (const char* bad : {"", "abc", "5x", "inf", "nan", "1e999", " 5"}) {
    try {
      ParseNumber("--master", bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const UsageError& error) {
      EXPECT_EQ(std::string(error.what()), std::string("--master needs a number, got '") + bad + "'");
    }
  }
  EXPECT_EQ(ParseWholeNumber("--block", "512", 1, 65536), 512);
  try {
    ParseWholeNumber("--block", "0", 1, 65536);
    FAIL();
  } catch (const UsageError& error) {
    EXPECT_STREQ(error.what(), "--block needs a whole number from 1 to 65536, got '0'");
  }
  EXPECT_THROW(ParseWholeNumber("--block", "2.5", 1, 65536), UsageError);
  EXPECT_THROW(ParseWholeNumber("--block", "99999999999999999999", 1, 65536), UsageError);
}

}  // namespace
