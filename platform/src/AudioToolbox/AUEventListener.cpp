// Parameter-event listeners. AUEventListenerNotify may run on a render thread,
// so the listeners live in a fixed table that notification reads without a
// lock. Writers (create, add, remove, dispose) serialise on a mutex; a slot
// they take out of use is first marked retired and only reused after a grace
// period in which every notification that could still see it has finished.
// Notifications announce themselves on one of two counters chosen by the
// parity of an epoch; a grace period flips the epoch and waits for the old
// counter to drain.
#include <AudioToolbox/AudioUnitUtilities.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace {

enum SlotState : UInt32 { kFree = 0, kActive = 1, kRetired = 2 };

struct Target {
  AudioUnit mUnit;
  AudioUnitEventType mEventType;
  UInt32 mID;
  AudioUnitScope mScope;
  AudioUnitElement mElement;
};

// Fields other than mState are written only while the slot is free, before
// it is published as active, and read only after seeing it active.
struct Subscription {
  std::atomic<UInt32> mState{kFree};
  UInt64 mRetireTicket{};
  Target mTarget{};
  void* mObject{};
};

}  // namespace

struct AUEventListenerOpaque {
  std::atomic<UInt32> mState{kFree};
  UInt64 mRetireTicket{};
  AUEventListenerProc mProc{};
  void* mUserData{};
  std::atomic<UInt32> mSubscriptionLimit{0};  // slots at or past it are free
  Subscription mSubscriptions[kAUEventListener_MaxEventTypes];
};

namespace {

AUEventListenerOpaque gListeners[kAUEventListener_MaxListeners];
std::atomic<UInt32> gListenerLimit{0};

std::mutex gWriterMutex;

// Grace periods: started and completed counts change only under gGraceMutex,
// which notifying threads never take.
std::mutex gGraceMutex;
std::atomic<UInt64> gGraceStarted{0};
std::atomic<UInt64> gGraceCompleted{0};
std::atomic<UInt64> gEpoch{0};
std::atomic<UInt64> gReaders[2];

// Static TLS: reading it on a render thread never allocates.
thread_local int tNotifyDepth __attribute__((tls_model("initial-exec"))) = 0;

class ReadSection {
 public:
  ReadSection() noexcept {
    for (;;) {
      const UInt64 epoch = gEpoch.load();
      gReaders[epoch & 1].fetch_add(1);
      // A grace period that flipped the epoch in between may not have seen
      // our count; announce again on the new side.
      if (gEpoch.load() == epoch) {
        mSide = epoch & 1;
        break;
      }
      gReaders[epoch & 1].fetch_sub(1);
    }
    ++tNotifyDepth;
  }
  ~ReadSection() {
    --tNotifyDepth;
    gReaders[mSide].fetch_sub(1);
  }
  ReadSection(const ReadSection&) = delete;
  ReadSection& operator=(const ReadSection&) = delete;

