#include "HostError.h"

#include "StatusNames.h"

namespace varsile::host {

HostError::HostError(const std::string& action, OSStatus status)
    : std::runtime_error(action + ": " + StatusName(status)), mAction(action), mStatus(status) {}

}  // namespace varsile::host
