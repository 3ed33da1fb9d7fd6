// A host call that failed: what the host was doing and the status it got.
#pragma once

#include <MacTypes.h>

#include <stdexcept>
#include <string>
#include <string_view>

namespace varsile::host {

class HostError : public std::runtime_error {
 public:
  // The message reads "<action>: <status name>", e.g.
  // "initializing the unit: kAudioUnitErr_FormatNotSupported (-10868)".
  HostError(const std::string& action, OSStatus status);

  OSStatus Status() const noexcept { return mStatus; }
  const std::string& Action() const noexcept { return mAction; }

 private:
  std::string mAction;
  OSStatus mStatus;
};

// Throws HostError for a non-zero status.
inline void ThrowIfError(OSStatus status, std::string_view action) {
  if (status != noErr) throw HostError(std::string(action), status);
}

}  // namespace varsile::host
