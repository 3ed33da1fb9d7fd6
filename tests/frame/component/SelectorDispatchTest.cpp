// The selector dispatchers: argument words, pointer checks, the get-property
// buffer protocol, the set/remove split, reset order and the can-do answers.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <initializer_list>

#include "RenderTestSupport.h"

namespace {

using rendertest::HostList;
using rendertest::PatternAU;

constexpr AudioUnitPropertyID kBlobProperty = 0x10000;  // 12 bytes, answered by the instance
constexpr UInt32 kBlobSize = 12;

// Answers one property of its own and records what the dispatcher hands it.
class DispatchAU : public PatternAU {
 public:
  using PatternAU::PatternAU;

  OSStatus GetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                           UInt32& outDataSize, Boolean& outWritable) override {
    if (id != kBlobProperty) return PatternAU::GetPropertyInfo(id, scope, element, outDataSize, outWritable);
    ++infoCalls;
    outDataSize = kBlobSize;
    outWritable = true;
    return noErr;
  }
  OSStatus GetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       void* outData) override {
    if (id != kBlobProperty) return PatternAU::GetProperty(id, scope, element, outData);
    ++getCalls;
    if (failGet) return -7;
    auto* bytes = static_cast<Byte*>(outData);
    for (UInt32 i = 0; i < kBlobSize; ++i) bytes[i] = static_cast<Byte>(i + 1);
    return noErr;
  }
  OSStatus SetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       const void* inData, UInt32 inDataSize) override {
    if (id != kBlobProperty) return PatternAU::SetProperty(id, scope, element, inData, inDataSize);
    ++setCalls;
    lastSetSize = inDataSize;
    return noErr;
  }
  OSStatus RemovePropertyValue(AudioUnitPropertyID id, AudioUnitScope scope,
                               AudioUnitElement element) override {
    if (id != kBlobProperty) return PatternAU::RemovePropertyValue(id, scope, element);
    ++removeCalls;
    return noErr;
  }
  OSStatus Reset(AudioUnitScope scope, AudioUnitElement element) override {
    timeSeenByReset = GetLastRenderSampleTime();
    resetArgs = {scope, element};
    return resetResult;
  }
  OSStatus GetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                        AudioUnitParameterValue& outValue) override {
    parameterArgs = {id, scope, element};
    outValue = 0.75f;
    return noErr;
  }
  OSStatus SetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                        AudioUnitParameterValue value, UInt32 offset) override {
    parameterArgs = {id, scope, element};
    setValue = value;
    setOffset = offset;
    return noErr;
  }
  OSStatus ScheduleParameter(const AudioUnitParameterEvent* events, UInt32 count) override {
    scheduled = events;
    scheduledCount = count;
    return noErr;
  }

  int infoCalls = 0, getCalls = 0, setCalls = 0, removeCalls = 0;
  bool failGet = false;
  UInt32 lastSetSize = 0;
  Float64 timeSeenByReset = 0;
  std::array<UInt32, 2> resetArgs{};
  OSStatus resetResult = noErr;
  std::array<UInt32, 3> parameterArgs{};
  Float32 setValue = 0;
  UInt32 setOffset = 0;
  const AudioUnitParameterEvent* scheduled = nullptr;
  UInt32 scheduledCount = 0;
};

long Word(UInt32 v) {
  return static_cast<long>(static_cast<UInt64>(v));
}
template <class T>
long Word(T* p) {
  return reinterpret_cast<long>(p);
}
long Word(Float32 v) {
  return Word(std::bit_cast<UInt32>(v));
}

// A call record with the arguments from word 1, word 0 left as given.
ComponentParameters Record(SInt16 what, std::initializer_list<long> args, long word0 = 0) {
  ComponentParameters p{};
  p.what = what;
  p.params[0] = word0;
  int k = 1;
  for (long a : args) p.params[k++] = a;
  return p;
}

class SelectorDispatch : public frametest::CFLeakCheck {
 protected:
  void SetUp() override {
    CFLeakCheck::SetUp();
    au = frametest::Open<DispatchAU>();
  }
  void TearDown() override {
    if (au) frametest::Close(au);
    CFLeakCheck::TearDown();
  }
  OSStatus Call(SInt16 what, std::initializer_list<long> args, long word0 = 0) {
    ComponentParameters p = Record(what, args, word0);
    return AUBase::ComponentEntryDispatch(&p, au.get());
  }
  OSStatus CanDo(long selector) { return Call(kComponentCanDoSelect, {}, selector); }

