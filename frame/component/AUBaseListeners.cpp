// Property listeners: registration, removal and notification.
#include "AUBase.h"

OSStatus AUBase::AddPropertyListener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                     void* refCon) {
  // A null procedure would be called at the next change.
  if (proc == nullptr) return kAudio_ParamError;
  if (mPropertyListeners.empty()) mPropertyListeners.reserve(32);
  mPropertyListeners.push_back(PropertyListener{id, proc, refCon});
  return noErr;
}

OSStatus AUBase::RemovePropertyListener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                        void* refCon, bool refConSpecified) {
  for (auto i = mPropertyListeners.size(); i-- > 0;) {
    const PropertyListener& l = mPropertyListeners[i];
    if (l.mPropertyID == id && l.mListenerProc == proc && (!refConSpecified || l.mListenerRefCon == refCon)) {
      mPropertyListeners.erase(mPropertyListeners.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  return noErr;
}

void AUBase::PropertyChanged(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) {
  // By position, re-reading the size after every call: a listener may append
  // registrations (reached in this walk) or remove some. The entry is copied
  // because an append may move the vector's storage during the call.
  for (std::size_t i = 0; i < mPropertyListeners.size(); ++i) {
    const PropertyListener l = mPropertyListeners[i];
    if (l.mPropertyID == id) l.mListenerProc(l.mListenerRefCon, mComponentInstance, id, scope, element);
  }
}
