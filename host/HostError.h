// The one exception of the host layer: a host call that failed, or a
// component that could not be found; what the host was doing and the status.
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
  // A failure the message tells whole, e.g. where a component was looked for.
  static HostError Told(const std::string& message, OSStatus status);

  OSStatus Status() const noexcept { return mStatus; }
  const std::string& Action() const noexcept { return mAction; }

 private:
  HostError(const std::string& message, const std::string& action, OSStatus status);

  std::string mAction;
  OSStatus mStatus;
};

// Throws HostError for a non-zero status.
inline void ThrowIfError(OSStatus status, std::string_view action) {
  if (status != noErr) throw HostError(std::string(action), status);
}

}  // namespace varsile::host
