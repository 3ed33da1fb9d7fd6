#include "AUOutputElement.h"

AUOutputElement::AUOutputElement(AUBase* audioUnit) : AUIOElement(audioUnit) {
  // Allocates nothing until the component has begun initializing.
  AllocateBuffer(0);
}

OSStatus AUOutputElement::SetStreamFormat(const AudioStreamBasicDescription& format) {
  AUIOElement::SetStreamFormat(format);
  AllocateBuffer(0);
  return noErr;
}
