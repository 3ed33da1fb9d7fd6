// The benchmark programs' main: Google Benchmark's console output with a
// reporter that remembers the figures, then a summary from them. Other
// output formats go their own way, without the summary.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <string>

template <class Reporter, class Summary>
int RunWithSummary(int argc, char** argv, Summary summary) {
  bool console = true;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.starts_with("--benchmark_format=") && argument != "--benchmark_format=console")
      console = false;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (console) {
    Reporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                            : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    summary(reporter);
  } else {
    benchmark::RunSpecifiedBenchmarks();
  }
  benchmark::Shutdown();
  return 0;
}
