// varsile: a command-line host that gates audio files by key and scale.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"
#include "TemporaryFiles.h"

int main(int argc, char** argv) {
  varsile::cli::RemoveTemporaryFilesOnSignals();
  std::vector<std::string> arguments(argv + 1, argv + argc);
  varsile::cli::CliContext context{
      std::cout, std::cerr, isatty(STDERR_FILENO) != 0,
      varsile::cli::GateSearch(varsile::host::ProgramDirectory(), VARSILE_BUILD_TREE_MANIFEST,
                               VARSILE_INSTALLED_MANIFEST)};
  const int status = varsile::cli::RunCli(arguments, context);
  std::cout.flush();
  return status;
}
