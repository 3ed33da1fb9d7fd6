// The render thread allocates nothing, frees nothing and takes no lock: every
// render size, both render entries, render notifications added and removed
// meanwhile, events scheduled before and during renders, bypass switched,
// meters read and parameters set between renders. Under RealtimeSanitizer the
// same renders run and the sanitizer stops the program at the first such call.
#include <AudioToolbox/AudioUnitUtilities.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

#include "HostedGate.h"
#include "RenderThreadCounter.h"

namespace {

using namespace reliability;

constexpr Float64 kRate = 48000.0;
constexpr UInt32 kChannels = 2;
constexpr UInt32 kMaxFrames = 1156;  // the component's default maximum
constexpr UInt32 kSizes[] = {1, 64, 512, kMaxFrames};

// A render notification that counts its passes and, when asked, schedules
// events from the pre-render pass for the render in progress, as hosts that
// automate from the render thread do.
struct Observer {
  AudioUnit unit = nullptr;
  bool scheduleInside = false;
  int pre = 0;
  int post = 0;
  int postErrors = 0;

  static OSStatus Notify(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp*, UInt32,
                         UInt32 frames, AudioBufferList*) noexcept {
    auto& self = *static_cast<Observer*>(refCon);
    if (*flags & kAudioUnitRenderAction_PreRender) {
      ++self.pre;
      if (self.scheduleInside && frames > 1) {
        // Immediate events run the effect's setter at once, here on the
        // render thread: the master volume moves the intervals and tells the
        // parameter listeners, the key tells the property listeners.
        const AudioUnitParameterEvent events[] = {
            RampedEvent(kGateParam_FirstInterval + 6, 0, frames, 100.0f, 20.0f),
            ImmediateEvent(kGateParam_AttackTime, frames / 2, 0.05f),
            ImmediateEvent(kGateParam_MasterVolume, frames / 3, static_cast<Float32>(50 + frames % 50)),
            ImmediateEvent(kGateParam_Key, frames / 4, static_cast<Float32>(frames % 12)),
        };
        (void)AudioUnitScheduleParameters(self.unit, events, 4);
      }
    }
    if (*flags & kAudioUnitRenderAction_PostRender) ++self.post;
    if (*flags & kAudioUnitRenderAction_PostRenderError) ++self.postErrors;
    return noErr;
  }
};

OSStatus Quiet(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
               AudioBufferList*) noexcept {
  return noErr;
}

void IgnoreProperty(void*, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {}

// A host's parameter listener, so that the gate's parameter-change events
// have someone to reach.
void HearParameter(void* userData, void*, const AudioUnitEvent*, UInt64, AudioUnitParameterValue) {
  ++*static_cast<long*>(userData);
}

bool AllFinite(const HostedGate& gate, UInt32 frames) {
  for (UInt32 c = 0; c < gate.Channels(); ++c) {
    const Float32* out = gate.Output(c);
    if (out == nullptr) return false;
    for (UInt32 i = 0; i < frames; ++i) {
      if (!std::isfinite(out[i])) return false;
    }
  }
  return true;
}

// What a host does on its control side between two renders: parameters,
// meters, scheduled events, bypass and notifications change as the render
// number says. None of it is counted.
void BetweenRenders(HostedGate& gate, int render, UInt32 frames) {
  const AudioUnit unit = gate.Unit();
  if (render % 7 == 0) {
    gate.SetParameter(kGateParam_MasterVolume, static_cast<Float32>(40 + render % 61));
    // Keys past 11 and below 0 too: the render reduces them itself.
    gate.SetParameter(kGateParam_Key, static_cast<Float32>(render % 30) - 9.0f);
  }
  if (render % 5 == 0 && frames > 1) {
    const AudioUnitParameterEvent events[] = {
        ImmediateEvent(kGateParam_MasterVolume, frames / 3, 90.0f),
        ImmediateEvent(kGateParam_Key, frames / 2, static_cast<Float32>((render / 5) % 30) + 0.5f),
        RampedEvent(kGateParam_FirstInterval + 1, 0, frames, 0.0f, 100.0f),
        RampedEvent(kGateParam_ReleaseTime, -static_cast<SInt32>(frames), 3 * frames, 0.05f, 2.0f),
    };
    Check(AudioUnitScheduleParameters(unit, events, 4), "scheduling events");
  }
  if (render % 11 == 0) {
    (void)gate.Parameter(kGateParam_CurrentVolume);
    (void)gate.Parameter(kGateParam_Accuracy);
    (void)gate.Parameter(kGateParam_CurrentNote);
  }
  if (render % 50 == 25) gate.SetBypass(true);
  if (render % 50 == 35) gate.SetBypass(false);
  if (render % 97 == 0) Check(AudioUnitAddRenderNotify(unit, Quiet, &gate), "adding a notification");
  if (render % 97 == 48) Check(AudioUnitRemoveRenderNotify(unit, Quiet, &gate), "removing a notification");
}

// The render entry (fast or through the dispatcher) and the component (the
// gate or its lookahead variant).
class RenderThread : public ::testing::TestWithParam<std::tuple<bool, bool>> {
 protected:
  void SetUp() override {
    mGate = std::make_unique<HostedGate>(std::get<1>(GetParam()) ? LookaheadComponent() : GateComponent(),
                                         kChannels, kRate, kMaxFrames, &Melody::Render, &mMelody);
    mGate->Initialize();
    mObserver.unit = mGate->Unit();
    Check(AudioUnitAddRenderNotify(mGate->Unit(), Observer::Notify, &mObserver), "adding the observer");
    Check(AudioUnitAddPropertyListener(mGate->Unit(), kAudioUnitProperty_LastRenderError, IgnoreProperty,
                                       nullptr),
          "adding a listener");
    Check(AUEventListenerCreateWithCallback(HearParameter, &mParameterEvents, &mListener),
          "creating a listener");
    AudioUnitEvent event{};
    event.mEventType = kAudioUnitEvent_ParameterValueChange;
    event.mArgument.mParameter.mAudioUnit = mGate->Unit();
    event.mArgument.mParameter.mParameterID = kAUEventListener_AnyParameter;
    Check(AUEventListenerAddEventType(mListener, nullptr, &event), "listening to parameters");
    Check(AudioUnitAddPropertyListener(mGate->Unit(), kAudioUnitProperty_ParameterInfo, IgnoreProperty,
                                       nullptr),
          "adding a listener");
    RenderThreadCounter::Reset();
  }

  void TearDown() override { AUListenerDispose(mListener); }

  OSStatus CountedRender(UInt32 frames, bool ownBuffers = true) {
    mGate->PrepareRender(frames, ownBuffers);
    const CountedSection counted;
    return mGate->RenderPrepared(frames, std::get<0>(GetParam()));
  }

  Melody mMelody{kRate};
  Observer mObserver;
  std::unique_ptr<HostedGate> mGate;
  AUEventListenerRef mListener = nullptr;
  long mParameterEvents = 0;
};

TEST_P(RenderThread, AllocatesAndLocksNothingAcrossSizesEventsBypassAndNotifications) {
  int renders = 0;
  for (const UInt32 frames : kSizes) {
    // Enough renders to run several analysis frames at every size.
    const int count = std::max<int>(40, static_cast<int>(4 * 2048 / frames));
    for (int r = 0; r < count; ++r, ++renders) {
      BetweenRenders(*mGate, renders, frames);
      mObserver.scheduleInside = r % 3 == 0;
      // Every fourth render asks for the unit's own memory.
      ASSERT_EQ(CountedRender(frames, r % 4 != 3), noErr) << frames << " frames, render " << r;
      ASSERT_TRUE(AllFinite(*mGate, frames)) << frames << " frames, render " << r;
    }
  }
  EXPECT_EQ(mObserver.pre, renders);
  EXPECT_EQ(mObserver.post, renders);
  EXPECT_GT(mParameterEvents, 0);
  const RenderThreadCounts counts = RenderThreadCounter::Counts();
  EXPECT_EQ(counts.allocations, 0u);
  EXPECT_EQ(counts.deallocations, 0u);
  EXPECT_EQ(counts.locks, 0u);
  if (RenderThreadCounter::Available()) {
    std::printf("%d renders of 1, 64, 512 and %u frames: %llu allocations, %llu deallocations, %llu locks\n",
                renders, kMaxFrames, static_cast<unsigned long long>(counts.allocations),
                static_cast<unsigned long long>(counts.deallocations),
                static_cast<unsigned long long>(counts.locks));
  } else {
    std::printf("%d renders of 1, 64, 512 and %u frames under RealtimeSanitizer\n", renders, kMaxFrames);
  }
}

TEST_P(RenderThread, RefusedAndFailedRendersAllocateNothing) {
  ASSERT_EQ(CountedRender(64), noErr);
  // One frame too many; recorded and announced to the listener.
  EXPECT_EQ(CountedRender(kMaxFrames + 1), kAudioUnitErr_TooManyFramesToProcess);
  // The input fails: the post-render pass sees the error.
  mMelody.FailWith(kAudioUnitErr_NoConnection);
  EXPECT_EQ(CountedRender(64), kAudioUnitErr_NoConnection);
  EXPECT_GE(mObserver.postErrors, 1);
  mMelody.FailWith(noErr);
  EXPECT_EQ(CountedRender(64), noErr);
  // Uninitialized: refused before anything else.
  mGate->Uninitialize();
  EXPECT_EQ(CountedRender(64), kAudioUnitErr_Uninitialized);
  EXPECT_EQ(RenderThreadCounter::Counts(), RenderThreadCounts{});
}

// A host that names a bus the gate does not have gets -10877, refused
// without throwing: an exception object would be allocated on the render thread.
TEST_P(RenderThread, ANonexistentBusIsRefusedWithoutAllocating) {
  mGate->PrepareRender(64);
  OSStatus status = noErr;
  {
    const CountedSection counted;
    status = mGate->RenderPrepared(64, std::get<0>(GetParam()), 1);
  }
  EXPECT_EQ(status, kAudioUnitErr_InvalidElement);
  EXPECT_EQ(RenderThreadCounter::Counts(), RenderThreadCounts{});
}

// The counter itself: a notification that allocates and locks inside the
// render is seen, or, under RealtimeSanitizer, stops the program.
OSStatus AllocatingNotification(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                                AudioBufferList*) {
  void* volatile block = std::malloc(64);
  std::free(block);
  static std::mutex mutex;
  const std::lock_guard<std::mutex> lock(mutex);
  return noErr;
}

TEST_P(RenderThread, SeesWhatANotificationAllocatesAndLocks) {
  Check(AudioUnitAddRenderNotify(mGate->Unit(), AllocatingNotification, nullptr), "adding a notification");
  if (!RenderThreadCounter::Available()) {
    EXPECT_DEATH((void)CountedRender(64), "RealtimeSanitizer");
    return;
  }
  ASSERT_EQ(CountedRender(64), noErr);
  const RenderThreadCounts counts = RenderThreadCounter::Counts();
  // Both passes of the one render.
  EXPECT_GE(counts.allocations, 2u);
  EXPECT_GE(counts.deallocations, 2u);
  EXPECT_GE(counts.locks, 2u);
}

// And what the module allocates on its control side, through the same calls.
TEST(RenderThreadCounter, SeesTheModuleAllocateWhenItInitializes) {
  if (!RenderThreadCounter::Available()) GTEST_SKIP() << "RealtimeSanitizer build: nothing is counted";
  Melody melody(kRate);
  HostedGate gate(GateComponent(), kChannels, kRate, kMaxFrames, &Melody::Render, &melody);
  RenderThreadCounter::Reset();
  {
    const CountedSection counted;
    gate.Initialize();
  }
  EXPECT_GT(RenderThreadCounter::Counts().allocations, 0u);
}

INSTANTIATE_TEST_SUITE_P(BothEntries, RenderThread, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<bool, bool>>& info) {
                           return std::string(std::get<0>(info.param) ? "FastRender" : "Dispatcher") +
                                  (std::get<1>(info.param) ? "Lookahead" : "");
                         });

}  // namespace
