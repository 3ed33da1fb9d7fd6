// The setter: storage, the master volume's coupling of the twelve interval
// volumes, its events, and refusals that must leave everything as it was.
#include "VarsileTestSupport.h"

namespace {

using frametest::HostHandle;
using frametest::ListenerRecorder;
using varsiletest::OpenEffect;
using varsiletest::ParameterEventRecorder;

constexpr AudioUnitParameterID kMajorThird = kGateParam_FirstInterval + 4;  // 6
constexpr AudioUnitParameterID kFifth = kGateParam_FirstInterval + 7;       // 9

class VolumeCouplingTest : public varsiletest::LeakCheckedTest {
 protected:
  OSStatus Set(AudioUnitParameterID id, Float32 value, AudioUnitScope scope = kAudioUnitScope_Global,
               AudioUnitElement element = 0) {
    return mEffect->SetParameter(id, scope, element, value, 0);
  }
  Float32 Get(AudioUnitParameterID id) { return mEffect->GetParameter(id); }

  HostHandle mHandle;
  std::unique_ptr<Varsile> mEffect = OpenEffect(mHandle);
  ParameterEventRecorder mEvents{mHandle};
};

TEST_F(VolumeCouplingTest, DefaultsAfterConstruction) {
  const Float32 expected[kNumberOfGateParams] = {0,   100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
                                                 100, 100, 100, 1,   1,   440, 25,  1,   100, 12,  0};
  for (AudioUnitParameterID id = 0; id < kNumberOfGateParams; ++id) {
    EXPECT_EQ(Get(id), expected[id]) << id;
    EXPECT_EQ(Get(id), kGateParameterTable[id].defaultValue) << id;
  }
  EXPECT_EQ(mEffect->MasterVolume(), 100.0f);
  for (UInt32 n = 0; n < kNumberOfIntervals; ++n) EXPECT_EQ(mEffect->VolumeOffset(n), 0.0f);
  EXPECT_EQ(mEffect->LastReportedNote(), -1);
}

TEST_F(VolumeCouplingTest, ConstructionSendsTheMastersTwelveEvents) {
  HostHandle handle;
  ParameterEventRecorder events(handle);
  auto effect = OpenEffect(handle);
  const std::vector<AudioUnitEvent> seen = events.Events();
  ASSERT_EQ(seen.size(), 12u);
  for (UInt32 n = 0; n < 12; ++n) {
    EXPECT_EQ(seen[n].mEventType, kAudioUnitEvent_ParameterValueChange);
    EXPECT_EQ(seen[n].mArgument.mParameter.mAudioUnit, handle.get());
    EXPECT_EQ(seen[n].mArgument.mParameter.mParameterID, kGateParam_FirstInterval + n);
    EXPECT_EQ(seen[n].mArgument.mParameter.mScope, kAudioUnitScope_Global);
    EXPECT_EQ(seen[n].mArgument.mParameter.mElement, 0u);
  }
}

TEST_F(VolumeCouplingTest, AnIntervalKeepsItsDistanceFromTheMaster) {
  ASSERT_EQ(Set(kMajorThird, 30), noErr);
  EXPECT_EQ(mEffect->VolumeOffset(4), -70.0f);
  EXPECT_EQ(mEvents.Count(), 0u) << "an interval set sends no event of its own";

  ASSERT_EQ(Set(kGateParam_MasterVolume, 50), noErr);
  EXPECT_EQ(Get(kMajorThird), 0.0f) << "clamped, not -20";
  EXPECT_EQ(mEffect->VolumeOffset(4), -70.0f);
  EXPECT_EQ(Get(kFifth), 50.0f);
  EXPECT_EQ(Get(kGateParam_MasterVolume), 50.0f);

  ASSERT_EQ(Set(kGateParam_MasterVolume, 100), noErr);
  EXPECT_EQ(Get(kMajorThird), 30.0f);
  EXPECT_EQ(Get(kFifth), 100.0f);
}

TEST_F(VolumeCouplingTest, AMasterAboveTheRangeClampsAtOneHundred) {
  ASSERT_EQ(Set(kGateParam_FirstInterval + 0, 80), noErr);  // offset -20
  ASSERT_EQ(Set(kGateParam_FirstInterval + 1, 79), noErr);  // offset -21
  ASSERT_EQ(Set(kGateParam_FirstInterval + 2, 10), noErr);  // offset -90
  ASSERT_EQ(Set(kGateParam_MasterVolume, 120), noErr);
  EXPECT_EQ(Get(kGateParam_MasterVolume), 120.0f) << "the storage does not enforce the range";
  EXPECT_EQ(Get(kGateParam_FirstInterval + 0), 100.0f);
  EXPECT_EQ(Get(kGateParam_FirstInterval + 1), 99.0f);
  EXPECT_EQ(Get(kGateParam_FirstInterval + 2), 30.0f);
  for (UInt32 n = 3; n < 12; ++n) EXPECT_EQ(Get(kGateParam_FirstInterval + n), 100.0f);
}

TEST_F(VolumeCouplingTest, EveryMasterSetSendsTwelveEventsInOrder) {
  for (const Float32 master : {100.0f, 100.0f, 40.0f}) {
    mEvents.Clear();
    ASSERT_EQ(Set(kGateParam_MasterVolume, master), noErr);
    const std::vector<AudioUnitEvent> seen = mEvents.Events();
    ASSERT_EQ(seen.size(), 12u) << "sent whether or not a value changed";
    for (UInt32 n = 0; n < 12; ++n) {
      EXPECT_EQ(seen[n].mArgument.mParameter.mParameterID, kGateParam_FirstInterval + n);
      EXPECT_EQ(seen[n].mArgument.mParameter.mAudioUnit, mHandle.get());
    }
  }
}

TEST_F(VolumeCouplingTest, OtherSetsSendNoEvents) {
  for (AudioUnitParameterID id : {0u, 2u, 13u, 14u, 15u, 16u, 17u, 18u, 19u, 20u, 21u}) {
    ASSERT_EQ(Set(id, 1), noErr);
  }
  EXPECT_EQ(mEvents.Count(), 0u);
}

TEST_F(VolumeCouplingTest, AKeySetAnnouncesChangedParameterInformation) {
  ListenerRecorder listener;
  ASSERT_EQ(mEffect->AddPropertyListener(kAudioUnitProperty_ParameterInfo, ListenerRecorder::Proc, &listener),
            noErr);
  ASSERT_EQ(Set(kGateParam_Key, 5), noErr);
  ASSERT_EQ(listener.calls.size(), 1u);
  EXPECT_EQ(listener.calls[0].id, kAudioUnitProperty_ParameterInfo);
  EXPECT_EQ(listener.calls[0].scope, kAudioUnitScope_Global);
  EXPECT_EQ(listener.calls[0].element, 0u);
  EXPECT_EQ(mEvents.Count(), 0u);

  ASSERT_EQ(Set(kGateParam_MasterVolume, 90), noErr);
  EXPECT_EQ(listener.calls.size(), 1u) << "only the key changes names";
}

TEST_F(VolumeCouplingTest, AGroupScopeSetIsRefusedAndChangesNothing) {
  ASSERT_EQ(Set(kMajorThird, 30), noErr);
  mEvents.Clear();
  EXPECT_EQ(Set(kGateParam_MasterVolume, 10, kAudioUnitScope_Group), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(mEvents.Count(), 0u);
  EXPECT_EQ(mEffect->MasterVolume(), 100.0f);
  EXPECT_EQ(Get(kGateParam_MasterVolume), 100.0f);
  for (UInt32 n = 0; n < 12; ++n) EXPECT_EQ(Get(kGateParam_FirstInterval + n), n == 4 ? 30.0f : 100.0f);

  EXPECT_EQ(Set(kMajorThird, 60, kAudioUnitScope_Group), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(mEffect->VolumeOffset(4), -70.0f);

  ListenerRecorder listener;
  ASSERT_EQ(mEffect->AddPropertyListener(kAudioUnitProperty_ParameterInfo, ListenerRecorder::Proc, &listener),
            noErr);
  EXPECT_EQ(Set(kGateParam_Key, 3, kAudioUnitScope_Group), kAudioUnitErr_InvalidScope);
  EXPECT_TRUE(listener.calls.empty());
}

TEST_F(VolumeCouplingTest, AThrownRefusalChangesNothing) {
  // Scope 7 does not exist, element 3 of the global scope neither: the frame throws.
  EXPECT_THROW(Set(kGateParam_MasterVolume, 10, 7), OSStatus);
  EXPECT_THROW(Set(kGateParam_MasterVolume, 10, kAudioUnitScope_Global, 3), OSStatus);
  EXPECT_EQ(mEvents.Count(), 0u);
  EXPECT_EQ(mEffect->MasterVolume(), 100.0f);
  for (UInt32 n = 0; n < 12; ++n) EXPECT_EQ(Get(kGateParam_FirstInterval + n), 100.0f);

  // Through the fast path the throw becomes the status.
  EXPECT_EQ(AudioUnitBaseSetParameter(mEffect.get(), kGateParam_MasterVolume, 9, 0, 10, 0),
            kAudioUnitErr_InvalidScope);
  EXPECT_EQ(AudioUnitBaseSetParameter(mEffect.get(), 22, kAudioUnitScope_Global, 0, 10, 0),
            kAudioUnitErr_InvalidParameter);
  EXPECT_EQ(mEvents.Count(), 0u);
}

TEST_F(VolumeCouplingTest, TheCouplingLooksAtTheIdAlone) {
  // The input element keeps its own parameter map; the id still drives the coupling.
  ASSERT_EQ(Set(kGateParam_MasterVolume, 60, kAudioUnitScope_Input, 0), noErr);
  EXPECT_EQ(mEffect->MasterVolume(), 60.0f);
  EXPECT_EQ(Get(kGateParam_MasterVolume), 100.0f) << "the global value was not the one set";
  EXPECT_EQ(Get(kFifth), 60.0f);
  EXPECT_EQ(mEvents.Count(), 12u);
}

TEST_F(VolumeCouplingTest, RestoreRederivesTheCoupling) {
  ASSERT_EQ(Set(kGateParam_MasterVolume, 80), noErr);
  ASSERT_EQ(Set(kFifth, 50), noErr);
  CFPropertyListRef state = nullptr;
  ASSERT_EQ(mEffect->SaveState(&state), noErr);

  // A fresh instance of the same component restores it.
  auto restored = OpenEffect(mHandle);
  ListenerRecorder listener;
  ASSERT_EQ(
      restored->AddPropertyListener(kAudioUnitProperty_ParameterInfo, ListenerRecorder::Proc, &listener),
      noErr);
  mEvents.Clear();
  ASSERT_EQ(restored->RestoreState(state), noErr);
  CFRelease(state);
  EXPECT_EQ(restored->GetParameter(kGateParam_MasterVolume), 80.0f);
  EXPECT_EQ(restored->MasterVolume(), 80.0f);
  EXPECT_EQ(restored->VolumeOffset(7), -30.0f);
  EXPECT_EQ(restored->VolumeOffset(0), 0.0f);
  EXPECT_EQ(listener.CountFor(kAudioUnitProperty_ParameterInfo), 1u);
  EXPECT_EQ(mEvents.Count(), 0u) << "no parameter events on a restore";

  // The coupling carries on from the restored distances.
  ASSERT_EQ(restored->SetParameter(kGateParam_MasterVolume, kAudioUnitScope_Global, 0, 100, 0), noErr);
  EXPECT_EQ(restored->GetParameter(kFifth), 70.0f);
  EXPECT_EQ(restored->GetParameter(kGateParam_FirstInterval), 100.0f);
}

TEST_F(VolumeCouplingTest, AFailedRestoreLeavesTheCouplingAlone) {
  ASSERT_EQ(Set(kMajorThird, 30), noErr);
  CFMutableDictionaryRef bogus =
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  ListenerRecorder listener;
  ASSERT_EQ(mEffect->AddPropertyListener(kAudioUnitProperty_ParameterInfo, ListenerRecorder::Proc, &listener),
            noErr);
  EXPECT_NE(mEffect->RestoreState(bogus), noErr);
  CFRelease(bogus);
  EXPECT_TRUE(listener.calls.empty());
  EXPECT_EQ(mEffect->VolumeOffset(4), -70.0f);
  EXPECT_EQ(mEffect->MasterVolume(), 100.0f);
}

TEST_F(VolumeCouplingTest, ARestoreFailingPartWayRederivesWhatItApplied) {
  // A state with the master at 80 and the fifth 30 below it, then a record of scope 7.
  ASSERT_EQ(Set(kGateParam_MasterVolume, 80), noErr);
  ASSERT_EQ(Set(kFifth, 50), noErr);
  CFPropertyListRef state = nullptr;
  ASSERT_EQ(mEffect->SaveState(&state), noErr);
  const auto dictionary = static_cast<CFMutableDictionaryRef>(const_cast<void*>(state));
  const auto data = static_cast<CFDataRef>(CFDictionaryGetValue(dictionary, CFSTR("data")));
  std::vector<UInt8> bytes(CFDataGetBytePtr(data), CFDataGetBytePtr(data) + CFDataGetLength(data));
  bytes.insert(bytes.end(), {0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0});
  const CFDataRef broken = CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size()));
  CFDictionarySetValue(dictionary, CFSTR("data"), broken);
  CFRelease(broken);

  ASSERT_EQ(Set(kGateParam_MasterVolume, 100), noErr);
  ASSERT_EQ(Set(kFifth, 100), noErr);
  ListenerRecorder listener;
  ASSERT_EQ(mEffect->AddPropertyListener(kAudioUnitProperty_ParameterInfo, ListenerRecorder::Proc, &listener),
            noErr);
  EXPECT_EQ(mEffect->RestoreState(state), kAudioUnitErr_InvalidScope);
  CFRelease(state);
  EXPECT_EQ(listener.CountFor(kAudioUnitProperty_ParameterInfo), 1u);
  ASSERT_EQ(Set(kGateParam_MasterVolume, 100), noErr);
  EXPECT_EQ(Get(kFifth), 70.0f) << "the restored distance, not the one before the restore";
}

TEST_F(VolumeCouplingTest, AnIntervalIsStoredBeforeItsChangeIsAnnounced) {
  struct Seen {
    Varsile* effect;
    std::vector<Float32> values;
  } seen{mEffect.get(), {}};
  AUEventListenerRef listener = nullptr;
  ASSERT_EQ(AUEventListenerCreateWithCallback(
                [](void* data, void*, const AudioUnitEvent* event, UInt64, AudioUnitParameterValue) {
                  auto& self = *static_cast<Seen*>(data);
                  self.values.push_back(self.effect->GetParameter(event->mArgument.mParameter.mParameterID));
                },
                &seen, &listener),
            noErr);
  AudioUnitEvent any{};
  any.mEventType = kAudioUnitEvent_ParameterValueChange;
  any.mArgument.mParameter.mAudioUnit = mHandle.get();
  any.mArgument.mParameter.mParameterID = kAUEventListener_AnyParameter;
  ASSERT_EQ(AUEventListenerAddEventType(listener, nullptr, &any), noErr);
  ASSERT_EQ(Set(kGateParam_MasterVolume, 40), noErr);
  AUListenerDispose(listener);
  EXPECT_EQ(seen.values, std::vector<Float32>(12, 40.0f));
}

TEST_F(VolumeCouplingTest, ANaNMasterNeverStoresOutsideTheRangeOnceSane) {
  // A NaN master passes through the coupling's clamp unchanged, as the
  // storage accepts anything; once the master is a number again every
  // interval is back within 0..100.
  ASSERT_EQ(Set(kGateParam_MasterVolume, std::numeric_limits<Float32>::quiet_NaN()), noErr);
  ASSERT_EQ(Set(kGateParam_MasterVolume, 70), noErr);
  for (UInt32 n = 0; n < 12; ++n) EXPECT_EQ(Get(kGateParam_FirstInterval + n), 70.0f);
}

}  // namespace
