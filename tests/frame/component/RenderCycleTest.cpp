// The render cycle from the host's side: checks, output memory, once per time
// stamp, notifications, error recording, pending events and the processor's
// denormal mode.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ParameterEvents.h"
#include "RenderTestSupport.h"

namespace {

using frametest::ListenerRecorder;
using rendertest::HostList;
using rendertest::NotifyRecorder;
using rendertest::OpenInitialized;
using rendertest::PatternAU;
using rendertest::StampAt;

constexpr UInt32 kStereo = 2;

class RenderCycle : public frametest::CFLeakCheck {
 protected:
  void SetUp() override {
    CFLeakCheck::SetUp();
    au = OpenInitialized();
    ASSERT_NE(au, nullptr);
    au->AddPropertyListener(kAudioUnitProperty_LastRenderError, &ListenerRecorder::Proc, &errors);
  }
  void TearDown() override {
    if (au) frametest::Close(au);
    CFLeakCheck::TearDown();
  }

  OSStatus Render(HostList& host, UInt32 frames, Float64 sampleTime, UInt32 bus = 0) {
    AudioUnitRenderActionFlags flags = 0;
    return au->DoRender(flags, StampAt(sampleTime), bus, frames, host.list());
  }

  std::unique_ptr<PatternAU> au;
  ListenerRecorder errors;
};

TEST_F(RenderCycle, MaximumFramesRenderAndOneMoreIsRecordedOnce) {
  const UInt32 max = au->GetMaxFramesPerSlice();
  HostList host(kStereo, (max + 1) * 4);
  EXPECT_EQ(Render(host, max, 0), noErr);
  EXPECT_EQ(au->mLastFrames, max);
  EXPECT_EQ(host.samples(1)[max - 1], rendertest::Pattern(1, max - 1, 1));
  EXPECT_EQ(errors.calls.size(), 0u);

  EXPECT_EQ(Render(host, max + 1, max), kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_EQ(au->mRenderError.load(), kAudioUnitErr_TooManyFramesToProcess);
  ASSERT_EQ(errors.calls.size(), 1u);
  EXPECT_EQ(errors.calls[0].scope, kAudioUnitScope_Global);
  EXPECT_EQ(errors.calls[0].element, 0u);

  // Later errors wait until the host has read the first one.
  HostList oneBuffer(1, max * 4);
  EXPECT_EQ(Render(oneBuffer, 16, 2 * max), kAudio_ParamError);
  EXPECT_EQ(au->mRenderError.load(), kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_EQ(errors.calls.size(), 1u);
  EXPECT_EQ(au->mRenderCalls, 1);
}

TEST_F(RenderCycle, LastRenderErrorIsReadOnceThenZero) {
  HostList host(kStereo, 4096);
  ASSERT_EQ(Render(host, au->GetMaxFramesPerSlice() + 1, 0), kAudioUnitErr_TooManyFramesToProcess);
  OSStatus value = 1;
  ASSERT_EQ(au->DispatchGetProperty(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0, &value),
            noErr);
  EXPECT_EQ(value, kAudioUnitErr_TooManyFramesToProcess);
  ASSERT_EQ(au->DispatchGetProperty(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0, &value),
            noErr);
  EXPECT_EQ(value, noErr);

  // Once read, the next error is recorded and announced again.
  EXPECT_EQ(Render(host, au->GetMaxFramesPerSlice() + 1, 0), kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_EQ(errors.calls.size(), 2u);
}

TEST_F(RenderCycle, HostListShapeAndSizeAreChecked) {
  HostList oneForStereo(1, 4096);
  EXPECT_EQ(Render(oneForStereo, 512, 0), kAudio_ParamError);
  HostList threeForStereo(3, 4096);
  EXPECT_EQ(Render(threeForStereo, 512, 0), kAudio_ParamError);

  // 512 frames of 4 bytes need 2048 bytes per buffer.
  HostList tooSmall(kStereo, 2000);
  EXPECT_EQ(Render(tooSmall, 512, 0), kAudio_ParamError);
  EXPECT_EQ(tooSmall.memory(0)[0], HostList::kSentinel) << "nothing may be written into a refused list";
  EXPECT_EQ(au->mRenderCalls, 0);

  HostList roomy(kStereo, 4096);
  EXPECT_EQ(Render(roomy, 512, 0), noErr);
  EXPECT_EQ(roomy.buffer(0).mDataByteSize, 2048u);
  EXPECT_EQ(roomy.buffer(1).mDataByteSize, 2048u);
  // Rendered straight into the host's memory, and not one sample beyond.
  EXPECT_EQ(roomy.buffer(0).mData, roomy.memory(0).data());
  EXPECT_EQ(roomy.samples(0)[511], rendertest::Pattern(0, 511, 1));
  EXPECT_EQ(roomy.memory(0)[512], HostList::kSentinel);
  EXPECT_EQ(roomy.memory(1)[512], HostList::kSentinel);
}

TEST_F(RenderCycle, ASmallSecondBufferIsRefusedWithNoSizeChanged) {
  HostList host(kStereo, 4096);
  host.buffer(1).mDataByteSize = 100;
  EXPECT_EQ(Render(host, 512, 0), kAudio_ParamError);
  EXPECT_EQ(host.buffer(0).mDataByteSize, 4096u);
  EXPECT_EQ(host.buffer(1).mDataByteSize, 100u);
}

TEST_F(RenderCycle, NullDataBuffersGetTheElementsMemory) {
  HostList host(kStereo, 0, /*withMemory=*/false);
  ASSERT_EQ(Render(host, 256, 0), noErr);
  const AUBufferList& own = au->GetOutput(0)->GetBuffers();
  const Byte* block = own.GetBlock();
  for (UInt32 i = 0; i < kStereo; ++i) {
    const auto* data = static_cast<const Byte*>(host.buffer(i).mData);
    ASSERT_NE(data, nullptr);
    EXPECT_GE(data, block);
    EXPECT_LT(data, block + own.GetByteCapacity());
    EXPECT_EQ(host.buffer(i).mDataByteSize, 256u * 4);
    EXPECT_EQ(host.samples(i)[255], rendertest::Pattern(i, 255, 1));
  }
}

TEST_F(RenderCycle, ListsDisagreeingWithTheFormatAreRefusedBeforeNotificationsAndKeepEvents) {
  NotifyRecorder notes;
  au->SetRenderNotification(&NotifyRecorder::Proc, &notes);
  for (int fault = 0; fault < 3; ++fault) {
    SCOPED_TRACE(fault);
    HostList host(kStereo, 4096);
    if (fault == 0) host.buffer(1).mNumberChannels = 2;  // would be stepped through past its end
    if (fault == 1) host.buffer(0).mNumberChannels = 0;
    if (fault == 2) host.buffer(1).mData = nullptr;
    au->mPendingEvents.assign(1, testevents::ImmediateEvent(0, 3, 0.5f));
    EXPECT_EQ(Render(host, 512, fault), kAudio_ParamError);
    EXPECT_EQ(host.memory(0)[0], HostList::kSentinel);
    EXPECT_EQ(au->mPendingEvents.size(), 1u);
  }
  EXPECT_EQ(au->mRenderCalls, 0);
  EXPECT_TRUE(notes.calls.empty());
}

TEST_F(RenderCycle, OneRenderPerSampleTime) {
  HostList host(kStereo, 4096);
  ASSERT_EQ(Render(host, 64, 1000), noErr);
  EXPECT_EQ(au->GetLastRenderSampleTime(), 1000.0);
  host.memory(0)[0] = 7.0f;
  ASSERT_EQ(Render(host, 64, 1000), noErr);
  EXPECT_EQ(au->mRenderCalls, 1);
  EXPECT_EQ(host.memory(0)[0], 7.0f) << "the host's buffers are left as they are";

  // A NaN never equals the last time, not even another NaN.
  const Float64 nan = std::numeric_limits<Float64>::quiet_NaN();
  ASSERT_EQ(Render(host, 64, nan), noErr);
  ASSERT_EQ(Render(host, 64, nan), noErr);
  EXPECT_EQ(au->mRenderCalls, 3);
  EXPECT_TRUE(std::isnan(au->GetLastRenderSampleTime()));

  // Reset forgets the last time, so the same time renders again.
  ASSERT_EQ(Render(host, 64, 2000), noErr);
  au->Reset(kAudioUnitScope_Global, 0);
  ASSERT_EQ(Render(host, 64, 2000), noErr);
  EXPECT_EQ(au->mRenderCalls, 5);
}

TEST_F(RenderCycle, RepeatedTimeWithNullBuffersHandsBackThePreviousOutput) {
  HostList first(kStereo, 0, false);
  ASSERT_EQ(Render(first, 32, 5), noErr);
  HostList second(kStereo, 0, false);
  ASSERT_EQ(Render(second, 32, 5), noErr);
  EXPECT_EQ(au->mRenderCalls, 1);
  EXPECT_EQ(second.buffer(0).mData, first.buffer(0).mData);
  EXPECT_EQ(second.samples(1)[31], rendertest::Pattern(1, 31, 1));

  // Also when the first render went into the host's memory.
  HostList host(kStereo, 4096);
  ASSERT_EQ(Render(host, 32, 9), noErr);
  HostList again(kStereo, 0, false);
  ASSERT_EQ(Render(again, 32, 9), noErr);
  EXPECT_EQ(au->mRenderCalls, 2);
  EXPECT_EQ(again.samples(1)[31], host.samples(1)[31]);
}

TEST_F(RenderCycle, SeveralOutputBusesRenderIntoOwnMemoryAndCopy) {
  frametest::Close(au);
  au = OpenInitialized(1, 2);
  ASSERT_NE(au, nullptr);
  HostList host(kStereo, 4096);
  ASSERT_EQ(Render(host, 100, 0), noErr);
  EXPECT_EQ(host.buffer(0).mData, host.memory(0).data());
  EXPECT_EQ(host.samples(1)[99], rendertest::Pattern(1, 99, 1));
  EXPECT_EQ(host.memory(1)[100], HostList::kSentinel);
  EXPECT_EQ(host.buffer(1).mDataByteSize, 400u);
}

TEST_F(RenderCycle, OutputThatDoesNotAllocateCannotLendMemory) {
  au->GetOutput(0)->SetWillAllocateBuffer(false);
  HostList nulls(kStereo, 0, false);
  EXPECT_EQ(Render(nulls, 16, 0), kAudioUnitErr_InvalidPropertyValue);
  // With the host's memory it renders fine.
  HostList host(kStereo, 64);
  EXPECT_EQ(Render(host, 16, 1), noErr);
}

TEST_F(RenderCycle, MissingBusIsRecorded) {
  HostList host(kStereo, 4096);
  EXPECT_EQ(Render(host, 16, 0, /*bus=*/1), kAudioUnitErr_InvalidElement);
  EXPECT_EQ(au->mRenderError.load(), kAudioUnitErr_InvalidElement);
}

TEST_F(RenderCycle, RefusedAsUninitializedKeepsEventsAndNormalEndingEmptiesThem) {
  au->DoCleanup();
  au->mPendingEvents.push_back(testevents::ImmediateEvent(0, 3, 0.5f));
  HostList host(kStereo, 4096);
  EXPECT_EQ(Render(host, 64, 0), kAudioUnitErr_Uninitialized);
  EXPECT_EQ(au->mPendingEvents.size(), 1u);
  EXPECT_EQ(au->mRenderError.load(), kAudioUnitErr_Uninitialized);

  ASSERT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(Render(host, 64, 0), noErr);
  EXPECT_TRUE(au->mPendingEvents.empty());
}

TEST_F(RenderCycle, ThrownStatusesBecomeTheResult) {
  HostList host(kStereo, 4096);
  au->mPendingEvents.push_back(testevents::ImmediateEvent(0, 3, 0.5f));

  au->mThrow = PatternAU::Throw::kStatus;
  au->mThrownStatus = 0;
  EXPECT_EQ(Render(host, 64, 0), noErr);
  EXPECT_EQ(au->mRenderError.load(), noErr);
  EXPECT_TRUE(errors.calls.empty());

  au->mThrow = PatternAU::Throw::kShort;
  au->mThrownStatus = -42;
  EXPECT_EQ(Render(host, 64, 1), -42) << "a 16-bit status is sign-extended";
  au->mRenderError = 0;

  au->mThrow = PatternAU::Throw::kOther;
  EXPECT_EQ(Render(host, 64, 2), -1);
  EXPECT_EQ(au->mRenderError.load(), -1);
  au->mRenderError = 0;
  au->mThrow = PatternAU::Throw::kMemory;
  EXPECT_EQ(Render(host, 64, 2.5), memFullErr);
  au->mRenderError = 0;

  au->mThrow = PatternAU::Throw::kStatus;
  au->mThrownStatus = -10876;
  EXPECT_EQ(Render(host, 64, 3), -10876);
  EXPECT_EQ(au->mRenderError.load(), -10876);
  EXPECT_EQ(au->mPendingEvents.size(), 1u) << "a throw is the error ending";
}

TEST_F(RenderCycle, FastEntryChecksItsPointers) {
  HostList host(kStereo, 4096);
  const AudioTimeStamp ts = StampAt(0);
  AudioUnitRenderActionFlags flags = 0;
  EXPECT_EQ(AudioUnitBaseRender(au.get(), &flags, nullptr, 0, 64, &host.list()), kAudio_ParamError);
  EXPECT_EQ(AudioUnitBaseRender(au.get(), &flags, &ts, 0, 64, nullptr), kAudio_ParamError);
  EXPECT_EQ(AudioUnitBaseRender(nullptr, &flags, &ts, 0, 64, &host.list()), kAudio_ParamError);
  EXPECT_EQ(au->mRenderError.load(), noErr) << "the entry's own refusals are not recorded";
  EXPECT_EQ(au->mRenderCalls, 0);

  EXPECT_EQ(AudioUnitBaseRender(au.get(), nullptr, &ts, 0, 64, &host.list()), noErr);
  EXPECT_EQ(au->mRenderCalls, 1);
  EXPECT_EQ(AudioUnitBaseRender(au.get(), &flags, &ts, 0, 5000, &host.list()),
            kAudioUnitErr_TooManyFramesToProcess);
}

// ---- Input pull ----

struct InputSource {
  enum class Fault { kNone, kFails, kNullData, kFewerBuffers, kFewerBytes, kMoreChannels, kNoChannels };
  Fault fault = Fault::kNone;
  int calls = 0;

  static OSStatus Proc(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                       UInt32 frames, AudioBufferList* list) {
    auto* self = static_cast<InputSource*>(refCon);
    ++self->calls;
    switch (self->fault) {
      case Fault::kFails:
        return -66;
      case Fault::kNullData:
        list->mBuffers[1].mData = nullptr;
        return noErr;
      case Fault::kFewerBuffers:
        list->mNumberBuffers = 1;
        return noErr;
      case Fault::kFewerBytes:
        list->mBuffers[0].mDataByteSize = frames * 4 - 4;
        return noErr;
      case Fault::kMoreChannels:
      case Fault::kNoChannels:
        list->mBuffers[0].mNumberChannels = self->fault == Fault::kMoreChannels ? 2 : 0;
        return noErr;
      case Fault::kNone:
        break;
    }
    for (UInt32 i = 0; i < list->mNumberBuffers; ++i) {
      auto* s = static_cast<Float32*>(list->mBuffers[i].mData);
      for (UInt32 j = 0; j < frames; ++j) s[j] = static_cast<Float32>(i + 1) * 0.25f;
    }
    return noErr;
  }
};

class InputPull : public RenderCycle {
 protected:
  void SetUp() override {
    RenderCycle::SetUp();
    au->mPullInput = true;
    au->GetInput(0)->SetInputCallback(&InputSource::Proc, &source);
    au->SetRenderNotification(&NotifyRecorder::Proc, &notes);
  }
  InputSource source;
  NotifyRecorder notes;
};

TEST_F(InputPull, GoodInputReachesTheOutput) {
  HostList host(kStereo, 4096);
  ASSERT_EQ(Render(host, 128, 0), noErr);
  EXPECT_EQ(host.samples(0)[127], 0.25f);
  EXPECT_EQ(host.samples(1)[0], 0.5f);
  EXPECT_EQ(notes.CountWith(kAudioUnitRenderAction_PostRenderError), 0u);
}

TEST_F(InputPull, FailingPullIsFlaggedRecordedOnceAndEmptiesEvents) {
  source.fault = InputSource::Fault::kFails;
  au->mPendingEvents.push_back(testevents::ImmediateEvent(0, 3, 0.5f));
  HostList host(kStereo, 4096);
  EXPECT_EQ(Render(host, 64, 0), -66);
  EXPECT_EQ(Render(host, 64, 64), -66);
  ASSERT_EQ(notes.calls.size(), 4u);
  EXPECT_EQ(
      notes.calls[1].flags & (kAudioUnitRenderAction_PostRender | kAudioUnitRenderAction_PostRenderError),
      kAudioUnitRenderAction_PostRender | kAudioUnitRenderAction_PostRenderError);
  EXPECT_EQ(notes.calls[0].flags & kAudioUnitRenderAction_PostRenderError, 0u);
  EXPECT_EQ(au->mRenderError.load(), -66);
  EXPECT_EQ(errors.calls.size(), 1u);
  EXPECT_TRUE(au->mPendingEvents.empty()) << "the render got past its checks: the normal ending";
}

TEST_F(InputPull, UnreadablePulledListsEndTheRenderWithParamError) {
  for (auto fault :
       {InputSource::Fault::kNullData, InputSource::Fault::kFewerBuffers, InputSource::Fault::kFewerBytes,
        InputSource::Fault::kMoreChannels, InputSource::Fault::kNoChannels}) {
    SCOPED_TRACE(static_cast<int>(fault));
    source.fault = fault;
    au->mRenderError = 0;
    HostList host(kStereo, 4096);
    EXPECT_EQ(Render(host, 64, source.calls * 64.0), kAudio_ParamError);
    EXPECT_EQ(au->mRenderError.load(), kAudio_ParamError);
    EXPECT_EQ(host.memory(0)[0], HostList::kSentinel);
    EXPECT_EQ(notes.calls.back().flags & kAudioUnitRenderAction_PostRenderError,
              kAudioUnitRenderAction_PostRenderError);
  }
}

TEST(PulledBufferListCheck, AcceptsExactlyWhatTheFormatNeeds) {
  CAStreamBasicDescription stereo{};
  stereo.mFormatID = kAudioFormatLinearPCM;
  stereo.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
  stereo.mBytesPerFrame = stereo.mBytesPerPacket = 4;
  stereo.mFramesPerPacket = 1;
  stereo.mChannelsPerFrame = 2;
  stereo.mBitsPerChannel = 32;

  HostList three(3, 400);
  EXPECT_EQ(CheckPulledBufferList(three.list(), stereo, 100), noErr) << "extra buffers are not read";
  EXPECT_EQ(CheckPulledBufferList(three.list(), stereo, 101), kAudio_ParamError);
  HostList empty(0, 0);
  EXPECT_EQ(CheckPulledBufferList(empty.list(), stereo, 0), kAudio_ParamError);
  // A frame count whose byte count does not fit 32 bits never fits a buffer.
  HostList huge(2, 0xFFFFFFFFu, false);
  EXPECT_EQ(CheckPulledBufferList(huge.list(), stereo, 0x40000000u), kAudio_ParamError);

  CAStreamBasicDescription interleaved = stereo;
  interleaved.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
  interleaved.mBytesPerFrame = interleaved.mBytesPerPacket = 8;
  HostList one(1, 800);
  one.buffer(0).mNumberChannels = 2;
  EXPECT_EQ(CheckPulledBufferList(one.list(), interleaved, 100), noErr);
  one.buffer(0).mNumberChannels = 3;
  EXPECT_EQ(CheckPulledBufferList(one.list(), interleaved, 100), kAudio_ParamError);
}

// ---- Notifications ----

class Notifications : public RenderCycle {
 protected:
  NotifyRecorder a, b;
};

TEST_F(Notifications, PreAndPostPassesSeeTheirFlagsOnALocalWord) {
  ASSERT_EQ(au->SetRenderNotification(&NotifyRecorder::Proc, &a), noErr);
  EXPECT_TRUE(au->mNotificationsUsed.load());
  HostList host(kStereo, 4096);
  AudioUnitRenderActionFlags flags = kAudioUnitRenderAction_OutputIsSilence;
  ASSERT_EQ(au->DoRender(flags, StampAt(77), 0, 32, host.list()), noErr);
  ASSERT_EQ(a.calls.size(), 2u);
  EXPECT_EQ(a.calls[0].flags, kAudioUnitRenderAction_OutputIsSilence | kAudioUnitRenderAction_PreRender);
  EXPECT_EQ(a.calls[1].flags, kAudioUnitRenderAction_OutputIsSilence | kAudioUnitRenderAction_PostRender);
  EXPECT_NE(a.calls[0].flagsAddress, &flags);
  EXPECT_EQ(a.calls[0].sampleTime, 77.0);
  EXPECT_EQ(flags, kAudioUnitRenderAction_OutputIsSilence) << "the caller's word is not the entries'";
}

TEST_F(Notifications, NullProcedureIsRefused) {
  EXPECT_EQ(au->SetRenderNotification(nullptr, &a), kAudio_ParamError);
  EXPECT_FALSE(au->mNotificationsUsed.load());
  EXPECT_EQ(au->RemoveRenderNotification(nullptr, &a), noErr);
}

TEST_F(Notifications, SamePairTwiceIsOneEntryAndOneRemovalRemovesIt) {
  au->SetRenderNotification(&NotifyRecorder::Proc, &a);
  au->SetRenderNotification(&NotifyRecorder::Proc, &a);
  au->SetRenderNotification(&NotifyRecorder::Proc, &b);
  HostList host(kStereo, 4096);
  ASSERT_EQ(Render(host, 16, 0), noErr);
  EXPECT_EQ(a.calls.size(), 2u);
  EXPECT_EQ(b.calls.size(), 2u);

  au->RemoveRenderNotification(&NotifyRecorder::Proc, &a);
  ASSERT_EQ(Render(host, 16, 16), noErr);
  EXPECT_EQ(a.calls.size(), 2u);
  EXPECT_EQ(b.calls.size(), 4u);

  // Removing what is not there changes nothing; the renders still run the passes.
  au->RemoveRenderNotification(&NotifyRecorder::Proc, &a);
  au->RemoveRenderNotification(&NotifyRecorder::Proc, &b);
  ASSERT_EQ(Render(host, 16, 32), noErr);
  EXPECT_EQ(b.calls.size(), 4u);
}

// Adds `other` during the pre-render pass and removes itself during it.
struct ChangesDuringRender {
  PatternAU* au = nullptr;
  NotifyRecorder* other = nullptr;
  NotifyRecorder own;
  static OSStatus Proc(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts, UInt32 bus,
                       UInt32 frames, AudioBufferList* list) {
    auto* self = static_cast<ChangesDuringRender*>(refCon);
    if (*flags & kAudioUnitRenderAction_PreRender) {
      self->au->SetRenderNotification(&NotifyRecorder::Proc, self->other);
      self->au->RemoveRenderNotification(&ChangesDuringRender::Proc, self);
    }
    return NotifyRecorder::Proc(&self->own, flags, ts, bus, frames, list);
  }
};

TEST_F(Notifications, ChangesDuringARenderApplyFromTheNextRender) {
  ChangesDuringRender changer;
  changer.au = au.get();
  changer.other = &a;
  au->SetRenderNotification(&ChangesDuringRender::Proc, &changer);
  HostList host(kStereo, 4096);

  ASSERT_EQ(Render(host, 16, 0), noErr);
  // Removed during the render: still in that render's post pass.
  ASSERT_EQ(changer.own.calls.size(), 2u);
  EXPECT_EQ(changer.own.calls[1].flags & kAudioUnitRenderAction_PostRender,
            kAudioUnitRenderAction_PostRender);
  // Added during the render: first heard at the next one.
  EXPECT_TRUE(a.calls.empty());

  ASSERT_EQ(Render(host, 16, 16), noErr);
  EXPECT_EQ(changer.own.calls.size(), 2u);
  ASSERT_EQ(a.calls.size(), 2u);
  EXPECT_EQ(a.calls[0].sampleTime, 16.0);
}

TEST_F(Notifications, RefusedRenderCallsNoNotification) {
  au->SetRenderNotification(&NotifyRecorder::Proc, &a);
  HostList oneBuffer(1, 4096);
  EXPECT_EQ(Render(oneBuffer, 16, 0), kAudio_ParamError);
  EXPECT_TRUE(a.calls.empty());
}

// ---- Processor mode ----

#ifdef VARSILE_HAS_MXCSR
TEST_F(RenderCycle, DenormalsAreFlushedInsideAndTheCallersModeComesBack) {
  using processormode::kFtzDaz;
  constexpr unsigned kRoundTowardZero = 0x6000;
  const unsigned original = _mm_getcsr();
  // A caller's own mode, with neither bit set and an unusual rounding mode.
  const unsigned callers = (original & ~kFtzDaz) | kRoundTowardZero;
  _mm_setcsr(callers);

  au->mProbeDenormals = true;
  HostList host(kStereo, 4096);
  const OSStatus ok = Render(host, 16, 0);
  const unsigned afterOk = _mm_getcsr();
  HostList refused(1, 4096);
  const OSStatus refusedStatus = Render(refused, 16, 16);
  const unsigned afterRefusal = _mm_getcsr();
  au->mThrow = PatternAU::Throw::kStatus;
  au->mThrownStatus = -5;
  const OSStatus thrownStatus = Render(host, 16, 32);
  const unsigned afterThrow = _mm_getcsr();
  au->mThrownStatus = 0;
  Render(host, 16, 48);
  const unsigned afterThrownZero = _mm_getcsr();
  _mm_setcsr(original);

  EXPECT_EQ(ok, noErr);
  EXPECT_EQ(refusedStatus, kAudio_ParamError);
  EXPECT_EQ(thrownStatus, -5);
  EXPECT_EQ(au->mMxcsrInside & kFtzDaz, kFtzDaz);
  EXPECT_EQ(au->mMxcsrInside & kRoundTowardZero, kRoundTowardZero) << "only the two bits change";
  EXPECT_EQ(au->mProductInside, 0.0f) << "a denormal result is flushed";
  EXPECT_EQ(au->mDenormalTimesOne, 0.0f) << "a denormal input counts as zero";
  // The low six bits are sticky exception flags, not the mode.
  constexpr unsigned kMode = ~0x3Fu;
  EXPECT_EQ(afterOk & kMode, callers & kMode);
  EXPECT_EQ(afterRefusal & kMode, callers & kMode);
  EXPECT_EQ(afterThrow & kMode, callers & kMode);
  EXPECT_EQ(afterThrownZero & kMode, callers & kMode);

  // Outside a render the same arithmetic keeps its denormals.
  au->ProbeDenormals();
  EXPECT_GT(au->mProductInside, 0.0f);
  EXPECT_GT(au->mDenormalTimesOne, 0.0f);

  // A caller that flushes already gets back the rounding mode a notification changed.
  const auto roundTowardZero = [](void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                                  AudioBufferList*) -> OSStatus {
    _mm_setcsr(_mm_getcsr() | kRoundTowardZero);
    return noErr;
  };
  au->SetRenderNotification(roundTowardZero, nullptr);
  _mm_setcsr(original | kFtzDaz);
  Render(host, 16, 64);
  const unsigned afterNotification = _mm_getcsr();
  _mm_setcsr(original);
  EXPECT_EQ(afterNotification & kMode, (original | kFtzDaz) & kMode);
}
#endif

}  // namespace