  std::unique_ptr<DispatchAU> au;
};

TEST_F(SelectorDispatch, NullInstanceIsParamErrorForEverySelector) {
  for (SInt16 what : {1, 2, 4, 14, 11, -2, -3, -4, 99}) {
    ComponentParameters p = Record(what, {});
    EXPECT_EQ(AUBase::ComponentEntryDispatch(&p, nullptr), kAudio_ParamError) << what;
    EXPECT_EQ(ComponentBase::ComponentEntryDispatch(&p, nullptr), kAudio_ParamError) << what;
  }
}

TEST_F(SelectorDispatch, GetPropertyTruncatesIntoASmallBuffer) {
  std::array<Byte, 16> out{};
  out.fill(0xEE);
  UInt32 size = 5;
  ASSERT_EQ(Call(kAudioUnitGetPropertySelect, {Word(kBlobProperty), Word(kAudioUnitScope_Global), Word(0u),
                                               Word(out.data()), Word(&size)}),
            noErr);
  EXPECT_EQ(size, 5u) << "the size word stays as the caller gave it";
  for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], i + 1);
  EXPECT_EQ(out[5], 0xEE) << "not one byte beyond the caller's size";

  size = 16;
  ASSERT_EQ(Call(kAudioUnitGetPropertySelect, {Word(kBlobProperty), Word(kAudioUnitScope_Global), Word(0u),
                                               Word(out.data()), Word(&size)}),
            noErr);
  EXPECT_EQ(size, kBlobSize);
  EXPECT_EQ(out[11], 12);
  EXPECT_EQ(out[12], 0xEE);
}

TEST_F(SelectorDispatch, AReferenceIsNeverTruncated) {
  const CFStringRef name = CFSTR("session");
  ASSERT_EQ(
      au->DispatchSetProperty(kAudioUnitProperty_ContextName, kAudioUnitScope_Global, 0, &name, sizeof name),
      noErr);
  for (const AudioUnitPropertyID id :
       {kAudioUnitProperty_ClassInfo, kAudioUnitProperty_ContextName, kAudioUnitProperty_PresentPreset}) {
    std::array<Byte, 16> out{};
    UInt32 size = 4;
    EXPECT_EQ(Call(kAudioUnitGetPropertySelect,
                   {Word(id), Word(kAudioUnitScope_Global), Word(0u), Word(out.data()), Word(&size)}),
              kAudio_ParamError)
        << id;
    EXPECT_EQ(out[0], 0) << "no half pointer";
  }
  // The fixture's leak check: nothing was retained for the refused reads.
}

TEST_F(SelectorDispatch, GetPropertySizeQueryAndRefusals) {
  UInt32 size = 0;
  ASSERT_EQ(Call(kAudioUnitGetPropertySelect,
                 {Word(kBlobProperty), Word(kAudioUnitScope_Global), Word(0u), 0, Word(&size)}),
            noErr);
  EXPECT_EQ(size, kBlobSize);
  EXPECT_EQ(au->getCalls, 0) << "a size query does not read the property";

  std::array<Byte, 16> out{};
  EXPECT_EQ(Call(kAudioUnitGetPropertySelect,
                 {Word(kBlobProperty), Word(kAudioUnitScope_Global), Word(0u), Word(out.data()), 0}),
            kAudio_ParamError);
  size = 0;
  EXPECT_EQ(Call(kAudioUnitGetPropertySelect, {Word(kBlobProperty), Word(kAudioUnitScope_Global), Word(0u),
                                               Word(out.data()), Word(&size)}),
            kAudio_ParamError);
  EXPECT_EQ(au->getCalls, 0);

  // A failing get leaves the size word at 0, with or without the temporary.
  au->failGet = true;
  for (UInt32 given : {4u, 16u}) {
    size = given;
    EXPECT_EQ(Call(kAudioUnitGetPropertySelect, {Word(kBlobProperty), Word(kAudioUnitScope_Global), Word(0u),
                                                 Word(out.data()), Word(&size)}),
              -7);
    EXPECT_EQ(size, 0u);
  }
}

