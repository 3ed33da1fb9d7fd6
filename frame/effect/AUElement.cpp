#include "AUElement.h"

AUElement::AUElement(AUBase* audioUnit) : mOwner(audioUnit) {}

void AUElement::SetName(CFStringRef name) {
  // Retain first: the new name may be the one we hold.
  if (name != nullptr) CFRetain(name);
  mName.Reset(name);
}
