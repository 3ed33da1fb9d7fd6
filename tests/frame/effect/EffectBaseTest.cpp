// The effect base: channel configurations, kernel upkeep, the bypass and
// in-place properties, render with and without slices, silence, and buffer
// lists that do not match the kernels.
#include <cmath>
#include <limits>
#include <vector>

#include "FrameTestSupport.h"
#include "ParameterEvents.h"
#include "TestGainEffect.h"

using namespace frametest;

namespace {

constexpr UInt32 kSilence = kAudioUnitRenderAction_OutputIsSilence;

AudioUnitParameterEvent GainAt(UInt32 offset, Float32 value) {
  return testevents::ImmediateEvent(TestGainEffect::kGain, offset, value);
}

class EffectBaseTest : public CFLeakCheck {
 protected:
  void TearDown() override {
    if (fx) Close(fx);
    CFLeakCheck::TearDown();
  }

  // An effect with the given channel counts, fed by `source`.
  TestGainEffect& Make(bool inPlace = true, UInt32 in = 2, UInt32 out = 2, Float64 rate = 44100.0) {
    if (fx) Close(fx);
    fx = Open<TestGainEffect>(nullptr, inPlace);
    fx->GetInput(0)->SetStreamFormat(varsile::CanonicalFormat(rate, in));
    fx->GetOutput(0)->SetStreamFormat(varsile::CanonicalFormat(rate, out));
    fx->GetInput(0)->SetInputCallback(&InputSource::Proc, &source);
    return *fx;
  }
  TestGainEffect& MakeInitialized(bool inPlace = true, UInt32 channels = 2) {
    Make(inPlace, channels, channels);
    EXPECT_EQ(fx->DoInitialize(), noErr);
    return *fx;
  }
  OSStatus InitializeWith(UInt32 in, UInt32 out, std::vector<AUChannelInfo> configurations) {
    Make(true, in, out);
    fx->mConfigurations = std::move(configurations);
    return fx->DoInitialize();
  }

  // Renders into the output element's own memory.
  OSStatus RenderOwn(UInt32 frames, AudioUnitRenderActionFlags flags = 0) {
    fx->GetOutput(0)->PrepareBuffer(frames);
    mFlags = flags;
    return fx->Render(mFlags, mTimeStamp, frames);
  }
  // Renders into host memory, as the render cycle does with host buffers.
  OSStatus RenderInto(HostList& host, UInt32 frames, AudioUnitRenderActionFlags flags = 0) {
    fx->GetOutput(0)->SetBufferList(host.list());
    mFlags = flags;
    return fx->Render(mFlags, mTimeStamp, frames);
  }
  AudioBufferList& InputList() { return fx->GetInput(0)->GetBufferList(); }
  AudioBufferList& OutputList() { return fx->GetOutput(0)->GetBufferList(); }
  static const Float32* Samples(const AudioBufferList& list, UInt32 buffer) {
    return static_cast<const Float32*>(list.mBuffers[buffer].mData);
  }
  // Every sample of buffer b of `list` over frames [from, to) is input * gain.
  static void ExpectGain(const Float32* samples, UInt32 b, UInt32 from, UInt32 to, Float32 gain) {
    for (UInt32 i = from; i < to; ++i) {
      ASSERT_EQ(samples[i], InputSource::Sample(b, i) * gain) << "buffer " << b << " frame " << i;
    }
  }

