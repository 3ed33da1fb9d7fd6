// Scheduled parameter events: what scheduling stores and keeps, the sort
// order, and how a buffer is cut into slices with the state of each.
#include <limits>
#include <vector>

#include "FrameTestSupport.h"
#include "ParameterEvents.h"

using namespace frametest;

namespace {

constexpr SInt32 kInt32Max = std::numeric_limits<SInt32>::max();

using testevents::ImmediateEvent;
using testevents::RampedEvent;

// Records every slice with the stored state of parameters 0 and 1 as the
// slice sees it.
class SliceRecorder : public TestAU {
 public:
  struct Slice {
    UInt32 start;
    UInt32 frames;
    UInt32 total;
    void* context;
    ParameterMapEvent p0;
    ParameterMapEvent p1;
  };

  SliceRecorder() { Globals().GetElement(0)->UseIndexedParameters(2); }

  OSStatus ProcessScheduledSlice(void* context, UInt32 start, UInt32 frames, UInt32 total) override {
    AUElement& global = *Globals().GetElement(0);
    mSlices.push_back(Slice{start, frames, total, context, global.GetParamEvent(0), global.GetParamEvent(1)});
    return mSlices.size() == mFailAtSlice ? mFailure : noErr;
  }

  std::vector<std::pair<UInt32, UInt32>> Bounds() const {
    std::vector<std::pair<UInt32, UInt32>> b;
    for (const Slice& s : mSlices) b.emplace_back(s.start, s.start + s.frames);
    return b;
  }

  std::vector<Slice> mSlices;
  std::size_t mFailAtSlice = 0;  // 1-based; 0 never
  OSStatus mFailure = -42;
};

using Bounds = std::vector<std::pair<UInt32, UInt32>>;

class ScheduledSlicingTest : public CFLeakCheck {
 protected:
  void SetUp() override {
    CFLeakCheck::SetUp();
    au = Open<SliceRecorder>();
  }
  void TearDown() override {
    Close(au);
    CFLeakCheck::TearDown();
  }
  OSStatus Slice(UInt32 frames) {
    return au->ProcessForScheduledParams(au->mPendingEvents, frames, &mContext);
  }
  Float32 Value(UInt32 id) { return au->Globals().GetElement(0)->GetParameter(id); }

