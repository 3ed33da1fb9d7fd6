// An output file written beside its target under a temporary name and
// renamed over the target only when complete: a failure never leaves a
// half-written file behind, nor destroys the file that was there.
#pragma once

#include <cstddef>
#include <string>

namespace varsile::cli {

class PendingFile {
 public:
  // Creates the temporary file in the target's folder. Throws CliError
  // "cannot write '<target>': <reason>".
  explicit PendingFile(std::string target);
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  // Removes the temporary file unless committed.
  ~PendingFile();

  int Descriptor() const noexcept { return mDescriptor; }
  const std::string& Target() const noexcept { return mTarget; }

  // Writes all the bytes or throws CliError.
  void Write(const void* data, std::size_t size);
  // Flushes, closes and renames onto the target. Throws CliError.
  void Commit();
  // Copies the whole file to descriptor instead of putting it in place;
  // the temporary file is then removed. Throws CliError.
  void SendTo(int descriptor);

 private:
  [[noreturn]] void Fail(int error) const;

  std::string mTarget;
  std::string mTemporary;
  int mDescriptor = -1;
  int mSignalSlot = -1;  // in the table the signal handlers clean up
  bool mCommitted = false;
};

}  // namespace varsile::cli