  std::unique_ptr<TestGainEffect> fx;
  InputSource source;
  AudioUnitRenderActionFlags mFlags = 0;
  AudioTimeStamp mTimeStamp{};
};

// ---- Channel configurations and kernels ----

TEST_F(EffectBaseTest, EqualChannelCountsWithoutPublishedConfigurations) {
  EXPECT_EQ(InitializeWith(2, 2, {}), noErr);
  ASSERT_EQ(fx->GetNumberOfKernels(), 2u);
  EXPECT_EQ(fx->GetKernel(0)->GetChannelNum(), 0u);
  EXPECT_EQ(fx->GetKernel(1)->GetChannelNum(), 1u);

  for (auto [in, out] : {std::pair{1u, 2u}, std::pair{0u, 0u}, std::pair{2u, 1u}}) {
    EXPECT_EQ(InitializeWith(in, out, {}), kAudioUnitErr_FormatNotSupported) << in << "/" << out;
    EXPECT_EQ(fx->GetNumberOfKernels(), 0u);
    EXPECT_EQ(fx->mKernelsMade, 0);
    EXPECT_FALSE(fx->IsInitialized());
  }
}

TEST_F(EffectBaseTest, PublishedConfigurations) {
  struct Case {
    UInt32 in, out;
    std::vector<AUChannelInfo> configurations;
    bool accepted;
  };
  const Case cases[] = {
      {2, 2, {{-1, -1}}, true}, {1, 2, {{-1, -1}}, false},         {1, 2, {{-1, 2}}, true},
      {5, 2, {{-1, 2}}, true},  {1, 3, {{-1, 2}}, false},          {1, 3, {{-1, -2}}, true},
      {4, 1, {{-2, -1}}, true}, {2, 2, {{-3, -3}}, false},         {2, 2, {{-1, -3}}, false},
      {3, 1, {{3, -1}}, true},  {2, 2, {{1, 1}, {2, 2}}, true},    {2, 2, {{1, 1}, {4, 4}}, false},
      {0, 0, {{0, 0}}, true},   {2, 3, {{2, 2}, {-1, -1}}, false},
  };
  for (const Case& c : cases) {
    const OSStatus status = InitializeWith(c.in, c.out, c.configurations);
    EXPECT_EQ(status, c.accepted ? OSStatus{noErr} : OSStatus{kAudioUnitErr_FormatNotSupported})
        << c.in << "/" << c.out;
    EXPECT_EQ(fx->GetNumberOfKernels(), c.accepted ? c.out : 0u) << c.in << "/" << c.out;
  }
}

TEST_F(EffectBaseTest, KernelUpkeepKeepsExistingKernels) {
  MakeInitialized();
  AUKernelBase* first = fx->GetKernel(0);
  AUKernelBase* second = fx->GetKernel(1);

  fx->GetOutput(0)->SetStreamFormat(varsile::CanonicalFormat(44100.0, 4));
  fx->MaintainKernels();
  ASSERT_EQ(fx->GetNumberOfKernels(), 4u);
  EXPECT_EQ(fx->GetKernel(0), first);
  EXPECT_EQ(fx->GetKernel(1), second);
  for (UInt32 i = 0; i < 4; ++i) EXPECT_EQ(fx->GetKernel(i)->GetChannelNum(), i);
  EXPECT_EQ(fx->mKernelsMade, 4);

  fx->GetOutput(0)->SetStreamFormat(varsile::CanonicalFormat(44100.0, 1));
  fx->MaintainKernels();
  ASSERT_EQ(fx->GetNumberOfKernels(), 1u);
  EXPECT_EQ(fx->GetKernel(0), first);

  // Cleanup deletes them all; the next initialization makes new ones.
  fx->GetOutput(0)->SetStreamFormat(varsile::CanonicalFormat(44100.0, 2));
  fx->DoCleanup();
  EXPECT_EQ(fx->GetNumberOfKernels(), 0u);
  ASSERT_EQ(fx->DoInitialize(), noErr);
  EXPECT_EQ(fx->GetNumberOfKernels(), 2u);
  EXPECT_EQ(fx->mKernelsMade, 6);
}

TEST_F(EffectBaseTest, ANullKernelLeavesItsChannelAlone) {
  Make(false);
  fx->mNullKernelCalls = {1};
  ASSERT_EQ(fx->DoInitialize(), noErr);
  ASSERT_EQ(fx->GetNumberOfKernels(), 2u);
  EXPECT_EQ(fx->GetKernel(1), nullptr);
  EXPECT_EQ(fx->GetKernel(0)->GetChannelNum(), 0u);

  HostList host(2, 32 * 4, true, -7.0f);
  EXPECT_EQ(RenderInto(host, 32), noErr);
  ASSERT_EQ(fx->mCalls.size(), 1u);
  EXPECT_EQ(fx->mCalls[0].channel, 0u);
  ExpectGain(host.memory(0).data(), 0, 0, 32, 1.0f);
  for (Float32 s : host.memory(1)) ASSERT_EQ(s, -7.0f);
  EXPECT_EQ(mFlags & kSilence, 0u);
}

TEST_F(EffectBaseTest, ResetReachesEveryKernelAndTheRenderTime) {
  MakeInitialized();
  EXPECT_EQ(fx->Reset(kAudioUnitScope_Global, 0), noErr);
  EXPECT_EQ(fx->Kernel(0)->mResets, 1);
  EXPECT_EQ(fx->Kernel(1)->mResets, 1);
  EXPECT_EQ(fx->GetLastRenderSampleTime(), kNoLastRenderedSampleTime);
}

TEST_F(EffectBaseTest, KernelFacingOperations) {
  Make(true, 2, 2, 48000.0);
  EXPECT_EQ(fx->GetSampleRate(), 48000.0);
  fx->SetParameter(TestGainEffect::kGain, 0.5f);
  EXPECT_EQ(fx->GetParameter(TestGainEffect::kGain), 0.5f);
  EXPECT_EQ(Thrown([&] { fx->GetParameter(TestGainEffect::kNumParameters); }),
            kAudioUnitErr_InvalidParameter);
  EXPECT_TRUE(fx->StreamFormatWritable(kAudioUnitScope_Input, 0));
  ASSERT_EQ(fx->DoInitialize(), noErr);
  EXPECT_FALSE(fx->StreamFormatWritable(kAudioUnitScope_Output, 0));

  fx->Outputs().SetNumberOfElements(0);
  EXPECT_EQ(Thrown([&] { fx->GetSampleRate(); }), kAudioUnitErr_InvalidElement);
}

// ---- Properties ----

TEST_F(EffectBaseTest, BypassAndInPlaceProperties) {
  Make();
  for (AudioUnitPropertyID id : {kAudioUnitProperty_BypassEffect, kAudioUnitProperty_InPlaceProcessing}) {
    UInt32 size = 0;
    Boolean writable = false;
    EXPECT_EQ(fx->GetPropertyInfo(id, kAudioUnitScope_Global, 0, size, writable), noErr);
    EXPECT_EQ(size, 4u);
    EXPECT_TRUE(writable);
    EXPECT_EQ(fx->GetPropertyInfo(id, kAudioUnitScope_Input, 0, size, writable),
              kAudioUnitErr_InvalidProperty);
  }
  UInt32 value = 7;
  EXPECT_EQ(fx->GetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &value), noErr);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(fx->GetProperty(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0, &value), noErr);
  EXPECT_EQ(value, 1u);