TEST_F(SelectorDispatch, GetPropertyInfoFillsOnlyThePointersGiven) {
  UInt32 size = 0;
  Boolean writable = false;
  ASSERT_EQ(Call(kAudioUnitGetPropertyInfoSelect,
                 {Word(kBlobProperty), Word(kAudioUnitScope_Global), Word(0u), Word(&size), Word(&writable)}),
            noErr);
  EXPECT_EQ(size, kBlobSize);
  EXPECT_TRUE(writable);
  EXPECT_EQ(Call(kAudioUnitGetPropertyInfoSelect,
                 {Word(kBlobProperty), Word(kAudioUnitScope_Global), Word(0u), 0, 0}),
            noErr);
  EXPECT_EQ(au->infoCalls, 2);
}

TEST_F(SelectorDispatch, SetPropertySplitsSetFromRemoval) {
  const UInt32 value = 1;
  EXPECT_EQ(Call(kAudioUnitSetPropertySelect,
                 {Word(kBlobProperty), Word(kAudioUnitScope_Global), Word(0u), Word(&value), Word(0u)}),
            kAudio_ParamError);
  EXPECT_EQ(Call(kAudioUnitSetPropertySelect,
                 {Word(kBlobProperty), Word(kAudioUnitScope_Global), Word(0u), 0, Word(4u)}),
            kAudio_ParamError);
  EXPECT_EQ(au->setCalls + au->removeCalls, 0) << "nothing is looked at";

  EXPECT_EQ(Call(kAudioUnitSetPropertySelect,
                 {Word(kBlobProperty), Word(kAudioUnitScope_Global), Word(0u), 0, Word(0u)}),
            noErr);
  EXPECT_EQ(au->removeCalls, 1);
  EXPECT_EQ(Call(kAudioUnitSetPropertySelect,
                 {Word(kBlobProperty), Word(kAudioUnitScope_Global), Word(0u), Word(&value), Word(4u)}),
            noErr);
  EXPECT_EQ(au->setCalls, 1);
  EXPECT_EQ(au->lastSetSize, 4u);
}

TEST_F(SelectorDispatch, ParametersUnpackTheirWords) {
  Float32 value = 0;
  EXPECT_EQ(Call(kAudioUnitGetParameterSelect, {Word(3u), Word(0u), Word(0u), 0}), kAudio_ParamError);
  ASSERT_EQ(Call(kAudioUnitGetParameterSelect, {Word(3u), Word(1u), Word(2u), Word(&value)}), noErr);
  EXPECT_EQ(value, 0.75f);
  EXPECT_EQ(au->parameterArgs, (std::array<UInt32, 3>{3, 1, 2}));

  // High bits of a word are not part of a 32-bit argument.
  const long dirty = static_cast<long>(0xDEADBEEF00000000ull);
  ASSERT_EQ(Call(kAudioUnitSetParameterSelect,
                 {Word(9u) | dirty, Word(0u), Word(4u), Word(-2.5f) | dirty, Word(17u)}),
            noErr);
  EXPECT_EQ(au->parameterArgs, (std::array<UInt32, 3>{9, 0, 4}));
  EXPECT_EQ(au->setValue, -2.5f);
  EXPECT_EQ(au->setOffset, 17u);

  AudioUnitParameterEvent events[2]{};
  EXPECT_EQ(Call(kAudioUnitScheduleParametersSelect, {Word(events), Word(2u)}), noErr);
  EXPECT_EQ(au->scheduled, events);
  EXPECT_EQ(au->scheduledCount, 2u);
  EXPECT_EQ(Call(kAudioUnitScheduleParametersSelect, {0, Word(2u)}), kAudio_ParamError);
}

TEST_F(SelectorDispatch, LifecycleSelectors) {
  EXPECT_EQ(Call(kAudioUnitUninitializeSelect, {}), noErr) << "never initialized";
  EXPECT_EQ(au->mCleanupCalls, 0);
  EXPECT_EQ(Call(kAudioUnitInitializeSelect, {}), noErr);
  EXPECT_TRUE(au->IsInitialized());
  EXPECT_EQ(Call(kAudioUnitUninitializeSelect, {}), noErr);
  EXPECT_EQ(au->mCleanupCalls, 1);
  au->mInitializeResult = kAudioUnitErr_FormatNotSupported;
  EXPECT_EQ(Call(kAudioUnitInitializeSelect, {}), kAudioUnitErr_FormatNotSupported);
}

