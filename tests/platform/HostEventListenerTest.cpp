#include <AudioToolbox/AudioUnitUtilities.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace host_test {
namespace {

struct Heard {
  void* object;
  AudioUnitEvent event;
  UInt64 hostTime;
  Float32 value;
};

struct Recorder {
  std::mutex mutex;
  std::vector<Heard> heard;

  static void Proc(void* userData, void* object, const AudioUnitEvent* event, UInt64 hostTime,
                   Float32 value) {
    auto* self = static_cast<Recorder*>(userData);
    const std::lock_guard lock(self->mutex);
    self->heard.push_back(Heard{object, *event, hostTime, value});
  }
  std::size_t Count() {
    const std::lock_guard lock(mutex);
    return heard.size();
  }
};

AudioUnit FakeUnit(std::uintptr_t n) {
  return reinterpret_cast<AudioUnit>(n * 64);
}

AudioUnitEvent ParameterEvent(AudioUnit unit, AudioUnitParameterID id, AudioUnitScope scope = 0,
                              AudioUnitElement element = 0,
                              AudioUnitEventType type = kAudioUnitEvent_ParameterValueChange) {
  AudioUnitEvent event{};
  event.mEventType = type;
  event.mArgument.mParameter = AudioUnitParameter{unit, id, scope, element};
  return event;
}

// Creates a listener and disposes of it when the test ends.
class Listener {
 public:
  Listener() { EXPECT_EQ(AUEventListenerCreateWithCallback(Recorder::Proc, &mRecorder, &mRef), noErr); }
  ~Listener() {
    if (mRef) {
      EXPECT_EQ(AUListenerDispose(mRef), noErr);
    }
  }
  OSStatus Add(void* object, const AudioUnitEvent& event) {
    return AUEventListenerAddEventType(mRef, object, &event);
  }
  OSStatus Remove(void* object, const AudioUnitEvent& event) {
    return AUEventListenerRemoveEventType(mRef, object, &event);
  }
  AUEventListenerRef mRef = nullptr;
  Recorder mRecorder;
};

TEST(HostEventListener, HearsOnlyWhatItSubscribedTo) {
  const AudioUnit unit = FakeUnit(1);
  const AudioUnit other = FakeUnit(2);
  Listener listener;
  int object = 0;
  ASSERT_EQ(listener.Add(&object, ParameterEvent(unit, 5, 0, 0)), noErr);

  const AudioUnitEvent heard = ParameterEvent(unit, 5, 0, 0);
  const AudioUnitEvent notHeard[] = {
      ParameterEvent(unit, 6, 0, 0), ParameterEvent(unit, 5, 1, 0), ParameterEvent(unit, 5, 0, 1),
      ParameterEvent(other, 5, 0, 0),
      ParameterEvent(unit, 5, 0, 0, kAudioUnitEvent_BeginParameterChangeGesture)};
  for (const AudioUnitEvent& event : notHeard)
    EXPECT_EQ(AUEventListenerNotify(nullptr, nullptr, &event), noErr);
  EXPECT_EQ(listener.mRecorder.Count(), 0u);

  EXPECT_EQ(AUEventListenerNotify(nullptr, nullptr, &heard), noErr);
  ASSERT_EQ(listener.mRecorder.Count(), 1u);
  const Heard& call = listener.mRecorder.heard[0];
  EXPECT_EQ(call.object, &object);
  EXPECT_EQ(std::memcmp(&call.event, &heard, sizeof(heard)), 0);
  EXPECT_EQ(call.hostTime, 0u);
  EXPECT_EQ(call.value, 0.0f);
}

TEST(HostEventListener, WildcardsForAnyParameterAndAnyUnit) {
  const AudioUnit unit = FakeUnit(3);
  Listener anyParameter;
  Listener anyUnit;
  ASSERT_EQ(anyParameter.Add(nullptr, ParameterEvent(unit, kAUEventListener_AnyParameter)), noErr);
  ASSERT_EQ(anyUnit.Add(nullptr, ParameterEvent(nullptr, 7, 0, 0)), noErr);

  const AudioUnitEvent p7 = ParameterEvent(unit, 7, 0, 0);
  const AudioUnitEvent p8 = ParameterEvent(unit, 8, 1, 2);
  const AudioUnitEvent elsewhere = ParameterEvent(FakeUnit(4), 7, 0, 0);
  for (const AudioUnitEvent* event : {&p7, &p8, &elsewhere}) AUEventListenerNotify(nullptr, nullptr, event);
  EXPECT_EQ(anyParameter.mRecorder.Count(), 2u);  // p7 and p8, not the other unit
  EXPECT_EQ(anyUnit.mRecorder.Count(), 2u);       // p7 on both units
}

TEST(HostEventListener, PropertyEventsMatchOnTheirProperty) {
  const AudioUnit unit = FakeUnit(5);
  Listener listener;
  AudioUnitEvent property{};
  property.mEventType = kAudioUnitEvent_PropertyChange;
  property.mArgument.mProperty = AudioUnitProperty{unit, 22, 0, 0};
  ASSERT_EQ(listener.Add(nullptr, property), noErr);
  AUEventListenerNotify(nullptr, nullptr, &property);
  property.mArgument.mProperty.mPropertyID = 23;
  AUEventListenerNotify(nullptr, nullptr, &property);
  EXPECT_EQ(listener.mRecorder.Count(), 1u);
}

TEST(HostEventListener, SenderIsNotToldOfItsOwnEvent) {
  const AudioUnit unit = FakeUnit(6);
  Listener sender;
  Listener other;
  int control = 0;
  int meter = 0;
  const AudioUnitEvent event = ParameterEvent(unit, 1);
  ASSERT_EQ(sender.Add(nullptr, event), noErr);
  ASSERT_EQ(other.Add(&control, event), noErr);
  ASSERT_EQ(other.Add(&meter, event), noErr);

  EXPECT_EQ(AUEventListenerNotify(sender.mRef, nullptr, &event), noErr);
  EXPECT_EQ(sender.mRecorder.Count(), 0u);
  EXPECT_EQ(other.mRecorder.Count(), 2u);

  // The control that made the change is not told; the meter is.
  EXPECT_EQ(AUEventListenerNotify(nullptr, &control, &event), noErr);
  EXPECT_EQ(sender.mRecorder.Count(), 1u);
  ASSERT_EQ(other.mRecorder.Count(), 3u);
  EXPECT_EQ(other.mRecorder.heard.back().object, &meter);
}

TEST(HostEventListener, OneCallPerObjectAndRemoval) {
  const AudioUnit unit = FakeUnit(7);
  Listener listener;
  int object = 0;
  const AudioUnitEvent specific = ParameterEvent(unit, 2);
  const AudioUnitEvent any = ParameterEvent(unit, kAUEventListener_AnyParameter);
  ASSERT_EQ(listener.Add(&object, specific), noErr);
  ASSERT_EQ(listener.Add(&object, specific), noErr);  // kept once
  ASSERT_EQ(listener.Add(&object, any), noErr);       // overlaps
  AUEventListenerNotify(nullptr, nullptr, &specific);
  EXPECT_EQ(listener.mRecorder.Count(), 1u);

  EXPECT_EQ(listener.Remove(&object, any), noErr);
  EXPECT_EQ(listener.Remove(&object, any), kAudio_ParamError);
  EXPECT_EQ(listener.Remove(nullptr, specific), kAudio_ParamError) << "the object takes part in the match";
  AUEventListenerNotify(nullptr, nullptr, &specific);
  EXPECT_EQ(listener.mRecorder.Count(), 2u);
  EXPECT_EQ(listener.Remove(&object, specific), noErr);
  AUEventListenerNotify(nullptr, nullptr, &specific);
  EXPECT_EQ(listener.mRecorder.Count(), 2u);
}

TEST(HostEventListener, DisposedListenerIsSilentAndItsHandleRefused) {
  Recorder recorder;
  AUEventListenerRef ref = nullptr;
  ASSERT_EQ(AUEventListenerCreateWithCallback(Recorder::Proc, &recorder, &ref), noErr);
  const AudioUnitEvent event = ParameterEvent(FakeUnit(8), 0);
  ASSERT_EQ(AUEventListenerAddEventType(ref, nullptr, &event), noErr);
  EXPECT_EQ(AUListenerDispose(ref), noErr);
  AUEventListenerNotify(nullptr, nullptr, &event);
  EXPECT_EQ(recorder.Count(), 0u);
  EXPECT_EQ(AUListenerDispose(ref), kAudio_ParamError);
  EXPECT_EQ(AUEventListenerAddEventType(ref, nullptr, &event), kAudio_ParamError);
}

TEST(HostEventListener, BadArgumentsGiveAStatus) {
  AUEventListenerRef ref = nullptr;
  const AudioUnitEvent event = ParameterEvent(FakeUnit(9), 0);
  EXPECT_EQ(AUEventListenerCreateWithCallback(nullptr, nullptr, &ref), kAudio_ParamError);
  EXPECT_EQ(AUEventListenerCreateWithCallback(Recorder::Proc, nullptr, nullptr), kAudio_ParamError);
  EXPECT_EQ(AUEventListenerNotify(nullptr, nullptr, nullptr), kAudio_ParamError);
  EXPECT_EQ(AUListenerDispose(nullptr), kAudio_ParamError);
  // Handles that are not listeners are refused, never written through.
  alignas(64) char notAListener[4096] = {};
  for (void* bogus : {static_cast<void*>(notAListener), static_cast<void*>(&ref)}) {
    auto listener = static_cast<AUEventListenerRef>(bogus);
    EXPECT_EQ(AUEventListenerAddEventType(listener, nullptr, &event), kAudio_ParamError);
    EXPECT_EQ(AUEventListenerRemoveEventType(listener, nullptr, &event), kAudio_ParamError);
    EXPECT_EQ(AUListenerDispose(listener), kAudio_ParamError);
  }
  Listener listener;
  EXPECT_EQ(AUEventListenerAddEventType(listener.mRef, nullptr, nullptr), kAudio_ParamError);
  EXPECT_EQ(AUEventListenerRemoveEventType(listener.mRef, nullptr, nullptr), kAudio_ParamError);
  // Misaligned pointers into a real listener are refused too.
  auto inside = reinterpret_cast<AUEventListenerRef>(reinterpret_cast<char*>(listener.mRef) + 8);
  EXPECT_EQ(AUListenerDispose(inside), kAudio_ParamError);
}

TEST(HostEventListener, FixedCapacityIsReusedAfterDisposal) {
  std::vector<AUEventListenerRef> refs;
  Recorder recorder;
  for (;;) {
    AUEventListenerRef ref = nullptr;
    const OSStatus status = AUEventListenerCreateWithCallback(Recorder::Proc, &recorder, &ref);
    if (status != noErr) {
      EXPECT_EQ(status, memFullErr);
      break;
    }
    refs.push_back(ref);
    ASSERT_LE(refs.size(), kAUEventListener_MaxListeners);
  }
  EXPECT_EQ(refs.size(), kAUEventListener_MaxListeners);

  const AUEventListenerRef first = refs.front();
  UInt32 subscriptions = 0;
  for (;; ++subscriptions) {
    const AudioUnitEvent event = ParameterEvent(FakeUnit(10), subscriptions);
    const OSStatus status = AUEventListenerAddEventType(first, nullptr, &event);
    if (status != noErr) {
      EXPECT_EQ(status, memFullErr);
      break;
    }
    ASSERT_LE(subscriptions, kAUEventListener_MaxEventTypes);
  }
  EXPECT_EQ(subscriptions, kAUEventListener_MaxEventTypes);
  // A removed subscription frees its slot.
  const AudioUnitEvent some = ParameterEvent(FakeUnit(10), 17);
  const AudioUnitEvent fresh = ParameterEvent(FakeUnit(11), 0);
  EXPECT_EQ(AUEventListenerRemoveEventType(first, nullptr, &some), noErr);
  EXPECT_EQ(AUEventListenerAddEventType(first, nullptr, &fresh), noErr);

  for (AUEventListenerRef ref : refs) EXPECT_EQ(AUListenerDispose(ref), noErr);
  AUEventListenerRef again = nullptr;
  EXPECT_EQ(AUEventListenerCreateWithCallback(Recorder::Proc, &recorder, &again), noErr);
  const AudioUnitEvent old = ParameterEvent(FakeUnit(10), 3);
  AUEventListenerNotify(nullptr, nullptr, &old);
  EXPECT_EQ(recorder.Count(), 0u) << "a reused slot starts without subscriptions";
  EXPECT_EQ(AUListenerDispose(again), noErr);
}

// A listener that disposes of itself, and adds a subscription to another,
// from inside its callback.
struct SelfDisposing {
  AUEventListenerRef self = nullptr;
  AUEventListenerRef other = nullptr;
  int calls = 0;
  OSStatus disposeStatus = 1;
  OSStatus addStatus = 1;
  static void Proc(void* userData, void*, const AudioUnitEvent*, UInt64, Float32) {
    auto* me = static_cast<SelfDisposing*>(userData);
    ++me->calls;
    const AudioUnitEvent later = ParameterEvent(FakeUnit(12), 99);
    me->addStatus = AUEventListenerAddEventType(me->other, nullptr, &later);
    me->disposeStatus = AUListenerDispose(me->self);
  }
};

TEST(HostEventListener, CallbacksMayDisposeAndSubscribe) {
  SelfDisposing state;
  Listener other;
  state.other = other.mRef;
  ASSERT_EQ(AUEventListenerCreateWithCallback(SelfDisposing::Proc, &state, &state.self), noErr);
  int objectA = 0;
  int objectB = 0;
  const AudioUnitEvent event = ParameterEvent(FakeUnit(12), 1);
  ASSERT_EQ(AUEventListenerAddEventType(state.self, &objectA, &event), noErr);
  ASSERT_EQ(AUEventListenerAddEventType(state.self, &objectB, &event), noErr);

  EXPECT_EQ(AUEventListenerNotify(nullptr, nullptr, &event), noErr);
  EXPECT_EQ(state.calls, 1) << "no further calls once disposed, even within the same notification";
  EXPECT_EQ(state.disposeStatus, noErr);
  EXPECT_EQ(state.addStatus, noErr);
  AUEventListenerNotify(nullptr, nullptr, &event);
  EXPECT_EQ(state.calls, 1);
  const AudioUnitEvent later = ParameterEvent(FakeUnit(12), 99);
  AUEventListenerNotify(nullptr, nullptr, &later);
  EXPECT_EQ(other.mRecorder.Count(), 1u);

  // The retired slot is reclaimed: the whole table can be filled again.
  std::vector<AUEventListenerRef> refs;
  AUEventListenerRef ref = nullptr;
  while (AUEventListenerCreateWithCallback(Recorder::Proc, nullptr, &ref) == noErr) refs.push_back(ref);
  EXPECT_EQ(refs.size(), kAUEventListener_MaxListeners - 1);  // `other` holds one
  for (AUEventListenerRef r : refs) AUListenerDispose(r);
}

// Notifications from several threads while listeners come and go. Each
// listener's user data is freed right after its disposal returns, so a call
// that arrives late shows up as a use after free under the address sanitizer.
TEST(HostEventListener, NotifyFromSeveralThreadsWhileListenersComeAndGo) {
  constexpr int kThreads = 4;
  constexpr int kNotifies = 20000;
  const AudioUnit unit = FakeUnit(13);
  const AudioUnitEvent event = ParameterEvent(unit, 4);

  std::atomic<long> stableCalls{0};
  AUEventListenerRef stable = nullptr;
  auto count = [](void* userData, void*, const AudioUnitEvent*, UInt64, Float32) {
    static_cast<std::atomic<long>*>(userData)->fetch_add(1, std::memory_order_relaxed);
  };
  ASSERT_EQ(AUEventListenerCreateWithCallback(count, &stableCalls, &stable), noErr);
  ASSERT_EQ(AUEventListenerAddEventType(stable, nullptr, &event), noErr);

  std::atomic<int> running{kThreads};
  std::vector<std::thread> notifiers;
  for (int t = 0; t < kThreads; ++t) {
    notifiers.emplace_back([&] {
      for (int i = 0; i < kNotifies; ++i) ASSERT_EQ(AUEventListenerNotify(nullptr, nullptr, &event), noErr);
      running.fetch_sub(1);
    });
  }
  int cycles = 0;
  long transientCalls = 0;
  while (running.load() > 0 || cycles < 50) {
    auto calls = std::make_unique<std::atomic<long>>(0);
    AUEventListenerRef transient = nullptr;
    ASSERT_EQ(AUEventListenerCreateWithCallback(count, calls.get(), &transient), noErr);
    ASSERT_EQ(AUEventListenerAddEventType(transient, nullptr, &event), noErr);
    const AudioUnitEvent extra = ParameterEvent(unit, kAUEventListener_AnyParameter);
    ASSERT_EQ(AUEventListenerAddEventType(transient, &cycles, &extra), noErr);
    std::this_thread::yield();
    ASSERT_EQ(AUEventListenerRemoveEventType(transient, &cycles, &extra), noErr);
    ASSERT_EQ(AUListenerDispose(transient), noErr);
    transientCalls += calls->load();
    calls.reset();
    ++cycles;
  }
  for (auto& t : notifiers) t.join();
  EXPECT_EQ(stableCalls.load(), static_cast<long>(kThreads) * kNotifies);
  // How much overlap the run achieved, for the XML report.
  RecordProperty("transientCalls", std::to_string(transientCalls));
  EXPECT_EQ(AUListenerDispose(stable), noErr);
}

}  // namespace
}  // namespace host_test
