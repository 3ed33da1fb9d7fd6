// Property listeners: registration, removal by triple and notification,
// including registrations made during a notification.
#include "FrameTestSupport.h"

using namespace frametest;

namespace {

class AUBaseListeners : public OpenedAU {};

constexpr AudioUnitPropertyID kSomeProperty = 8;

}  // namespace

TEST_F(AUBaseListeners, AListenerHearsItsPropertyWithTheChangeArguments) {
  ListenerRecorder recorder;
  ASSERT_EQ(au->AddPropertyListener(kSomeProperty, ListenerRecorder::Proc, &recorder), noErr);
  au->PropertyChanged(kSomeProperty, kAudioUnitScope_Output, 3);
  au->PropertyChanged(kSomeProperty + 1, kAudioUnitScope_Output, 3);
  ASSERT_EQ(recorder.calls.size(), 1u);
  EXPECT_EQ(recorder.calls[0].refCon, &recorder);
  EXPECT_EQ(recorder.calls[0].unit, au->GetComponentInstance());
  EXPECT_EQ(recorder.calls[0].id, kSomeProperty);
  EXPECT_EQ(recorder.calls[0].scope, kAudioUnitScope_Output);
  EXPECT_EQ(recorder.calls[0].element, 3u);
}

TEST_F(AUBaseListeners, ListenersAreCalledInRegistrationOrder) {
  ListenerRecorder first, second;
  std::vector<void*> order;
  struct Log {
    static void Proc(void* refCon, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
      auto* pair = static_cast<std::pair<std::vector<void*>*, void*>*>(refCon);
      pair->first->push_back(pair->second);
    }
  };
  std::pair<std::vector<void*>*, void*> a{&order, &first}, b{&order, &second};
  au->AddPropertyListener(kSomeProperty, Log::Proc, &b);
  au->AddPropertyListener(kSomeProperty, Log::Proc, &a);
  au->PropertyChanged(kSomeProperty, 0, 0);
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(order[0], &second);
  EXPECT_EQ(order[1], &first);
}

TEST_F(AUBaseListeners, RegisteredTwiceIsCalledTwiceAndOneRemovalRemovesBoth) {
  ListenerRecorder recorder;
  au->AddPropertyListener(kSomeProperty, ListenerRecorder::Proc, &recorder);
  au->AddPropertyListener(kSomeProperty, ListenerRecorder::Proc, &recorder);
  au->PropertyChanged(kSomeProperty, 0, 0);
  EXPECT_EQ(recorder.calls.size(), 2u);
  EXPECT_EQ(au->RemovePropertyListener(kSomeProperty, ListenerRecorder::Proc, &recorder, true), noErr);
  au->PropertyChanged(kSomeProperty, 0, 0);
  EXPECT_EQ(recorder.calls.size(), 2u);
  EXPECT_TRUE(au->mPropertyListeners.empty());
}

TEST_F(AUBaseListeners, RemovalMatchesTheWholeTriple) {
  ListenerRecorder recorder, other;
  au->AddPropertyListener(kSomeProperty, ListenerRecorder::Proc, &recorder);
  au->AddPropertyListener(kSomeProperty + 1, ListenerRecorder::Proc, &recorder);
  // Another reference value, another property: nothing goes.
  EXPECT_EQ(au->RemovePropertyListener(kSomeProperty, ListenerRecorder::Proc, &other, true), noErr);
  EXPECT_EQ(au->RemovePropertyListener(kSomeProperty + 2, ListenerRecorder::Proc, &recorder, true), noErr);
  au->PropertyChanged(kSomeProperty, 0, 0);
  au->PropertyChanged(kSomeProperty + 1, 0, 0);
  EXPECT_EQ(recorder.calls.size(), 2u);
  // Without the reference value taking part, the id and procedure decide.
  EXPECT_EQ(au->RemovePropertyListener(kSomeProperty, ListenerRecorder::Proc, &other, false), noErr);
  au->PropertyChanged(kSomeProperty, 0, 0);
  au->PropertyChanged(kSomeProperty + 1, 0, 0);
  EXPECT_EQ(recorder.CountFor(kSomeProperty), 1u);
  EXPECT_EQ(recorder.CountFor(kSomeProperty + 1), 2u);
}