  const UInt32 two = 2;
  EXPECT_EQ(fx->SetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &two, 4), noErr);
  EXPECT_TRUE(fx->ShouldBypassEffect());
  EXPECT_EQ(fx->GetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &value), noErr);
  EXPECT_EQ(value, 1u);

  const UInt32 zero = 0;
  EXPECT_EQ(fx->SetProperty(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0, &zero, 4),
            noErr);
  EXPECT_FALSE(fx->ProcessesInPlace());

  // Short values are refused for both.
  EXPECT_EQ(fx->SetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &zero, 3),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_TRUE(fx->ShouldBypassEffect());
  EXPECT_EQ(fx->SetProperty(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0, &two, 2),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_FALSE(fx->ProcessesInPlace());

  EXPECT_EQ(fx->SetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Output, 0, &zero, 4),
            kAudioUnitErr_InvalidProperty);
}

TEST_F(EffectBaseTest, SwitchingBypassOffResetsTheKernelsOfAnInitializedEffect) {
  Make();
  const UInt32 on = 1, off = 0;
  // Uninitialized: no reset either way.
  fx->SetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &on, 4);
  fx->SetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &off, 4);
  EXPECT_EQ(fx->mResetCalls, 0);

  ASSERT_EQ(fx->DoInitialize(), noErr);
  fx->SetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &on, 4);
  fx->SetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &on, 4);
  EXPECT_EQ(fx->mResetCalls, 0);
  EXPECT_EQ(fx->Kernel(0)->mResets, 0);
  fx->SetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &off, 4);
  // A render may be running: the render thread resets the kernels, before it next processes.
  EXPECT_EQ(fx->Kernel(0)->mResets, 0);
  ASSERT_EQ(RenderOwn(16), noErr);
  EXPECT_EQ(fx->Kernel(0)->mResets, 1);
  EXPECT_EQ(fx->Kernel(1)->mResets, 1);
  fx->SetProperty(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &off, 4);
  ASSERT_EQ(RenderOwn(16), noErr);
  EXPECT_EQ(fx->Kernel(0)->mResets, 1);
}