TEST_F(SelectorDispatch, ResetForgetsTheSampleTimeBeforeTheInstanceResets) {
  au->mLastSampleTime = 512.0;
  au->resetResult = -9;
  EXPECT_EQ(Call(kAudioUnitResetSelect, {Word(kAudioUnitScope_Input), Word(3u)}), -9);
  EXPECT_EQ(au->timeSeenByReset, kNoLastRenderedSampleTime);
  EXPECT_EQ(au->GetLastRenderSampleTime(), kNoLastRenderedSampleTime);
  EXPECT_EQ(au->resetArgs, (std::array<UInt32, 2>{kAudioUnitScope_Input, 3}));
}

TEST_F(SelectorDispatch, RenderSelectorChecksPointersAndLendsAFlagsWord) {
  ASSERT_EQ(au->DoInitialize(), noErr);
  HostList host(2, 4096);
  const AudioTimeStamp ts = rendertest::StampAt(0);
  AudioUnitRenderActionFlags flags = 0;
  EXPECT_EQ(Call(kAudioUnitRenderSelect, {Word(&flags), 0, Word(0u), Word(64u), Word(&host.list())}),
            kAudio_ParamError);
  EXPECT_EQ(Call(kAudioUnitRenderSelect, {Word(&flags), Word(&ts), Word(0u), Word(64u), 0}),
            kAudio_ParamError);
  EXPECT_EQ(au->mRenderCalls, 0);
  EXPECT_EQ(au->mRenderError.load(), noErr);

  EXPECT_EQ(Call(kAudioUnitRenderSelect, {0, Word(&ts), Word(0u), Word(64u), Word(&host.list())}), noErr);
  EXPECT_EQ(au->mRenderCalls, 1);
  EXPECT_EQ(au->mLastFrames, 64u);
  EXPECT_EQ(host.samples(1)[63], rendertest::Pattern(1, 63, 1));
}

TEST_F(SelectorDispatch, ListenerAndNotificationSelectors) {
  frametest::ListenerRecorder rec;
  EXPECT_EQ(Call(kAudioUnitAddPropertyListenerSelect, {Word(kAudioUnitProperty_StreamFormat),
                                                       Word(&frametest::ListenerRecorder::Proc), Word(&rec)}),
            noErr);
  EXPECT_EQ(au->mPropertyListeners.size(), 1u);
  // Without the reference value: not a selector of this component.
  EXPECT_EQ(Call(kAudioUnitRemovePropertyListenerSelect,
                 {Word(kAudioUnitProperty_StreamFormat), Word(&frametest::ListenerRecorder::Proc)}),
            badComponentSelector);
  EXPECT_EQ(au->mPropertyListeners.size(), 1u);
  int otherRefCon = 0;
  EXPECT_EQ(Call(kAudioUnitRemovePropertyListenerWithUserDataSelect,
                 {Word(kAudioUnitProperty_StreamFormat), Word(&frametest::ListenerRecorder::Proc),
                  Word(&otherRefCon)}),
            noErr);
  EXPECT_EQ(au->mPropertyListeners.size(), 1u) << "the reference value takes part in the match";
  EXPECT_EQ(
      Call(kAudioUnitRemovePropertyListenerWithUserDataSelect,
           {Word(kAudioUnitProperty_StreamFormat), Word(&frametest::ListenerRecorder::Proc), Word(&rec)}),
      noErr);
  EXPECT_TRUE(au->mPropertyListeners.empty());

  rendertest::NotifyRecorder notes;
  EXPECT_EQ(Call(kAudioUnitAddRenderNotifySelect, {0, Word(&notes)}), kAudio_ParamError);
  EXPECT_EQ(Call(kAudioUnitAddRenderNotifySelect, {Word(&rendertest::NotifyRecorder::Proc), Word(&notes)}),
            noErr);
  EXPECT_EQ(Call(kAudioUnitRemoveRenderNotifySelect, {0, 0}), noErr) << "no check, always 0";
  ASSERT_EQ(au->DoInitialize(), noErr);
  HostList host(2, 4096);
  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(au->DoRender(flags, rendertest::StampAt(0), 0, 16, host.list()), noErr);
  EXPECT_EQ(notes.calls.size(), 2u);
  EXPECT_EQ(Call(kAudioUnitRemoveRenderNotifySelect, {Word(&rendertest::NotifyRecorder::Proc), Word(&notes)}),
            noErr);
  ASSERT_EQ(au->DoRender(flags, rendertest::StampAt(16), 0, 16, host.list()), noErr);
  EXPECT_EQ(notes.calls.size(), 2u);
}

