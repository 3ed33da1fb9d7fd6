#include "Cli.h"

#include <cstdlib>
#include <new>
#include <string_view>

#include "CliError.h"
#include "Commands.h"
#include "HostError.h"

namespace varsile::cli {

namespace {

constexpr std::string_view kUsage =
    "usage: varsile <command> [options]\n"
    "\n"
    "A pitch-aware gate for audio files: notes in the chosen key and scale pass,\n"
    "the others are attenuated.\n"
    "\n"
    "commands:\n"
    "  process IN -o OUT   gate a file by key and scale\n"
    "  analyze IN          show the notes the pitch tracker hears\n"
    "  params              list the component's parameters\n"
    "  demo                gate a generated melody in C major and show the levels\n"
    "\n"
    "'varsile <command> --help' describes a command.\n";

struct Command {
  std::string_view name;
  int (*run)(std::span<const std::string>, CliContext&);
};
constexpr Command kCommands[] = {
    {"process", ProcessCommand},
    {"analyze", AnalyzeCommand},
    {"params", ParamsCommand},
    {"demo", DemoCommand},
};

}  // namespace

host::ComponentSearch GateSearch(const std::string& programDir, const std::string& buildTreeManifest,
                                 const std::string& installedManifest) {
  host::ComponentSearch search;
  if (const char* path = std::getenv("VARSILE_COMPONENT_PATH")) search.searchPath = path;
  search.defaultManifests = host::DefaultManifests(programDir, buildTreeManifest, installedManifest);
  return search;
}

int RunCli(std::span<const std::string> arguments, CliContext& context) {
  try {
    if (arguments.empty()) {
      context.err << kUsage;
      return kExitUsage;
    }
    const std::string& name = arguments.front();
    if (name == "-h" || name == "--help" || name == "help") {
      context.out << kUsage;
      return 0;
    }
    if (name == "--version") {
      context.out << "varsile 1.0.0\n";
      return 0;
    }
    for (const Command& command : kCommands) {
      if (command.name == name) return command.run(arguments.subspan(1), context);
    }
    throw UsageError("unknown command '" + name + "' (try 'varsile --help')");
  } catch (const UsageError& error) {
    context.err << "varsile: " << error.what() << '\n';
    return kExitUsage;
  } catch (const std::bad_alloc&) {
    context.err << "varsile: out of memory\n";
    return kExitFailure;
  } catch (const std::exception& error) {
    context.err << "varsile: " << error.what() << '\n';
    return kExitFailure;
  }
}

}  // namespace varsile::cli