// ---- Render ----

TEST_F(EffectBaseTest, RenderNeedsAnInputSourceAndStopsAtAFailingPull) {
  MakeInitialized(false);
  fx->GetInput(0)->SetInputCallback(nullptr, nullptr);
  HostList host(2, 16 * 4, true, -3.0f);
  EXPECT_EQ(RenderInto(host, 16), kAudioUnitErr_NoConnection);
  for (UInt32 c = 0; c < 2; ++c)
    for (Float32 s : host.memory(c)) ASSERT_EQ(s, -3.0f);

  fx->GetInput(0)->SetInputCallback(&InputSource::Proc, &source);
  source.status = -9;
  EXPECT_EQ(RenderInto(host, 16), -9);
  EXPECT_TRUE(fx->mCalls.empty());
  for (Float32 s : host.memory(0)) ASSERT_EQ(s, -3.0f);
}

TEST_F(EffectBaseTest, InPlaceRenderWritesIntoTheInputBuffers) {
  MakeInitialized(true);
  fx->SetParameter(TestGainEffect::kGain, 2.0f);
  EXPECT_EQ(RenderOwn(64), noErr);
  EXPECT_EQ(fx->mProcessCalls, 1);
  ASSERT_EQ(fx->mCalls.size(), 2u);
  for (UInt32 c = 0; c < 2; ++c) {
    const KernelCall& call = fx->mCalls[c];
    EXPECT_EQ(call.channel, c);
    EXPECT_EQ(call.frames, 64u);
    EXPECT_EQ(call.stride, 1u);
    EXPECT_EQ(call.source, call.destination);
    EXPECT_EQ(call.source, Samples(InputList(), c));
    EXPECT_EQ(OutputList().mBuffers[c].mData, InputList().mBuffers[c].mData);
    ExpectGain(Samples(OutputList(), c), c, 0, 64, 2.0f);
  }
}

TEST_F(EffectBaseTest, RenderOutOfPlaceWritesTheOutputBuffers) {
  MakeInitialized(false);
  fx->SetParameter(TestGainEffect::kGain, 0.5f);
  HostList host(2, 64 * 4, true, 0.0f);
  EXPECT_EQ(RenderInto(host, 64), noErr);
  ASSERT_EQ(fx->mCalls.size(), 2u);
  for (UInt32 c = 0; c < 2; ++c) {
    EXPECT_EQ(fx->mCalls[c].destination, host.memory(c).data());
    EXPECT_NE(fx->mCalls[c].source, fx->mCalls[c].destination);
    ExpectGain(host.memory(c).data(), c, 0, 64, 0.5f);
    ExpectGain(Samples(InputList(), c), c, 0, 64, 1.0f);  // the input is left as it came
  }
}

TEST_F(EffectBaseTest, InPlaceWithAnOutputThatDoesNotAllocateWritesTheHostBuffers) {
  Make(true);
  fx->GetOutput(0)->SetWillAllocateBuffer(false);
  ASSERT_EQ(fx->DoInitialize(), noErr);
  fx->SetParameter(TestGainEffect::kGain, 3.0f);
  HostList host(2, 32 * 4, true, -1.0f);
  EXPECT_EQ(RenderInto(host, 32), noErr);
  for (UInt32 c = 0; c < 2; ++c) ExpectGain(host.memory(c).data(), c, 0, 32, 3.0f);
}

// ---- Bypass ----