 private:
  UInt64 mSide = 0;
};

// Waits until every notification that began before the call has ended. Never
// called from inside a notification (it would wait for itself) nor with
// gWriterMutex held (a callback may be waiting for that mutex).
void Synchronize() {
  const std::lock_guard lock(gGraceMutex);
  const UInt64 period = gGraceStarted.fetch_add(1) + 1;
  const UInt64 epoch = gEpoch.load();
  gEpoch.store(epoch + 1);
  while (gReaders[epoch & 1].load() != 0) std::this_thread::yield();
  gGraceCompleted.store(period);
}

// Caller holds gWriterMutex. A slot retired with ticket t is safe to reuse
// once a grace period numbered above t has completed.
template <typename Slot>
void Retire(Slot& slot) {
  slot.mState.store(kRetired);
  slot.mRetireTicket = gGraceStarted.load();
}

template <typename Slot>
bool Reclaimable(const Slot& slot, UInt64 completed) {
  return slot.mState.load(std::memory_order_relaxed) == kRetired && slot.mRetireTicket < completed;
}

// Caller holds gWriterMutex.
void ReclaimRetired() {
  const UInt64 completed = gGraceCompleted.load();
  const UInt32 limit = gListenerLimit.load(std::memory_order_relaxed);
  for (UInt32 i = 0; i < limit; ++i) {
    AUEventListenerOpaque& listener = gListeners[i];
    const UInt32 state = listener.mState.load(std::memory_order_relaxed);
    if (state == kFree) continue;
    const bool listenerGoes = Reclaimable(listener, completed);
    const UInt32 subscriptionLimit = listener.mSubscriptionLimit.load(std::memory_order_relaxed);
    for (UInt32 k = 0; k < subscriptionLimit; ++k) {
      Subscription& subscription = listener.mSubscriptions[k];
      // A retired listener's subscriptions were unreachable since it retired.
      if (listenerGoes || Reclaimable(subscription, completed)) {
        subscription.mState.store(kFree, std::memory_order_relaxed);
      }
    }
    if (listenerGoes) {
      listener.mSubscriptionLimit.store(0, std::memory_order_relaxed);
      listener.mState.store(kFree, std::memory_order_relaxed);
    }
  }
}

bool HasRetired() {
  const UInt32 limit = gListenerLimit.load(std::memory_order_relaxed);
  for (UInt32 i = 0; i < limit; ++i) {
    const AUEventListenerOpaque& listener = gListeners[i];
    if (listener.mState.load(std::memory_order_relaxed) == kRetired) return true;
    const UInt32 subscriptionLimit = listener.mSubscriptionLimit.load(std::memory_order_relaxed);
    for (UInt32 k = 0; k < subscriptionLimit; ++k) {
      if (listener.mSubscriptions[k].mState.load(std::memory_order_relaxed) == kRetired) return true;
    }
  }
  return false;
}

// Runs find (under gWriterMutex) to claim a slot; when none is free but some
// are retired, waits for a grace period and tries once more.
template <typename Find>
OSStatus WithFreeSlot(Find find) {
  {
    std::unique_lock lock(gWriterMutex);
    ReclaimRetired();
    const OSStatus status = find();
    if (status != memFullErr || tNotifyDepth > 0 || !HasRetired()) return status;
  }
  Synchronize();
  const std::lock_guard lock(gWriterMutex);
  ReclaimRetired();
  return find();
}

// After a retirement: outside a callback, wait until it is complete.
void FinishRetirement() {
  if (tNotifyDepth > 0) return;
  Synchronize();
  const std::lock_guard lock(gWriterMutex);
  ReclaimRetired();
}

// Caller holds gWriterMutex. Null unless inListener is an active listener of
// the table.
AUEventListenerOpaque* FindListener(AUEventListenerRef inListener) {
  const auto address = reinterpret_cast<std::uintptr_t>(inListener);
  const auto first = reinterpret_cast<std::uintptr_t>(&gListeners[0]);
  if (address < first) return nullptr;
  const std::uintptr_t offset = address - first;
  if (offset % sizeof(AUEventListenerOpaque) != 0) return nullptr;
  const std::uintptr_t index = offset / sizeof(AUEventListenerOpaque);
  if (index >= kAUEventListener_MaxListeners) return nullptr;
  AUEventListenerOpaque& listener = gListeners[index];
  return listener.mState.load(std::memory_order_relaxed) == kActive ? &listener : nullptr;
}

// Property events name a property; the others a parameter. Both records have
// the same shape.
Target TargetOf(const AudioUnitEvent& event) {
  if (event.mEventType == kAudioUnitEvent_PropertyChange) {
    const AudioUnitProperty& p = event.mArgument.mProperty;
    return Target{p.mAudioUnit, event.mEventType, p.mPropertyID, p.mScope, p.mElement};
  }
  const AudioUnitParameter& p = event.mArgument.mParameter;
  return Target{p.mAudioUnit, event.mEventType, p.mParameterID, p.mScope, p.mElement};
}

bool SameTarget(const Target& a, const Target& b) {
  return a.mEventType == b.mEventType && a.mUnit == b.mUnit && a.mID == b.mID && a.mScope == b.mScope &&
         a.mElement == b.mElement;
}

// A subscription with the any-id wildcard ignores scope and element too.
bool Hears(const Target& wanted, const Target& event) noexcept {
  if (wanted.mEventType != event.mEventType) return false;
  if (wanted.mUnit != nullptr && wanted.mUnit != event.mUnit) return false;
  if (wanted.mID == kAUEventListener_AnyParameter) return true;
  return wanted.mID == event.mID && wanted.mScope == event.mScope && wanted.mElement == event.mElement;
}

template <typename Slot>
void RaiseLimit(std::atomic<UInt32>& limit, const Slot* slots, const Slot* claimed) {
  const auto needed = static_cast<UInt32>(claimed - slots + 1);
  if (limit.load(std::memory_order_relaxed) < needed) limit.store(needed, std::memory_order_release);
}

}  // namespace

