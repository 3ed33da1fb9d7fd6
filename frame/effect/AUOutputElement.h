// An output bus: always renders into memory, its own or the host's.
#pragma once

#include "AUIOElement.h"

class AUOutputElement : public AUIOElement {
 public:
  explicit AUOutputElement(AUBase* audioUnit);

  OSStatus SetStreamFormat(const AudioStreamBasicDescription& format) override;
  bool NeedsBufferSpace() const override { return true; }
};
