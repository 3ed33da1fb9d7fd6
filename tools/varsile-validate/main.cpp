// varsile-validate: checks an audio unit the way a careful host would, and
// fails if any check fails.
#include <iostream>
#include <string>
#include <vector>

#include "Checks.h"
#include "HostError.h"
#include "Options.h"
#include "Report.h"
#include "Target.h"

int main(int argc, char** argv) {
  using namespace varsile::validate;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  Options options;
  try {
    options = ParseOptions(arguments);
  } catch (const UsageError& error) {
    std::cerr << "varsile-validate: " << error.what() << "\n\n" << Usage();
    return 2;
  }
  if (options.help) {
    std::cout << Usage();
    return 0;
  }
  if (options.listGroups) {
    for (const CheckGroup& group : CheckGroups()) std::cout << group.name << "\t" << group.title << '\n';
    return 0;
  }

  Target target;
  try {
    target = varsile::host::FindComponent(options.query, std::cout);
  } catch (const varsile::host::HostError& error) {
    std::cerr << "varsile-validate: " << error.what() << '\n';
    return 2;
  }
  std::cout << "validating " << varsile::host::DescribeComponent(target) << '\n';

  Report report(std::cout, options.quiet);
  if (!RunChecks(report, target, options.groups)) {
    std::cerr << "varsile-validate: unknown group; --list-groups lists them\n";
    return 2;
  }
  report.PrintSummary();
  return report.ExitCode();
}
