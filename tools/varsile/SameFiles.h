// The files one run reads and writes must all be different files: writing
// the output over the input, or the meters over the output, destroys data.
#pragma once

#include <span>
#include <string>

namespace varsile::cli {

struct NamedFile {
  std::string role;  // "the input", "-o", "--meters"
  std::string path;  // "" or "-" (a standard stream) takes part in no check
};

// Throws UsageError naming the first two that are the same file: the same
// device and inode for files that exist, the same canonical path for files
// yet to be written.
void RefuseSameFiles(std::span<const NamedFile> files);

}  // namespace varsile::cli
