// The validator's report: one line per check, PASS or FAIL with its details,
// grouped under headings, and a summary. Any failure makes the run fail.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace varsile::validate {

struct CheckResult {
  std::string group;
  std::string name;
  bool passed = false;
  std::string detail;
};

// Thrown by Report::Require when a group cannot go on; the runner catches it
// and moves to the next group.
class GroupAborted : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Report {
 public:
  // Quiet reports print only failures, notes of failing groups excepted, and
  // the summary.
  explicit Report(std::ostream& out, bool quiet = false);

  void BeginGroup(std::string_view group, std::string_view title);
  const std::string& CurrentGroup() const noexcept { return mGroup; }

  // Records one check and prints its line; returns ok.
  bool Check(bool ok, std::string_view name, std::string_view detail = {});
  void Pass(std::string_view name, std::string_view detail = {}) { Check(true, name, detail); }
  void Fail(std::string_view name, std::string_view detail) { Check(false, name, detail); }
  // A failed requirement ends the group: the check is recorded, then
  // GroupAborted is thrown.
  void Require(bool ok, std::string_view name, std::string_view detail = {});
  // Passes with `good` when `problems` is empty; else fails with `lead`
  // followed by the problems.
  bool CheckNone(std::string_view name, std::string_view problems, std::string_view good,
                 std::string_view lead = {});

  // An informational line that is not a check.
  void Note(std::string_view text);

  std::size_t Passed() const noexcept { return mPassed; }
  std::size_t Failed() const noexcept { return mResults.size() - mPassed; }
  const std::vector<CheckResult>& Results() const noexcept { return mResults; }

  void PrintSummary();
  // 0 when every check passed (and at least one ran), 1 otherwise.
  int ExitCode() const noexcept;

 private:
  std::ostream& mOut;
  bool mQuiet;
  std::string mGroup;
  std::vector<CheckResult> mResults;
  std::size_t mPassed = 0;
};

}  // namespace varsile::validate
