// The temporary files of a run, removed when SIGINT, SIGTERM or SIGHUP
// ends it: the handler may only make async-signal-safe calls, so the paths
// live in a fixed table it can read without locks or allocation.
#pragma once

namespace varsile::cli {

// Installs the handlers: they unlink every registered path and exit with
// 128 + the signal's number. Targets already in place are not touched.
void RemoveTemporaryFilesOnSignals();

// Records a temporary file; returns its slot, or -1 if the table is full or
// the path too long (the file is then only removed by its owner).
int RegisterTemporaryFile(const char* path) noexcept;
// Forgets a slot (after the file was renamed or removed).
void ForgetTemporaryFile(int slot) noexcept;

}  // namespace varsile::cli
