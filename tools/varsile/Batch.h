// Many files at once: each on one of a few worker threads, with its own
// instance of the gate; one progress line for them all, their output in
// the order they finish, and a summary.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "Cli.h"

namespace varsile::cli {

// Runs work(i, context) for every name, on jobs threads (0: one per core).
// Each gets a context of its own, whose output is passed on whole when it
// ends; a failure is reported by name and the others go on. Returns the
// exit status: 0, or 1 when any failed.
int RunBatch(const std::vector<std::string>& names, unsigned jobs, CliContext& context,
             const std::function<void(std::size_t, CliContext&)>& work);

// --jobs: 0 for one per core.
unsigned ParseJobs(const std::string& text);

}  // namespace varsile::cli
