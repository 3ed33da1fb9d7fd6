#include <gtest/gtest.h>

#include <sstream>

#include "Report.h"

namespace varsile::validate {
namespace {

TEST(Report, CountsPrintsAndFailsOnAnyFailure) {
  std::ostringstream out;
  Report report(out);
  report.BeginGroup("render", "renders");
  EXPECT_TRUE(report.Check(true, "one", "fine"));
  EXPECT_FALSE(report.Check(false, "two", "NaN in the output"));
  report.Pass("three");
  EXPECT_EQ(report.Passed(), 2u);
  EXPECT_EQ(report.Failed(), 1u);
  EXPECT_EQ(report.ExitCode(), 1);
  report.PrintSummary();

  const std::string text = out.str();
  EXPECT_NE(text.find("PASS  render.one: fine\n"), std::string::npos);
  EXPECT_NE(text.find("FAIL  render.two: NaN in the output\n"), std::string::npos);
  EXPECT_NE(text.find("PASS  render.three\n"), std::string::npos);
  EXPECT_NE(text.find("3 checks, 2 passed, 1 failed"), std::string::npos);
  // The summary repeats every failure, so a long report need not be searched.
  EXPECT_NE(text.find("failed\nFAIL  render.two\nRESULT: FAIL\n"), std::string::npos);
}

TEST(Report, PassesOnlyWhenSomethingRanAndNothingFailed) {
  std::ostringstream out;
  Report report(out);
  EXPECT_EQ(report.ExitCode(), 1) << "a run that checked nothing proves nothing";
  report.BeginGroup("g", "t");
  report.Pass("a");
  EXPECT_EQ(report.ExitCode(), 0);
}

TEST(Report, QuietPrintsFailuresAndTheSummaryOnly) {
  std::ostringstream out;
  Report report(out, true);
  report.BeginGroup("state", "saved state");
  report.Pass("round-trip", "identical");
  report.Note("a note");
  report.Fail("refuse", "answered 0");
  report.PrintSummary();
  const std::string text = out.str();
  EXPECT_EQ(text.find("round-trip"), std::string::npos);
  EXPECT_EQ(text.find("a note"), std::string::npos);
  EXPECT_EQ(text.find("== state"), std::string::npos);
  EXPECT_NE(text.find("FAIL  state.refuse: answered 0"), std::string::npos);
  EXPECT_NE(text.find("RESULT: FAIL"), std::string::npos);
}

TEST(Report, RequireRecordsTheFailureThenEndsTheGroup) {
  std::ostringstream out;
  Report report(out);
  report.BeginGroup("g", "t");
  EXPECT_NO_THROW(report.Require(true, "fine"));
  EXPECT_THROW(report.Require(false, "open", "-108"), GroupAborted);
  ASSERT_EQ(report.Results().size(), 2u);
  EXPECT_FALSE(report.Results()[1].passed);
  EXPECT_EQ(report.Results()[1].group, "g");
  EXPECT_EQ(report.Results()[1].detail, "-108");
}

}  // namespace
}  // namespace varsile::validate
