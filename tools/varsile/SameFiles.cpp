#include "SameFiles.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "CliError.h"

namespace varsile::cli {

namespace {

struct Identity {
  std::optional<std::pair<dev_t, ino_t>> inode;
  std::string canonical;

  bool operator==(const Identity& other) const {
    if (inode && other.inode) return *inode == *other.inode;
    return canonical == other.canonical;
  }
};

Identity IdentityOf(const std::string& path) {
  Identity identity;
  struct stat status {};
  if (stat(path.c_str(), &status) == 0) identity.inode = std::make_pair(status.st_dev, status.st_ino);
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
  identity.canonical =
      error ? std::filesystem::absolute(path, error).lexically_normal().string() : canonical.string();
  return identity;
}

}  // namespace

void RefuseSameFiles(std::span<const NamedFile> files) {
  std::vector<std::pair<const NamedFile*, Identity>> seen;
  for (const NamedFile& file : files) {
    if (file.path.empty() || file.path == "-") continue;
    Identity identity = IdentityOf(file.path);
    for (const auto& [earlier, earlierIdentity] : seen) {
      if (earlierIdentity == identity) {
        throw UsageError("{} '{}' is the same file as {}{}; nothing was written", file.role, file.path,
                         earlier->role,
                         earlier->path == file.path ? "" : fmt::format(" '{}'", earlier->path));
      }
    }
    seen.emplace_back(&file, std::move(identity));
  }
}

}  // namespace varsile::cli