  std::unique_ptr<SliceRecorder> au;
  int mContext = 0;
};

// ---- Scheduling ----

TEST_F(ScheduledSlicingTest, ImmediateEventsAreStoredAtOnceAndKept) {
  const AudioUnitParameterEvent events[] = {ImmediateEvent(0, 0, 1.0f), ImmediateEvent(0, 10, 2.0f),
                                            RampedEvent(1, 8, 16, 5.0f, 6.0f)};
  EXPECT_EQ(au->ScheduleParameter(events, 3), noErr);
  ASSERT_EQ(au->mPendingEvents.size(), 3u);
  EXPECT_EQ(Value(0), 2.0f);  // the later immediate event already holds
  EXPECT_EQ(Value(1), 0.0f);  // ramps touch nothing until the render
  EXPECT_EQ(au->mPendingEvents[2].eventValues.ramp.durationInFrames, 16u);
}

TEST_F(ScheduledSlicingTest, EventsWithoutAValidScopeAreRefusedWhenScheduled) {
  const AudioUnitParameterEvent ramps[] = {RampedEvent(0, 0, 8, 1.0f, 2.0f),
                                           RampedEvent(0, 8, 8, 1.0f, 2.0f, 5)};
  EXPECT_EQ(au->ScheduleParameter(ramps, 2), kAudioUnitErr_InvalidScope);
  ASSERT_EQ(au->mPendingEvents.size(), 1u);  // the good event before it stays
  EXPECT_EQ(au->mPendingEvents[0].scope, 0u);
  // So is a ramp of a parameter the element does not hold.
  const AudioUnitParameterEvent unknown = RampedEvent(99, 0, 8, 1.0f, 2.0f);
  EXPECT_EQ(au->ScheduleParameter(&unknown, 1), kAudioUnitErr_InvalidParameter);
  EXPECT_EQ(au->mPendingEvents.size(), 1u);

  const AudioUnitParameterEvent immediate = ImmediateEvent(0, 0, 1.0f, 9);
  EXPECT_EQ(Thrown([&] { au->ScheduleParameter(&immediate, 1); }), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(au->mPendingEvents.size(), 1u);

  // The pending list can still be sliced: one bad event no longer stops the audio.
  EXPECT_EQ(Slice(16), noErr);
  EXPECT_EQ(au->Bounds(), (Bounds{{0, 8}, {8, 16}}));

  EXPECT_EQ(au->ScheduleParameter(nullptr, 2), kAudio_ParamError);
  EXPECT_EQ(au->ScheduleParameter(nullptr, 0), noErr);
}

TEST_F(ScheduledSlicingTest, GroupScopeEventsAreKeptAndSkippedDuringSlicing) {
  const AudioUnitParameterEvent events[] = {ImmediateEvent(0, 4, 1.0f, kAudioUnitScope_Group),
                                            RampedEvent(0, 2, 4, 1.0f, 2.0f, kAudioUnitScope_Group)};
  EXPECT_EQ(au->ScheduleParameter(events, 2), noErr);
  EXPECT_EQ(au->mPendingEvents.size(), 2u);
  EXPECT_EQ(Slice(8), noErr);
  EXPECT_EQ(au->Bounds(), (Bounds{{0, 2}, {2, 4}, {4, 6}, {6, 8}}));
}

TEST_F(ScheduledSlicingTest, SortReadsOffsetsAsSigned) {
  std::vector<AudioUnitParameterEvent> events = {
      ImmediateEvent(0, 3, 0.0f), RampedEvent(0, -5, 1, 0.0f, 0.0f), ImmediateEvent(0, 0xFFFFFFF0u, 0.0f),
      ImmediateEvent(0, 0, 0.0f)};
  AUBase::SortParameterEventList(events);
  std::vector<SInt32> offsets;
  for (const auto& e : events) offsets.push_back(e.eventValues.ramp.startBufferOffset);
  EXPECT_EQ(offsets, (std::vector<SInt32>{-16, -5, 0, 3}));
}

// ---- Slicing ----

TEST_F(ScheduledSlicingTest, WithoutEventsTheWholeBufferIsOneSlice) {
  EXPECT_EQ(Slice(64), noErr);
  ASSERT_EQ(au->mSlices.size(), 1u);
  EXPECT_EQ(au->mSlices[0].start, 0u);
  EXPECT_EQ(au->mSlices[0].frames, 64u);
  EXPECT_EQ(au->mSlices[0].total, 64u);
  EXPECT_EQ(au->mSlices[0].context, &mContext);
}

TEST_F(ScheduledSlicingTest, ImmediateEventsAtZeroAndTen) {
  const AudioUnitParameterEvent events[] = {ImmediateEvent(0, 10, 2.0f), ImmediateEvent(0, 0, 1.0f)};
  au->ScheduleParameter(events, 2);
  EXPECT_EQ(Value(0), 1.0f);
  EXPECT_EQ(Slice(64), noErr);
  ASSERT_EQ(au->Bounds(), (Bounds{{0, 10}, {10, 64}}));
  EXPECT_EQ(au->mSlices[0].p0.mStartValue, 1.0f);
  EXPECT_EQ(au->mSlices[0].p0.mDurationFrames, 10u);
  EXPECT_EQ(au->mSlices[1].p0.mStartValue, 2.0f);
  EXPECT_EQ(au->mSlices[1].p0.mEndValue, 2.0f);
  EXPECT_EQ(au->mSlices[1].p0.mDurationFrames, 54u);
  EXPECT_EQ(au->mSlices[1].p0.mSliceFrames, 54u);
  EXPECT_EQ(au->mSlices[1].p0.mOffsetInSlice, 0);
  EXPECT_EQ(au->mPendingEvents.size(), 2u);  // emptying is the render's business
}

TEST_F(ScheduledSlicingTest, RampGivesThreeSlices) {
  au->Globals().GetElement(0)->SetParameter(1, 0.5f);
  const AudioUnitParameterEvent ramp = RampedEvent(1, 8, 16, 1.0f, 2.0f);
  au->ScheduleParameter(&ramp, 1);
  EXPECT_EQ(Slice(64), noErr);
  ASSERT_EQ(au->Bounds(), (Bounds{{0, 8}, {8, 24}, {24, 64}}));

  const ParameterMapEvent& before = au->mSlices[0].p1;
  EXPECT_EQ(before.mEventKind, UInt32{kParameterEvent_Immediate});
  EXPECT_EQ(before.mStartValue, 0.5f);

  for (std::size_t i : {1u, 2u}) {  // the third slice keeps what the second set
    const ParameterMapEvent& e = au->mSlices[i].p1;
    EXPECT_EQ(e.mEventKind, UInt32{kParameterEvent_Ramped}) << i;
    EXPECT_EQ(e.mOffsetInSlice, 0) << i;
    EXPECT_EQ(e.mDurationFrames, 16u) << i;
    EXPECT_EQ(e.mSliceFrames, 16u) << i;
    EXPECT_EQ(e.mStartValue, 1.0f) << i;
    EXPECT_EQ(e.mEndValue, 2.0f) << i;
  }
}

TEST_F(ScheduledSlicingTest, RampBegunInAnEarlierBuffer) {
  const AudioUnitParameterEvent ramp = RampedEvent(1, -10, 30, 1.0f, 2.0f);
  au->ScheduleParameter(&ramp, 1);
  EXPECT_EQ(Slice(64), noErr);
  ASSERT_EQ(au->Bounds(), (Bounds{{0, 20}, {20, 64}}));
  EXPECT_EQ(au->mSlices[0].p1.mEventKind, UInt32{kParameterEvent_Ramped});
  EXPECT_EQ(au->mSlices[0].p1.mOffsetInSlice, -10);
  EXPECT_EQ(au->mSlices[0].p1.mSliceFrames, 20u);
  EXPECT_EQ(au->mSlices[1].p1.mSliceFrames, 20u);  // not set again
}

TEST_F(ScheduledSlicingTest, RampThatEndedBeforeTheBufferAppliesToEverySliceButSetsNoBoundary) {
  const AudioUnitParameterEvent events[] = {RampedEvent(1, -100, 50, 1.0f, 2.0f),
                                            ImmediateEvent(0, 30, 3.0f)};
  au->ScheduleParameter(events, 2);
  EXPECT_EQ(Slice(64), noErr);
  ASSERT_EQ(au->Bounds(), (Bounds{{0, 30}, {30, 64}}));
  EXPECT_EQ(au->mSlices[0].p1.mOffsetInSlice, -100);
  EXPECT_EQ(au->mSlices[0].p1.mSliceFrames, 30u);
  EXPECT_EQ(au->mSlices[1].p1.mOffsetInSlice, -130);
  EXPECT_EQ(au->mSlices[1].p1.mSliceFrames, 34u);
}

TEST_F(ScheduledSlicingTest, OffsetsAtOrBeyondTheBufferNeverApply) {
  au->Globals().GetElement(0)->SetParameter(1, 0.25f);
  au->mPendingEvents = {ImmediateEvent(0, 64, 1.0f), ImmediateEvent(0, 100, 2.0f),
                        RampedEvent(1, 64, 8, 3.0f, 4.0f)};
  EXPECT_EQ(Slice(64), noErr);
  ASSERT_EQ(au->Bounds(), (Bounds{{0, 64}}));
  EXPECT_EQ(au->mSlices[0].p0.mStartValue, 0.0f);
  EXPECT_EQ(au->mSlices[0].p1.mStartValue, 0.25f);
  EXPECT_EQ(Value(0), 0.0f);
}

TEST_F(ScheduledSlicingTest, ThreeEventsAtDistinctOffsets) {
  au->mPendingEvents = {ImmediateEvent(0, 40, 3.0f), ImmediateEvent(0, 0, 1.0f), ImmediateEvent(0, 16, 2.0f)};
  EXPECT_EQ(Slice(64), noErr);
  ASSERT_EQ(au->Bounds(), (Bounds{{0, 16}, {16, 40}, {40, 64}}));
  EXPECT_EQ(au->mSlices[0].p0.mStartValue, 1.0f);
  EXPECT_EQ(au->mSlices[1].p0.mStartValue, 2.0f);
  EXPECT_EQ(au->mSlices[2].p0.mStartValue, 3.0f);
  // Sorted in place, nothing else changed.
  EXPECT_EQ(au->mPendingEvents[0].eventValues.immediate.bufferOffset, 0u);
  EXPECT_EQ(au->mPendingEvents[2].eventValues.immediate.bufferOffset, 40u);
}

TEST_F(ScheduledSlicingTest, SlicesAlwaysCoverTheBufferExactly) {
  // Ramps ending inside the buffer, overlapping ramps, far-away and extreme offsets.
  au->mPendingEvents = {RampedEvent(1, 5, 3, 0, 1),
                        RampedEvent(1, 2, 40, 0, 1),
                        ImmediateEvent(0, 7, 1),
                        ImmediateEvent(0, 0xFFFFFFFFu, 2),
                        RampedEvent(1, kInt32Max - 1, 10, 0, 1),
                        RampedEvent(1, -5, 0xFFFFFFFFu, 0, 1),
                        ImmediateEvent(0, 63, 3)};
  EXPECT_EQ(Slice(64), noErr);
  UInt32 next = 0;
  for (const auto& s : au->mSlices) {
    EXPECT_EQ(s.start, next);
    EXPECT_GT(s.frames, 0u);
    next = s.start + s.frames;
  }
  EXPECT_EQ(next, 64u);
  EXPECT_EQ(au->Bounds(), (Bounds{{0, 2}, {2, 5}, {5, 7}, {7, 8}, {8, 42}, {42, 63}, {63, 64}}));
}

TEST_F(ScheduledSlicingTest, ARampWhoseEndWrapsIsHandledWithoutOverflow) {
  // Start near the top of the signed range: the end wraps to a negative number,
  // which sets no boundary; the start is beyond the buffer, so it never applies.
  au->mPendingEvents = {RampedEvent(1, kInt32Max - 1, 10, 7.0f, 8.0f)};
  EXPECT_EQ(Slice(32), noErr);
  ASSERT_EQ(au->Bounds(), (Bounds{{0, 32}}));
  EXPECT_EQ(au->mSlices[0].p1.mStartValue, 0.0f);

  // Begun before the buffer and never ending: applies, with its negative offset.
  au->mSlices.clear();
  au->mPendingEvents = {RampedEvent(1, -5, 0xFFFFFFFFu, 7.0f, 8.0f)};
  EXPECT_EQ(Slice(32), noErr);
  ASSERT_EQ(au->Bounds(), (Bounds{{0, 32}}));
  EXPECT_EQ(au->mSlices[0].p1.mStartValue, 7.0f);
  EXPECT_EQ(au->mSlices[0].p1.mOffsetInSlice, -5);
}

TEST_F(ScheduledSlicingTest, EventsForAbsentElementsAreSkippedAndBadOnesEndTheSlicing) {
  au->mPendingEvents = {ImmediateEvent(0, 0, 1.0f, kAudioUnitScope_Global, 3),
                        ImmediateEvent(0, 8, 1.0f, 1, 5)};
  EXPECT_EQ(Slice(16), noErr);
  EXPECT_EQ(au->Bounds(), (Bounds{{0, 8}, {8, 16}}));

  // One that cannot be applied is skipped and reported; the audio goes on.
  au->mSlices.clear();
  au->mPendingEvents = {ImmediateEvent(0, 8, 1.0f, 6)};
  EXPECT_EQ(Slice(16), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(au->Bounds(), (Bounds{{0, 8}, {8, 16}}));

  au->mSlices.clear();
  au->mPendingEvents = {ImmediateEvent(7, 0, 1.0f)};
  EXPECT_EQ(Slice(16), kAudioUnitErr_InvalidParameter);
  EXPECT_EQ(au->Bounds(), (Bounds{{0, 16}}));
}

TEST_F(ScheduledSlicingTest, AFailingSliceStopsTheSlicing) {
  au->mPendingEvents = {ImmediateEvent(0, 8, 1.0f), ImmediateEvent(0, 16, 2.0f)};
  au->mFailAtSlice = 2;
  EXPECT_EQ(Slice(32), -42);
  EXPECT_EQ(au->Bounds(), (Bounds{{0, 8}, {8, 16}}));
}

TEST_F(ScheduledSlicingTest, MapModeEventsForAbsentIdsAreIgnoredOnceInitialized) {
  AUElement& input = *au->Inputs().GetElement(0);
  au->mPendingEvents = {ImmediateEvent(4, 0, 1.0f, kAudioUnitScope_Input)};
  EXPECT_EQ(Slice(8), noErr);
  EXPECT_EQ(input.GetParameter(4), 1.0f);  // created while uninitialized

  ASSERT_EQ(au->DoInitialize(), noErr);
  au->mPendingEvents = {ImmediateEvent(5, 0, 1.0f, kAudioUnitScope_Input),
                        ImmediateEvent(4, 0, 2.0f, kAudioUnitScope_Input)};
  EXPECT_EQ(Slice(8), noErr);
  EXPECT_EQ(input.GetNumberOfParameters(), 1u);
  EXPECT_EQ(input.GetParameter(4), 2.0f);
}

}  // namespace