TEST_F(EffectBaseTest, BypassInPlaceHandsOverTheInputBuffers) {
  MakeInitialized(true);
  fx->SetParameter(TestGainEffect::kGain, 2.0f);
  fx->SetBypassEffect(true);
  EXPECT_EQ(RenderOwn(48), noErr);
  EXPECT_TRUE(fx->mCalls.empty());
  EXPECT_EQ(fx->mProcessCalls, 0);
  for (UInt32 c = 0; c < 2; ++c) {
    EXPECT_EQ(OutputList().mBuffers[c].mData, InputList().mBuffers[c].mData);
    ExpectGain(Samples(OutputList(), c), c, 0, 48, 1.0f);
  }
}

TEST_F(EffectBaseTest, BypassOutOfPlaceCopiesTheInput) {
  MakeInitialized(false);
  fx->SetParameter(TestGainEffect::kGain, 2.0f);
  fx->SetBypassEffect(true);
  HostList host(2, 48 * 4, true, -5.0f);
  EXPECT_EQ(RenderInto(host, 48), noErr);
  EXPECT_TRUE(fx->mCalls.empty());
  for (UInt32 c = 0; c < 2; ++c) ExpectGain(host.memory(c).data(), c, 0, 48, 1.0f);
}

TEST_F(EffectBaseTest, BypassInPlaceStillDeliversTheInputWhenTheOutputDoesNotAllocate) {
  Make(true);
  fx->GetOutput(0)->SetWillAllocateBuffer(false);
  ASSERT_EQ(fx->DoInitialize(), noErr);
  fx->SetBypassEffect(true);
  HostList host(2, 48 * 4, true, -5.0f);
  EXPECT_EQ(RenderInto(host, 48), noErr);
  EXPECT_TRUE(fx->mCalls.empty());
  for (UInt32 c = 0; c < 2; ++c) ExpectGain(host.memory(c).data(), c, 0, 48, 1.0f);
}

// ---- Slices ----

TEST_F(EffectBaseTest, ThreePendingEventsCutTheRenderAndThePointersComeBack) {
  MakeInitialized(false);
  const AudioUnitParameterEvent events[] = {GainAt(40, 3.0f), GainAt(0, 1.0f), GainAt(16, 2.0f)};
  ASSERT_EQ(fx->ScheduleParameter(events, 3), noErr);
  HostList host(2, 64 * 4, true, 0.0f);
  EXPECT_EQ(RenderInto(host, 64), noErr);

  EXPECT_EQ(fx->mProcessCalls, 3);
  ASSERT_EQ(fx->mCalls.size(), 6u);
  const UInt32 starts[] = {0, 16, 40};
  const UInt32 lengths[] = {16, 24, 24};
  for (UInt32 s = 0; s < 3; ++s) {
    for (UInt32 c = 0; c < 2; ++c) {
      const KernelCall& call = fx->mCalls[s * 2 + c];
      EXPECT_EQ(call.channel, c);
      EXPECT_EQ(call.frames, lengths[s]);
      EXPECT_EQ(call.gain, static_cast<Float32>(s + 1));
      EXPECT_EQ(call.gainEvent.mSliceFrames, lengths[s]);
      EXPECT_EQ(call.destination, host.memory(c).data() + starts[s]);
      EXPECT_EQ(call.source, Samples(InputList(), c) + starts[s]);
      ExpectGain(host.memory(c).data(), c, starts[s], starts[s] + lengths[s], static_cast<Float32>(s + 1));
    }
  }
  for (AudioBufferList* list : {&InputList(), &OutputList()}) {
    for (UInt32 c = 0; c < 2; ++c) EXPECT_EQ(list->mBuffers[c].mDataByteSize, 64u * 4u);
  }
  EXPECT_EQ(OutputList().mBuffers[0].mData, host.memory(0).data());
  EXPECT_EQ(OutputList().mBuffers[1].mData, host.memory(1).data());
  EXPECT_EQ(fx->mPendingEvents.size(), 3u);  // the render cycle empties them, not the effect
}