TEST_F(SelectorDispatch, UnhandledSelectorsAreBadComponentSelector) {
  for (SInt16 what : {0, 8, 11, 12, 13, 19, 20, 21, 22, -5, 300}) {
    EXPECT_EQ(Call(what, {}), badComponentSelector) << what;
  }
}

TEST_F(SelectorDispatch, CanDoAgreesWithTheTable) {
  for (long s : {1, 2, 3, 4, 5, 6, 7, 9, 10, 14, 15, 16, 17, 18, -1, -2, -3, -4}) EXPECT_EQ(CanDo(s), 1) << s;
  for (long s : {0, 8, 11, 12, 13, 19, 20, 21, 22, -5, 0x7FFF, 0x10001}) EXPECT_EQ(CanDo(s), 0) << s;
  // The generic selectors are negative only as sign-extended words.
  EXPECT_EQ(CanDo(0xFFFF), 0);
}

TEST_F(SelectorDispatch, VersionAndCanDoThroughTheHost) {
  EXPECT_EQ(Call(kComponentVersionSelect, {}), 1) << "the component base's version";
  frametest::HostHandle handle;
  ASSERT_NE(handle.get(), nullptr);
  SetComponentInstanceStorage(handle, au.get());
  EXPECT_TRUE(AudioComponentInstanceCanDo(handle, kAudioUnitRemovePropertyListenerWithUserDataSelect));
  EXPECT_FALSE(AudioComponentInstanceCanDo(handle, kAudioUnitRemovePropertyListenerSelect));
  EXPECT_TRUE(AudioComponentInstanceCanDo(handle, kComponentVersionSelect));
  EXPECT_FALSE(AudioComponentInstanceCanDo(handle, -5));
  EXPECT_FALSE(AudioComponentInstanceCanDo(handle, 22));

  ASSERT_EQ(AudioUnitInitialize(handle), noErr);
  HostList host(2, 4096);
  const AudioTimeStamp ts = rendertest::StampAt(0);
  EXPECT_EQ(AudioUnitRender(handle, nullptr, &ts, 0, 32, &host.list()), noErr);
  EXPECT_EQ(AudioUnitRender(handle, nullptr, nullptr, 0, 32, &host.list()), kAudio_ParamError);
  EXPECT_EQ(au->mRenderCalls, 1);
}

struct Lifetime {
  static inline int preDestructors = 0;
  static inline int destructors = 0;
};

class ClosingAU : public frametest::TestAU {
 public:
  using TestAU::TestAU;
  ~ClosingAU() override { ++Lifetime::destructors; }
  void PreDestructor() override {
    ++Lifetime::preDestructors;
    TestAU::PreDestructor();
  }
  SInt32 Version() override { return 0x00010000; }
};

TEST(ComponentDispatch, CloseRunsPreDestructorThenDestroys) {
  Lifetime::preDestructors = Lifetime::destructors = 0;
  auto* au = new ClosingAU();
  au->PostConstructor();
  ComponentParameters version = Record(kComponentVersionSelect, {});
  EXPECT_EQ(AUBase::ComponentEntryDispatch(&version, au), 0x00010000);
  ComponentParameters close = Record(kComponentCloseSelect, {});
  EXPECT_EQ(AUBase::ComponentEntryDispatch(&close, au), noErr);
  EXPECT_EQ(Lifetime::preDestructors, 1);
  EXPECT_EQ(Lifetime::destructors, 1);
}

}  // namespace
