// The records cross the component boundary as raw bytes: their layout is fixed.
#include <Accelerate/Accelerate.h>
#include <AudioToolbox/AudioToolbox.h>
#include <gtest/gtest.h>

#include <cstddef>

TEST(RecordLayout, SizesAndOffsetsMatchTheInterface) {
  EXPECT_EQ(sizeof(AudioStreamBasicDescription), 40u);
  EXPECT_EQ(sizeof(AudioBufferList) - sizeof(AudioBuffer), 8u);
  EXPECT_EQ(sizeof(AudioUnitParameterEvent), 32u);
  EXPECT_EQ(sizeof(AudioUnitParameterInfo), 104u);
  EXPECT_EQ(sizeof(AudioUnitConnection), 16u);
  EXPECT_EQ(sizeof(AURenderCallbackStruct), 16u);
  EXPECT_EQ(sizeof(AudioUnitExternalBuffer), 16u);
  EXPECT_EQ(sizeof(HostCallbackInfo), 32u);
  EXPECT_EQ(sizeof(AUPreset), 16u);
  EXPECT_EQ(sizeof(AudioUnitParameterNameInfo), 16u);
  EXPECT_EQ(sizeof(AUChannelInfo), 4u);
  EXPECT_EQ(offsetof(AudioChannelLayout, mChannelDescriptions) + 3 * sizeof(AudioChannelDescription), 12u + 60u);
  EXPECT_EQ(sizeof(AudioComponentDescription), 20u);
  EXPECT_EQ(offsetof(ComponentParameters, what), 2u);
  EXPECT_EQ(offsetof(ComponentParameters, params), 8u);
  EXPECT_EQ(offsetof(AudioTimeStamp, mSampleTime), 0u);
  EXPECT_EQ(offsetof(AudioUnitParameterEvent, eventValues.ramp.endValue), 28u);
  EXPECT_EQ(sizeof(AudioUnitEvent), 32u);
}

TEST(RecordLayout, StatusCodesHaveThePlatformValues) {
  EXPECT_EQ(badComponentSelector, -2147450878);
  EXPECT_EQ(kAudioUnitErr_InvalidScope, -10866);
  EXPECT_EQ(kAudioUnitProperty_LastRenderedSampleTime, 1819439988u);
  EXPECT_EQ(kAudioFormatLinearPCM, 0x6C70636Du);
}