TEST_F(EffectBaseTest, InPlaceSlicesRestoreBothLists) {
  MakeInitialized(true);
  const AudioUnitParameterEvent events[] = {GainAt(5, 2.0f)};
  ASSERT_EQ(fx->ScheduleParameter(events, 1), noErr);
  EXPECT_EQ(RenderOwn(20), noErr);
  ASSERT_EQ(fx->mCalls.size(), 4u);
  for (UInt32 c = 0; c < 2; ++c) {
    EXPECT_EQ(InputList().mBuffers[c].mData, OutputList().mBuffers[c].mData);
    EXPECT_EQ(InputList().mBuffers[c].mDataByteSize, 80u);
    EXPECT_EQ(fx->mCalls[c].source, Samples(InputList(), c));
    EXPECT_EQ(fx->mCalls[2 + c].source, Samples(InputList(), c) + 5);
    // The immediate event was stored at once, so the first slice already sees 2.
    ExpectGain(Samples(OutputList(), c), c, 0, 20, 2.0f);
  }
}

TEST_F(EffectBaseTest, AFailingSliceEndsTheRenderWithoutTouchingMemoryBeforeTheBuffers) {
  MakeInitialized(false);
  fx->mFailAtProcessCall = 2;
  source.claimSilence = true;
  const AudioUnitParameterEvent events[] = {GainAt(0, 1.0f), GainAt(16, 2.0f), GainAt(32, 3.0f)};
  ASSERT_EQ(fx->ScheduleParameter(events, 3), noErr);
  HostList host(2, 64 * 4, true, -6.0f);
  EXPECT_EQ(RenderInto(host, 64), TestGainEffect::kFailure);
  EXPECT_EQ(fx->mProcessCalls, 2);
  ExpectGain(host.memory(0).data(), 0, 0, 16, 1.0f);
  for (UInt32 i = 32; i < 64; ++i) ASSERT_EQ(host.memory(0)[i], -6.0f);
}

TEST_F(EffectBaseTest, ABadlyScopedRampCannotStopTheAudio) {
  MakeInitialized(false);
  AudioUnitParameterEvent bad{};
  bad.scope = 9;
  bad.eventType = kParameterEvent_Ramped;
  bad.eventValues.ramp = {0, 16, 0.0f, 1.0f};
  EXPECT_EQ(fx->ScheduleParameter(&bad, 1), kAudioUnitErr_InvalidScope);
  EXPECT_TRUE(fx->mPendingEvents.empty());
  HostList host(2, 16 * 4, true, 0.0f);
  EXPECT_EQ(RenderInto(host, 16), noErr);
  EXPECT_EQ(RenderInto(host, 16), noErr);
}

TEST_F(EffectBaseTest, ThroughTheRenderCycle) {
  MakeInitialized(true);
  const AudioUnitParameterEvent events[] = {GainAt(0, 1.0f), GainAt(32, 4.0f)};
  ASSERT_EQ(fx->ScheduleParameter(events, 2), noErr);
  HostList host(2, 64 * 4, true, 0.0f);
  AudioUnitRenderActionFlags flags = 0;
  AudioTimeStamp stamp{};
  EXPECT_EQ(AudioUnitBaseRender(fx.get(), &flags, &stamp, 0, 64, &host.list()), noErr);
  EXPECT_TRUE(fx->mPendingEvents.empty());
  for (UInt32 c = 0; c < 2; ++c) {
    ExpectGain(host.memory(c).data(), c, 0, 32, 1.0f);
    ExpectGain(host.memory(c).data(), c, 32, 64, 4.0f);
    EXPECT_EQ(host.list().mBuffers[c].mData, host.memory(c).data());
    EXPECT_EQ(host.list().mBuffers[c].mDataByteSize, 256u);
  }
}

// ---- Silence ----

TEST_F(EffectBaseTest, SilentInputKeptSilentIsFlaggedAndZeroFilled) {
  MakeInitialized(false);
  source.claimSilence = true;  // the samples are not zero: the fill must do it
  HostList host(2, 32 * 4, true, -2.0f);
  EXPECT_EQ(RenderInto(host, 32), noErr);
  EXPECT_NE(mFlags & kSilence, 0u);
  ASSERT_EQ(fx->mCalls.size(), 2u);
  EXPECT_TRUE(fx->mCalls[0].silenceIn);
  for (UInt32 c = 0; c < 2; ++c)
    for (Float32 s : host.memory(c)) ASSERT_EQ(s, 0.0f);
}

