#include <gtest/gtest.h>

#include "HostFakeComponent.h"

namespace host_test {
namespace {

class HostInstance : public ::testing::Test {
 protected:
  void SetUp() override {
    gFakeLog = FakeComponentLog{};
    static const AudioComponent component = [] {
      const AudioComponentDescription desc = Describe(FourCC("aufx"), FourCC("ins0"), FourCC("In00"));
      return AudioComponentRegister(&desc, CFSTR("Instance test"), 7, RecordingEntry);
    }();
    mComponent = component;
    ASSERT_NE(mComponent, nullptr);
  }

  AudioComponent mComponent = nullptr;
};

TEST_F(HostInstance, OpenPassesTheHandleInWordZeroAndNoStorage) {
  AudioComponentInstance instance = nullptr;
  ASSERT_EQ(AudioComponentInstanceNew(mComponent, &instance), noErr);
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(gFakeLog.opens, 1);
  EXPECT_EQ(gFakeLog.last.what, kComponentOpenSelect);
  EXPECT_EQ(gFakeLog.last.words[0], reinterpret_cast<long>(instance));
  EXPECT_EQ(gFakeLog.last.storage, nullptr);

  EXPECT_EQ(AudioComponentInstanceGetComponent(instance), mComponent);
  ASSERT_NE(gFakeLog.lastOpened, nullptr);
  EXPECT_EQ(GetComponentInstanceStorage(instance), gFakeLog.lastOpened);
  EXPECT_EQ(gFakeLog.lastOpened->handle, instance);

  // The component learns its own description through its handle.
  AudioComponentDescription desc{};
  EXPECT_EQ(AudioComponentGetDescription(AudioComponentInstanceGetComponent(instance), &desc), noErr);
  EXPECT_EQ(desc.componentSubType, FourCC("ins0"));

  FakeUnit* storage = gFakeLog.lastOpened;
  EXPECT_EQ(AudioComponentInstanceDispose(instance), noErr);
  EXPECT_EQ(gFakeLog.closes, 1);
  EXPECT_EQ(gFakeLog.last.what, kComponentCloseSelect);
  EXPECT_EQ(gFakeLog.last.storage, storage);
}

TEST_F(HostInstance, LaterCallsCarryTheStorage) {
  AudioComponentInstance instance = nullptr;
  ASSERT_EQ(AudioComponentInstanceNew(mComponent, &instance), noErr);
  int replacement = 0;
  FakeUnit* original = gFakeLog.lastOpened;
  SetComponentInstanceStorage(instance, &replacement);
  EXPECT_EQ(GetComponentInstanceStorage(instance), &replacement);
  EXPECT_EQ(AudioUnitInitialize(instance), noErr);
  EXPECT_EQ(gFakeLog.last.storage, &replacement);

  ComponentParameters params{};
  params.what = 1234;
  params.params[3] = 99;
  gFakeLog.reply = -4321;
  EXPECT_EQ(CallComponentDispatch(instance, &params), -4321);
  EXPECT_EQ(gFakeLog.last.what, 1234);
  EXPECT_EQ(gFakeLog.last.words[3], 99);
  EXPECT_EQ(gFakeLog.last.storage, &replacement);

  gFakeLog.reply = noErr;
  SetComponentInstanceStorage(instance, original);
  EXPECT_EQ(AudioComponentInstanceDispose(instance), noErr);
}

TEST_F(HostInstance, FailingOpenFreesTheRecordAndReturnsTheStatus) {
  // A leaked record shows up under the leak checker.
  gFakeLog.openStatus = -108;
  AudioComponentInstance instance = reinterpret_cast<AudioComponentInstance>(&gFakeLog);
  EXPECT_EQ(AudioComponentInstanceNew(mComponent, &instance), -108);
  EXPECT_EQ(instance, nullptr);
  EXPECT_EQ(gFakeLog.opens, 1);
  EXPECT_EQ(gFakeLog.closes, 0);
}

TEST_F(HostInstance, DisposeFreesEvenWhenCloseFails) {
  AudioComponentInstance instance = nullptr;
  ASSERT_EQ(AudioComponentInstanceNew(mComponent, &instance), noErr);
  gFakeLog.closeStatus = -1;
  EXPECT_EQ(AudioComponentInstanceDispose(instance), -1);
  EXPECT_EQ(gFakeLog.closes, 1);
}

TEST_F(HostInstance, InstancesAreIndependent) {
  AudioComponentInstance first = nullptr;
  AudioComponentInstance second = nullptr;
  ASSERT_EQ(AudioComponentInstanceNew(mComponent, &first), noErr);
  FakeUnit* firstUnit = gFakeLog.lastOpened;
  ASSERT_EQ(AudioComponentInstanceNew(mComponent, &second), noErr);
  FakeUnit* secondUnit = gFakeLog.lastOpened;
  EXPECT_NE(first, second);
  EXPECT_EQ(GetComponentInstanceStorage(first), firstUnit);
  EXPECT_EQ(GetComponentInstanceStorage(second), secondUnit);
  EXPECT_EQ(AudioComponentInstanceDispose(first), noErr);
  EXPECT_EQ(gFakeLog.last.storage, firstUnit);
  EXPECT_EQ(AudioComponentInstanceDispose(second), noErr);
  EXPECT_EQ(gFakeLog.last.storage, secondUnit);
}

TEST_F(HostInstance, CanDoAsksWithTheSelectorSignExtendedInWordZero) {
  AudioComponentInstance instance = nullptr;
  ASSERT_EQ(AudioComponentInstanceNew(mComponent, &instance), noErr);
  gFakeLog.reply = 1;
  EXPECT_TRUE(AudioComponentInstanceCanDo(instance, kComponentCloseSelect));
  EXPECT_EQ(gFakeLog.last.what, kComponentCanDoSelect);
  EXPECT_EQ(gFakeLog.last.words[0], -2L);
  EXPECT_TRUE(AudioComponentInstanceCanDo(instance, kAudioUnitRenderSelect));
  EXPECT_EQ(gFakeLog.last.words[0], 14L);

  gFakeLog.reply = 0;
  EXPECT_FALSE(AudioComponentInstanceCanDo(instance, kAudioUnitRemovePropertyListenerSelect));
  // A component that refuses the can-do selector itself cannot do anything.
  gFakeLog.reply = badComponentSelector;
  EXPECT_FALSE(AudioComponentInstanceCanDo(instance, kAudioUnitRenderSelect));
  gFakeLog.reply = noErr;
  EXPECT_EQ(AudioComponentInstanceDispose(instance), noErr);
}

TEST_F(HostInstance, NullAndUnknownHandlesGiveAStatus) {
  AudioComponentInstance instance = nullptr;
  EXPECT_EQ(AudioComponentInstanceNew(nullptr, &instance), kAudio_ParamError);
  EXPECT_EQ(AudioComponentInstanceNew(mComponent, nullptr), kAudio_ParamError);
  int notAComponent = 0;
  EXPECT_EQ(AudioComponentInstanceNew(reinterpret_cast<AudioComponent>(&notAComponent), &instance),
            invalidComponentID);
  EXPECT_EQ(instance, nullptr);
  EXPECT_EQ(gFakeLog.calls, 0);

  EXPECT_EQ(AudioComponentInstanceDispose(nullptr), kAudio_ParamError);
  EXPECT_EQ(AudioComponentInstanceGetComponent(nullptr), nullptr);
  EXPECT_FALSE(AudioComponentInstanceCanDo(nullptr, kAudioUnitRenderSelect));
  SetComponentInstanceStorage(nullptr, &notAComponent);
  EXPECT_EQ(GetComponentInstanceStorage(nullptr), nullptr);
  ComponentParameters params{};
  EXPECT_EQ(CallComponentDispatch(nullptr, &params), kAudio_ParamError);

  ASSERT_EQ(AudioComponentInstanceNew(mComponent, &instance), noErr);
  EXPECT_EQ(CallComponentDispatch(instance, nullptr), kAudio_ParamError);
  EXPECT_EQ(AudioComponentInstanceDispose(instance), noErr);
}

}  // namespace
}  // namespace host_test