extern "C" {

OSStatus AUEventListenerCreateWithCallback(AUEventListenerProc inProc, void* inUserData,
                                           AUEventListenerRef* outListener) {
  if (inProc == nullptr || outListener == nullptr) return kAudio_ParamError;
  *outListener = nullptr;
  return WithFreeSlot([&]() -> OSStatus {
    for (AUEventListenerOpaque& listener : gListeners) {
      if (listener.mState.load(std::memory_order_relaxed) != kFree) continue;
      listener.mProc = inProc;
      listener.mUserData = inUserData;
      listener.mSubscriptionLimit.store(0, std::memory_order_relaxed);
      listener.mState.store(kActive, std::memory_order_release);
      RaiseLimit(gListenerLimit, gListeners, &listener);
      *outListener = &listener;
      return noErr;
    }
    return memFullErr;
  });
}

OSStatus AUEventListenerAddEventType(AUEventListenerRef inListener, void* inObject,
                                     const AudioUnitEvent* inEvent) {
  if (inListener == nullptr || inEvent == nullptr) return kAudio_ParamError;
  const Target target = TargetOf(*inEvent);
  return WithFreeSlot([&]() -> OSStatus {
    AUEventListenerOpaque* listener = FindListener(inListener);
    if (listener == nullptr) return kAudio_ParamError;
    Subscription* freeSlot = nullptr;
    for (Subscription& subscription : listener->mSubscriptions) {
      const UInt32 state = subscription.mState.load(std::memory_order_relaxed);
      if (state == kActive && subscription.mObject == inObject && SameTarget(subscription.mTarget, target)) {
        return noErr;
      }
      if (state == kFree && freeSlot == nullptr) freeSlot = &subscription;
    }
    if (freeSlot == nullptr) return memFullErr;
    freeSlot->mTarget = target;
    freeSlot->mObject = inObject;
    freeSlot->mState.store(kActive, std::memory_order_release);
    RaiseLimit(listener->mSubscriptionLimit, listener->mSubscriptions, freeSlot);
    return noErr;
  });
}

OSStatus AUEventListenerRemoveEventType(AUEventListenerRef inListener, void* inObject,
                                        const AudioUnitEvent* inEvent) {
  if (inListener == nullptr || inEvent == nullptr) return kAudio_ParamError;
  const Target target = TargetOf(*inEvent);
  {
    const std::lock_guard lock(gWriterMutex);
    AUEventListenerOpaque* listener = FindListener(inListener);
    if (listener == nullptr) return kAudio_ParamError;
    const UInt32 limit = listener->mSubscriptionLimit.load(std::memory_order_relaxed);
    Subscription* found = nullptr;
    for (UInt32 k = 0; k < limit && found == nullptr; ++k) {
      Subscription& subscription = listener->mSubscriptions[k];
      if (subscription.mState.load(std::memory_order_relaxed) == kActive &&
          subscription.mObject == inObject && SameTarget(subscription.mTarget, target)) {
        found = &subscription;
      }
    }
    if (found == nullptr) return kAudio_ParamError;
    Retire(*found);
  }
  FinishRetirement();
  return noErr;
}

OSStatus AUListenerDispose(AUEventListenerRef inListener) {
  if (inListener == nullptr) return kAudio_ParamError;
  {
    const std::lock_guard lock(gWriterMutex);
    AUEventListenerOpaque* listener = FindListener(inListener);
    if (listener == nullptr) return kAudio_ParamError;
    Retire(*listener);
  }
  FinishRetirement();
  return noErr;
}

OSStatus AUEventListenerNotify(AUEventListenerRef inSendingListener, void* inSendingObject,
                               const AudioUnitEvent* inEvent) {
  if (inEvent == nullptr) return kAudio_ParamError;
  const Target event = TargetOf(*inEvent);
  const ReadSection section;
  const UInt32 listenerLimit = gListenerLimit.load(std::memory_order_acquire);
  for (UInt32 i = 0; i < listenerLimit; ++i) {
    AUEventListenerOpaque& listener = gListeners[i];
    if (&listener == inSendingListener || listener.mState.load() != kActive) continue;
    // One call per object, however many of its subscriptions match.
    void* told[kAUEventListener_MaxEventTypes];
    UInt32 toldCount = 0;
    const UInt32 subscriptionLimit = listener.mSubscriptionLimit.load(std::memory_order_acquire);
    for (UInt32 k = 0; k < subscriptionLimit; ++k) {
      const Subscription& subscription = listener.mSubscriptions[k];
      if (subscription.mState.load() != kActive || !Hears(subscription.mTarget, event)) continue;
      void* const object = subscription.mObject;
      if (inSendingObject != nullptr && object == inSendingObject) continue;
      if (std::find(told, told + toldCount, object) != told + toldCount) continue;
      // A callback may have disposed of its own listener.
      if (listener.mState.load() != kActive) break;
      told[toldCount++] = object;
      listener.mProc(listener.mUserData, object, inEvent, 0, 0.0f);
    }
  }
  return noErr;
}

}  // extern "C"