TEST_F(EffectBaseTest, AKernelThatMakesSoundClearsTheSilenceFlag) {
  MakeInitialized(false);
  source.claimSilence = true;
  fx->mKernelsKeepSilence = false;
  HostList host(2, 32 * 4, true, -2.0f);
  EXPECT_EQ(RenderInto(host, 32), noErr);
  EXPECT_EQ(mFlags & kSilence, 0u);
  ExpectGain(host.memory(1).data(), 1, 0, 32, 1.0f);
}

TEST_F(EffectBaseTest, InPlaceSilenceIsNotFilled) {
  MakeInitialized(true);
  source.claimSilence = true;
  EXPECT_EQ(RenderOwn(32), noErr);
  EXPECT_NE(mFlags & kSilence, 0u);
  ExpectGain(Samples(OutputList(), 0), 0, 0, 32, 1.0f);
}

TEST_F(EffectBaseTest, InPlaceSilenceIntoHostMemoryIsFilled) {
  Make(true);
  fx->GetOutput(0)->SetWillAllocateBuffer(false);
  ASSERT_EQ(fx->DoInitialize(), noErr);
  source.claimSilence = true;
  HostList host(2, 32 * 4, true, -2.0f);
  EXPECT_EQ(RenderInto(host, 32), noErr);
  EXPECT_NE(mFlags & kSilence, 0u);
  for (Float32 s : host.memory(0)) ASSERT_EQ(s, 0.0f);
}

TEST_F(EffectBaseTest, SoundingInputIsNeverReportedSilent) {
  MakeInitialized(false);
  HostList host(2, 32 * 4, true, -2.0f);
  EXPECT_EQ(RenderInto(host, 32), noErr);
  EXPECT_FALSE(fx->mCalls[0].silenceIn);
  EXPECT_EQ(mFlags & kSilence, 0u);
}

TEST_F(EffectBaseTest, SilenceIsHeardOnlyAfterTheTail) {
  Make(true, 2, 2, 1000.0);
  fx->mTailTime = 0.01;  // 10 frames
  EXPECT_FALSE(fx->IsInputSilent(kSilence, 4));
  EXPECT_FALSE(fx->IsInputSilent(kSilence, 4));
  EXPECT_FALSE(fx->IsInputSilent(kSilence, 4));
  EXPECT_TRUE(fx->IsInputSilent(kSilence, 4));
  EXPECT_TRUE(fx->IsInputSilent(kSilence, 4));
  // Sound re-arms the countdown.
  EXPECT_FALSE(fx->IsInputSilent(0, 4));
  EXPECT_FALSE(fx->IsInputSilent(kSilence, 4));
  EXPECT_EQ(fx->mSilenceCountdown, 6);

  // A buffer longer than the count cannot wrap it round to a positive number.
  EXPECT_FALSE(fx->IsInputSilent(kSilence, std::numeric_limits<UInt32>::max()));
  EXPECT_LT(fx->mSilenceCountdown, 0);
  EXPECT_TRUE(fx->IsInputSilent(kSilence, 4));
}

TEST_F(EffectBaseTest, SilenceCountdownSurvivesNonsenseTailTimes) {
  Make(true, 2, 2, 1000.0);
  struct Case {
    Float64 tail;
    bool silentAtOnce;
  };
  for (const Case& c : {Case{std::nan(""), true}, Case{-1.0, true}, Case{1e300, false},
                        Case{std::numeric_limits<Float64>::infinity(), false},
                        Case{-std::numeric_limits<Float64>::infinity(), true}}) {
    fx->mTailTime = c.tail;
    fx->IsInputSilent(0, 1);  // re-arm
    EXPECT_EQ(fx->IsInputSilent(kSilence, 1), c.silentAtOnce) << c.tail;
  }
}

// ---- Buffer lists that do not match the kernels ----

