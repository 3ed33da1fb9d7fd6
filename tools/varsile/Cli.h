// The program: subcommands process, analyze, params and demo.
#pragma once

#include <ostream>
#include <span>
#include <string>

#include "ComponentLocator.h"

namespace varsile::cli {

struct CliContext {
  std::ostream& out;
  std::ostream& err;
  bool stderrIsTerminal = false;  // draw progress bars
  host::ComponentSearch componentSearch;
};

// Where a program in programDir finds the gate: VARSILE_COMPONENT_PATH, else
// the manifests relative to programDir, in the build tree or installed.
host::ComponentSearch GateSearch(const std::string& programDir, const std::string& buildTreeManifest,
                                 const std::string& installedManifest);

// Runs one command line (without the program's name) and returns the exit
// status: 0, 1 for a failure, 2 for a wrong command line. Errors are one
// line on err, "varsile: <message>".
int RunCli(std::span<const std::string> arguments, CliContext& context);

}  // namespace varsile::cli
