#include "AUElement.h"

AUElement::AUElement(AUBase* audioUnit) : mOwner(audioUnit) {}

AUElement::~AUElement() {
  if (mName != nullptr) CFRelease(mName);
}

void AUElement::SetName(CFStringRef name) {
  // Retain first: the new name may be the one we hold.
  if (name != nullptr) CFRetain(name);
  if (mName != nullptr) CFRelease(mName);
  mName = name;
}