TEST_F(EffectBaseTest, InterleavedBuffersGiveEachKernelItsChannel) {
  MakeInitialized(false);
  std::vector<Float32> in(2 * 8), out(2 * 8, 0.0f);
  for (UInt32 i = 0; i < in.size(); ++i) in[i] = static_cast<Float32>(i);
  HostList input(1, 0, false), output(1, 0, false);
  input.Set(0, 2, in);
  output.Set(0, 2, out);
  fx->SetParameter(TestGainEffect::kGain, 2.0f);
  AudioUnitRenderActionFlags flags = 0;
  EXPECT_EQ(fx->ProcessBufferLists(flags, input.list(), output.list(), 8), noErr);
  ASSERT_EQ(fx->mCalls.size(), 2u);
  EXPECT_EQ(fx->mCalls[0].source, in.data());
  EXPECT_EQ(fx->mCalls[1].source, in.data() + 1);
  EXPECT_EQ(fx->mCalls[1].destination, out.data() + 1);
  EXPECT_EQ(fx->mCalls[1].stride, 2u);
  for (UInt32 i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], 2.0f * static_cast<Float32>(i));
}

TEST_F(EffectBaseTest, KernelsBeyondTheListsBuffersOrChannelsAreSkipped) {
  MakeInitialized(false);  // two kernels
  std::vector<Float32> a(8, 1.0f), b(8, 1.0f), wide(16, 1.0f), narrow(8, 1.0f);
  AudioUnitRenderActionFlags flags = 0;

  // One buffer of one channel: only kernel 0 fits.
  HostList mono(1, 0, false);
  mono.Set(0, 1, a);
  HostList monoOut(1, 0, false);
  monoOut.Set(0, 1, b);
  fx->ProcessBufferLists(flags, mono.list(), monoOut.list(), 8);
  ASSERT_EQ(fx->mCalls.size(), 1u);
  EXPECT_EQ(fx->mCalls[0].channel, 0u);

  // Interleaved input wider than the output buffer: nothing may be written.
  fx->mCalls.clear();
  HostList stereo(1, 0, false);
  stereo.Set(0, 2, wide);
  HostList single(1, 0, false);
  single.Set(0, 1, narrow);
  fx->ProcessBufferLists(flags, stereo.list(), single.list(), 8);
  EXPECT_TRUE(fx->mCalls.empty());

  // Two input buffers, one output buffer.
  fx->mCalls.clear();
  HostList twoIn(2, 0, false);
  twoIn.Set(0, 1, a);
  twoIn.Set(1, 1, b);
  fx->ProcessBufferLists(flags, twoIn.list(), monoOut.list(), 8);
  ASSERT_EQ(fx->mCalls.size(), 1u);

  // No buffers at all, or buffers without memory.
  fx->mCalls.clear();
  HostList none(0, 0, false);
  fx->ProcessBufferLists(flags, none.list(), monoOut.list(), 8);
  fx->ProcessBufferLists(flags, mono.list(), none.list(), 8);
  HostList empty(2, 0, false);
  std::vector<Float32> nothing;
  empty.Set(0, 1, nothing);
  empty.list().mBuffers[0].mData = nullptr;
  empty.Set(1, 1, b);
  fx->ProcessBufferLists(flags, twoIn.list(), empty.list(), 8);
  ASSERT_EQ(fx->mCalls.size(), 1u);
  EXPECT_EQ(fx->mCalls[0].channel, 1u);
}

TEST_F(EffectBaseTest, AnInputCallbackThatShrinksTheListEndsTheRenderBeforeAnyKernelRuns) {
  MakeInitialized(false);
  for (UInt32 buffers : {1u, 0u}) {
    source.overrideNumberBuffers = buffers;
    HostList host(2, 32 * 4, true, -4.0f);
    fx->mCalls.clear();
    EXPECT_EQ(RenderInto(host, 32), kAudio_ParamError);
    EXPECT_TRUE(fx->mCalls.empty());
    for (Float32 s : host.memory(0)) ASSERT_EQ(s, -4.0f);
    for (Float32 s : host.memory(1)) ASSERT_EQ(s, -4.0f);
  }
}

}  // namespace