TEST_F(AUBaseListeners, ARemovalOfNothingIsNotAnError) {
  EXPECT_EQ(au->RemovePropertyListener(kSomeProperty, ListenerRecorder::Proc, nullptr, true), noErr);
}

TEST_F(AUBaseListeners, ANullProcedureIsRefused) {
  EXPECT_EQ(au->AddPropertyListener(kSomeProperty, nullptr, nullptr), kAudio_ParamError);
  au->PropertyChanged(kSomeProperty, 0, 0);  // must not call through null
  EXPECT_TRUE(au->mPropertyListeners.empty());
}

TEST_F(AUBaseListeners, MaxFramesNotifiesOnceForGlobalElementZero) {
  ListenerRecorder recorder;
  au->AddPropertyListener(kAudioUnitProperty_MaximumFramesPerSlice, ListenerRecorder::Proc, &recorder);
  au->SetMaxFramesPerSlice(256);
  ASSERT_EQ(recorder.calls.size(), 1u);
  EXPECT_EQ(recorder.calls[0].scope, kAudioUnitScope_Global);
  EXPECT_EQ(recorder.calls[0].element, 0u);
}

TEST_F(AUBaseListeners, AListenerAddedDuringANotificationIsReachedInTheSameWalk) {
  struct Adder {
    TestAU* au;
    ListenerRecorder late;
    int calls = 0;
    static void Proc(void* refCon, AudioUnit, AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement) {
      auto* self = static_cast<Adder*>(refCon);
      if (self->calls++ == 0) {
        // Enough registrations to force the vector to move during the walk.
        for (int i = 0; i < 40; ++i)
          self->au->AddPropertyListener(id + 100, ListenerRecorder::Proc, &self->late);
        self->au->AddPropertyListener(id, ListenerRecorder::Proc, &self->late);
      }
    }
  } adder{au.get(), {}};
  au->AddPropertyListener(kSomeProperty, Adder::Proc, &adder);
  au->PropertyChanged(kSomeProperty, 1, 2);
  EXPECT_EQ(adder.calls, 1);
  ASSERT_EQ(adder.late.calls.size(), 1u);
  EXPECT_EQ(adder.late.calls[0].element, 2u);
}

TEST_F(AUBaseListeners, AListenerRemovingItselfDuringANotificationIsSafe) {
  struct SelfRemover {
    TestAU* au;
    int calls = 0;
    static void Proc(void* refCon, AudioUnit, AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement) {
      auto* self = static_cast<SelfRemover*>(refCon);
      ++self->calls;
      self->au->RemovePropertyListener(id, Proc, self, true);
    }
  } remover{au.get()};
  ListenerRecorder after;
  au->AddPropertyListener(kSomeProperty, SelfRemover::Proc, &remover);
  au->AddPropertyListener(kSomeProperty, ListenerRecorder::Proc, &after);
  au->PropertyChanged(kSomeProperty, 0, 0);
  au->PropertyChanged(kSomeProperty, 0, 0);
  EXPECT_EQ(remover.calls, 1);
  // The entry after a removed one may be skipped in that walk, never called twice.
  EXPECT_GE(after.calls.size(), 1u);
  EXPECT_LE(after.calls.size(), 2u);
}

TEST_F(AUBaseListeners, RoomForThirtyTwoIsReservedAtTheFirstRegistration) {
  ListenerRecorder recorder;
  au->AddPropertyListener(kSomeProperty, ListenerRecorder::Proc, &recorder);
  EXPECT_GE(au->mPropertyListeners.capacity(), 32u);
}
