#include <Varsile/CoreTypes.h>
#include <gtest/gtest.h>

#include "HostTestSupport.h"

namespace {

using varsile::CanonicalFormat;
using varsile::host::AudioUnitHandle;
using varsile::host::HostError;

TEST(AudioUnitHandle, OpensAndDisposesOfTheInstance) {
  {
    AudioUnitHandle unit = hosttest::OpenGate();
    ASSERT_TRUE(unit);
    EXPECT_EQ(AudioComponentInstanceGetComponent(unit.Get()), hosttest::GateComponent());
    // Moving hands the instance over; the old handle is empty.
    AudioUnitHandle moved = std::move(unit);
    EXPECT_FALSE(unit);
    EXPECT_TRUE(moved);
    AudioUnitHandle assigned;
    assigned = std::move(moved);
    EXPECT_TRUE(assigned);
  }
}

TEST(AudioUnitHandle, OpeningNoComponentIsAnError) {
  EXPECT_THROW(AudioUnitHandle::Open(nullptr), HostError);
}

TEST(AudioUnitHandle, TypedPropertiesRoundTrip) {
  AudioUnitHandle unit = hosttest::OpenGate();
  const AudioStreamBasicDescription format = CanonicalFormat(48000.0, 3);
  unit.SetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, format);
  const auto back = unit.GetProperty<AudioStreamBasicDescription>(kAudioUnitProperty_StreamFormat,
                                                                  kAudioUnitScope_Input, 0);
  EXPECT_EQ(back.mSampleRate, 48000.0);
  EXPECT_EQ(back.mChannelsPerFrame, 3u);
  const UInt32 frames = 777;
  unit.SetProperty(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, frames);
  EXPECT_EQ(unit.GetProperty<UInt32>(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0),
            777u);
}

TEST(AudioUnitHandle, FailuresNameTheCallAndTheStatus) {
  AudioUnitHandle unit = hosttest::OpenGate();
  unit.Initialize();
  EXPECT_TRUE(unit.IsInitialized());
  try {
    unit.SetProperty(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, UInt32{64});
    FAIL() << "no throw";
  } catch (const HostError& error) {
    EXPECT_EQ(error.Status(), kAudioUnitErr_Initialized);
    EXPECT_STREQ(
        error.what(),
        "setting property MaximumFramesPerSlice (scope 0, element 0): kAudioUnitErr_Initialized (-10849)");
  }
  try {
    unit.GetParameter(99);
    FAIL() << "no throw";
  } catch (const HostError& error) {
    EXPECT_STREQ(error.what(), "getting parameter 99: kAudioUnitErr_InvalidParameter (-10878)");
  }
  unit.Uninitialize();
  EXPECT_FALSE(unit.IsInitialized());
}

TEST(AudioUnitHandle, ARecordOfTheWrongSizeIsRefusedNotHalfFilled) {
  AudioUnitHandle unit = hosttest::OpenGate();
  try {
    unit.GetProperty<UInt64>(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0);
    FAIL() << "no throw";
  } catch (const HostError& error) {
    EXPECT_EQ(error.Status(), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_NE(std::string(error.what()).find("reports 4 bytes, not 8"), std::string::npos) << error.what();
  }
}

TEST(AudioUnitHandle, ParametersAndCopiedValuesLeakNothing) {
  hosttest::GateComponent();  // the registry keeps the component's name for good
  const CFIndex live = CFLiveObjectCount();
  {
    AudioUnitHandle unit = hosttest::OpenGate();
    unit.SetParameter(14, 0.5f);
    EXPECT_EQ(unit.GetParameter(14), 0.5f);
    const auto state =
        unit.CopyProperty<CFPropertyListRef>(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0);
    ASSERT_TRUE(state);
    EXPECT_EQ(CFGetTypeID(state.Get()), CFDictionaryGetTypeID());
  }
  EXPECT_EQ(CFLiveObjectCount(), live);
}

}  // namespace
