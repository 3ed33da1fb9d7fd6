#include "Report.h"

#include <ostream>

namespace varsile::validate {

Report::Report(std::ostream& out, bool quiet) : mOut(out), mQuiet(quiet) {}

void Report::BeginGroup(std::string_view group, std::string_view title) {
  mGroup = group;
  if (!mQuiet) mOut << "\n== " << group << ": " << title << '\n';
}

bool Report::Check(bool ok, std::string_view name, std::string_view detail) {
  mResults.push_back({mGroup, std::string(name), ok, std::string(detail)});
  if (ok) ++mPassed;
  if (ok && mQuiet) return ok;
  mOut << (ok ? "PASS  " : "FAIL  ") << mGroup << '.' << name;
  if (!detail.empty()) mOut << ": " << detail;
  mOut << '\n';
  return ok;
}

void Report::Require(bool ok, std::string_view name, std::string_view detail) {
  if (!Check(ok, name, detail)) throw GroupAborted(std::string(name));
}

bool Report::CheckNone(std::string_view name, std::string_view problems, std::string_view good,
                       std::string_view lead) {
  if (problems.empty()) return Check(true, name, good);
  return Check(false, name, std::string(lead) + std::string(problems));
}

void Report::Note(std::string_view text) {
  if (!mQuiet) mOut << "      " << text << '\n';
}

void Report::PrintSummary() {
  mOut << "\n== summary: " << mResults.size() << " checks, " << mPassed << " passed, " << Failed()
       << " failed\n";
  for (const CheckResult& result : mResults) {
    if (!result.passed) mOut << "FAIL  " << result.group << '.' << result.name << '\n';
  }
  mOut << (ExitCode() == 0 ? "RESULT: PASS\n" : "RESULT: FAIL\n");
}

int Report::ExitCode() const noexcept {
  return mResults.empty() || Failed() != 0 ? 1 : 0;
}

}  // namespace varsile::validate
