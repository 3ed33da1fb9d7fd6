#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Options.h"
#include "Text.h"

namespace varsile::validate {
namespace {

TEST(FourCC, ParsesCharactersAndHexAndRefusesTheRest) {
  EXPECT_EQ(ParseFourCC("aufx"), 0x61756678u);
  EXPECT_EQ(ParseFourCC("Vrsl"), 0x5672736Cu);
  EXPECT_EQ(ParseFourCC("a b!"), 0x61206221u);
  EXPECT_EQ(ParseFourCC("0x61756678"), 0x61756678u);
  EXPECT_EQ(ParseFourCC("0X1"), 1u);
  EXPECT_FALSE(ParseFourCC("auf"));
  EXPECT_FALSE(ParseFourCC("aufxx"));
  EXPECT_FALSE(ParseFourCC(std::string("au\tx")));
  EXPECT_FALSE(ParseFourCC("0x"));
  EXPECT_FALSE(ParseFourCC("0x123456789")) << "more than 32 bits";
  EXPECT_FALSE(ParseFourCC("0x12g4"));
  EXPECT_FALSE(ParseFourCC("0x0")) << "zero means any in a search";
}

TEST(FourCC, PrintsCharactersOrHex) {
  EXPECT_EQ(FourCCText(0x61756678u), "'aufx'");
  EXPECT_EQ(FourCCText(0x00000001u), "0x1");
  EXPECT_EQ(FourCCText(0x7F756678u), "0x7f756678");
}

TEST(StatusText, NamesKnownStatusesAndKeepsTheNumber) {
  EXPECT_EQ(StatusText(-10874), "kAudioUnitErr_TooManyFramesToProcess (-10874)");
  EXPECT_EQ(StatusText(-12345), "status -12345");
  EXPECT_EQ(StatusText(static_cast<OSStatus>(0x80008002)), "badComponentSelector (-2147450878)");
}

TEST(Options, ReadsEveryOption) {
  const std::vector<std::string> arguments{
      "--load",         "a.component", "--load=dir", "--type", "aufx", "--subtype=vgat",
      "--manufacturer", "0x5672736C",  "--group",    "state",  "-q"};
  const Options options = ParseOptions(arguments);
  EXPECT_EQ(options.query.loads, (std::vector<std::string>{"a.component", "dir"}));
  EXPECT_EQ(options.query.type, 0x61756678u);
  EXPECT_EQ(options.query.subtype, 0x76676174u);
  EXPECT_EQ(options.query.manufacturer, 0x5672736Cu);
  EXPECT_EQ(options.groups, std::vector<std::string>{"state"});
  EXPECT_TRUE(options.quiet);
  EXPECT_FALSE(options.help);
}

TEST(Options, RefusesWhatItCannotUse) {
  const auto parse = [](std::vector<std::string> arguments) { return ParseOptions(arguments); };
  EXPECT_THROW(parse({"--colour", "red"}), UsageError);
  EXPECT_THROW(parse({"--load"}), UsageError);
  EXPECT_THROW(parse({"--load="}), UsageError);
  EXPECT_THROW(parse({"--type", "effect"}), UsageError);
  EXPECT_THROW(parse({"--quiet=yes"}), UsageError);
  EXPECT_TRUE(parse({"--help"}).help);
}

}  // namespace
}  // namespace varsile::validate
