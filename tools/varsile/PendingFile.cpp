#include "PendingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "CliError.h"
#include "TemporaryFiles.h"

namespace varsile::cli {

namespace {

// The mode a newly created file gets: what open(2) would give it.
mode_t NewFileMode() {
  static const mode_t mode = [] {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

std::string RandomSuffix() {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string suffix(6, ' ');
  for (char& letter : suffix) letter = kLetters[pick(generator)];
  return suffix;
}

}  // namespace

PendingFile::PendingFile(std::string target) : mTarget(std::move(target)) {
  struct stat existing {};
  const bool exists = stat(mTarget.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) Fail(EISDIR);
  if (mTarget.empty()) Fail(ENOENT);

  const std::filesystem::path path(mTarget);
  const std::filesystem::path folder =
      path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  // The name is recorded for the signal handlers before the file exists
  // (mkstemp would create it first), so no moment leaves it behind.
  const std::string stem = (folder / ("." + path.filename().string() + ".")).string();
  for (int attempt = 0;; ++attempt) {
    mTemporary = stem + RandomSuffix();
    mSignalSlot = RegisterTemporaryFile(mTemporary.c_str());
    mDescriptor = open(mTemporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (mDescriptor >= 0) break;
    const int error = errno;
    ForgetTemporaryFile(std::exchange(mSignalSlot, -1));
    if (error != EEXIST || attempt == 99) {
      mTemporary.clear();
      Fail(error);
    }
  }
  // An existing file keeps its permissions; a new one gets the usual ones.
  fchmod(mDescriptor, exists ? (existing.st_mode & 07777) : NewFileMode());
}

PendingFile::~PendingFile() {
  if (mDescriptor >= 0) close(mDescriptor);
  if (!mCommitted && !mTemporary.empty()) unlink(mTemporary.c_str());
  ForgetTemporaryFile(mSignalSlot);
}

void PendingFile::Fail(int error) const {
  throw CliError("cannot write '{}': {}", mTarget, std::strerror(error));
}

void PendingFile::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = write(mDescriptor, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
}

void PendingFile::Commit() {
  if (fsync(mDescriptor) != 0 && errno != EINVAL) Fail(errno);
  const int descriptor = mDescriptor;
  mDescriptor = -1;
  if (close(descriptor) != 0) Fail(errno);
  if (rename(mTemporary.c_str(), mTarget.c_str()) != 0) Fail(errno);
  mCommitted = true;
  ForgetTemporaryFile(std::exchange(mSignalSlot, -1));
}

void PendingFile::SendTo(int descriptor) {
  if (lseek(mDescriptor, 0, SEEK_SET) != 0) Fail(errno);
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = read(mDescriptor, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail(errno);
    if (got == 0) break;
    for (ssize_t sent = 0; sent < got;) {
      const ssize_t written = write(descriptor, buffer.data() + sent, static_cast<std::size_t>(got - sent));
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) throw CliError("cannot write to standard output: {}", std::strerror(errno));
      sent += written;
    }
  }
}

}  // namespace varsile::cli
