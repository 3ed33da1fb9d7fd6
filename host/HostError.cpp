#include "HostError.h"

#include "StatusNames.h"

namespace varsile::host {

HostError::HostError(const std::string& action, OSStatus status)
    : HostError(action + ": " + StatusName(status), action, status) {}

HostError::HostError(const std::string& message, const std::string& action, OSStatus status)
    : std::runtime_error(message), mAction(action), mStatus(status) {}

HostError HostError::Told(const std::string& message, OSStatus status) {
  return HostError(message, message, status);
}

}  // namespace varsile::host
