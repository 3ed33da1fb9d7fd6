// The property table: scope rules, element checks, sizes, writability, the
// order of the checks, what a get writes, and who is notified of a set.
#include <bit>
#include <cmath>

#include "PropsTestSupport.h"

using namespace frametest;
using namespace propstest;

namespace {

class PropertyTable : public CFLeakCheck {
 protected:
  void SetUp() override {
    CFLeakCheck::SetUp();
    au = Open<ParamAU>();
    for (AudioUnitPropertyID id : {1u, 8u, 11u, 14u, 19u, 21u, 23u, 25u, 27u, 30u, 36u}) {
      au->AddPropertyListener(id, ListenerRecorder::Proc, &heard);
    }
  }
  void TearDown() override {
    Close(au);
    CFLeakCheck::TearDown();
  }
  std::unique_ptr<ParamAU> au;
  ListenerRecorder heard;
};

// A descendant that knows a few properties the frame leaves to it.
class DescendantAU : public TestAU {
 public:
  using TestAU::TestAU;
  OSStatus SetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       const void* data, UInt32 size) override {
    if (id == kAudioUnitProperty_BypassEffect) {
      if (size != sizeof(UInt32)) return kAudioUnitErr_InvalidPropertyValue;
      std::memcpy(&mBypass, data, sizeof mBypass);
      mHeardBeforeAccepting = mWatch != nullptr ? mWatch->calls.size() : 99;
      return noErr;
    }
    return TestAU::SetProperty(id, scope, element, data, size);
  }
  OSStatus GetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       void* data) override {
    if (id == kAudioUnitProperty_ParameterClumpName) {
      auto* record = static_cast<AudioUnitParameterNameInfo*>(data);
      record->outName = CFSTR("Descendant clump");
      return noErr;
    }
    return TestAU::GetProperty(id, scope, element, data);
  }
  bool BusCountWritable(AudioUnitScope scope) override { return scope == kAudioUnitScope_Input; }
  CFURLRef CopyIconLocation() override {
    if (!mHasIcon) return nullptr;
    CFRef path = String("/icons/varsile.icns");
    return CFURLCreateWithFileSystemPath(nullptr, path.as<CFStringRef>(), kCFURLPOSIXPathStyle, false);
  }
  bool SupportsTail() override { return true; }
  Float64 GetTailTime() override { return 0.25; }

  UInt32 mBypass = 0;
  bool mHasIcon = true;
  ListenerRecorder* mWatch = nullptr;
  std::size_t mHeardBeforeAccepting = 99;
};

}  // namespace

TEST_F(PropertyTable, MaximumFramesInfoDependsOnTheScopeAndElement) {
  EXPECT_EQ(GetInfo(*au, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Input, 0).status,
            kAudioUnitErr_InvalidScope);
  const Info info = GetInfo(*au, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0);
  EXPECT_EQ(info.status, noErr);
  EXPECT_EQ(info.size, 4u);
  EXPECT_TRUE(info.writable);
  EXPECT_EQ(GetInfo(*au, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 1).status,
            kAudioUnitErr_InvalidElement);
}

TEST_F(PropertyTable, MaximumFramesAreSetOnlyWhileUninitializedAndNotifiedOnce) {
  ASSERT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_MaximumFramesPerSlice, 0, 0, UInt32{512}),
            kAudioUnitErr_Initialized);
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_MaximumFramesPerSlice), 0u);
  EXPECT_EQ(au->GetMaxFramesPerSlice(), 1156u);

  au->DoCleanup();
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_MaximumFramesPerSlice, 0, 0, UInt64{512}),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_MaximumFramesPerSlice, 0, 0, UInt32{512}), noErr);
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_MaximumFramesPerSlice), 1u);
  UInt32 frames = 0;
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_MaximumFramesPerSlice, 0, 0, frames), noErr);
  EXPECT_EQ(frames, 512u);
}

TEST_F(PropertyTable, ScopeRulesComeBeforeEverythingElse) {
  // Global only.
  for (AudioUnitPropertyID id : {0u, 5u, 12u, 13u, 14u, 18u, 20u, 22u, 24u, 25u, 27u, 36u, 39u}) {
    EXPECT_EQ(GetInfo(*au, id, kAudioUnitScope_Output, 0).status, kAudioUnitErr_InvalidScope) << id;
  }
  // Global or input.
  for (AudioUnitPropertyID id : {1u, 23u}) {
    EXPECT_EQ(GetInfo(*au, id, kAudioUnitScope_Output, 0).status, kAudioUnitErr_InvalidScope) << id;
    EXPECT_EQ(GetInfo(*au, id, kAudioUnitScope_Input, 0).status, noErr) << id;
    EXPECT_EQ(GetInfo(*au, id, kAudioUnitScope_Input, 1).status, kAudioUnitErr_InvalidElement) << id;
  }
  // Input or output.
  EXPECT_EQ(GetInfo(*au, kAudioUnitProperty_ShouldAllocateBuffer, 0, 0).status, kAudioUnitErr_InvalidScope);
  EXPECT_EQ(GetInfo(*au, kAudioUnitProperty_ShouldAllocateBuffer, kAudioUnitScope_Output, 0).status, noErr);
  // Any scope, but the lookup throws above 4.
  EXPECT_EQ(Thrown([&] { GetInfo(*au, kAudioUnitProperty_ElementName, 5, 0); }), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(GetInfo(*au, kAudioUnitProperty_ElementName, kAudioUnitScope_Group, 0).status,
            kAudioUnitErr_InvalidElement);
}

TEST_F(PropertyTable, InfoReportsTheRecordSizes) {
  struct Expected {
    AudioUnitPropertyID id;
    AudioUnitScope scope;
    UInt32 size;
    bool writable;
  };
  for (const Expected& e :
       std::initializer_list<Expected>{{0, 0, 8, true},
                                       {1, 1, 16, true},
                                       {3, 0, 88, false},
                                       {4, 0, 104, false},
                                       {5, 0, 8, false},
                                       {11, 1, 4, false},
                                       {12, 0, 8, false},
                                       {14, 0, 4, true},
                                       {22, 0, 4, false},
                                       {23, 1, 16, true},
                                       {25, 0, 8, true},
                                       {27, 0, 32, true},
                                       {30, 2, 8, true},
                                       {35, 0, 16, false},
                                       {36, 0, 16, true},
                                       {51, 1, 4, true},
                                       {kAudioUnitProperty_LastRenderedSampleTime, 2, 8, false}}) {
    const Info info = GetInfo(*au, e.id, e.scope, 0);
    EXPECT_EQ(info.status, noErr) << e.id;
    EXPECT_EQ(info.size, e.size) << e.id;
    EXPECT_EQ(static_cast<bool>(info.writable), e.writable) << e.id;
  }
}

TEST_F(PropertyTable, OptionalFeaturesTheFrameLacksAnswerInvalidProperty) {
  for (AudioUnitPropertyID id : {13u, 18u, 20u, 24u, 39u}) {
    EXPECT_EQ(GetInfo(*au, id, 0, 0).status, kAudioUnitErr_InvalidProperty) << id;
  }
  // No value strings: the descendant's answer is returned.
  EXPECT_EQ(GetInfo(*au, kAudioUnitProperty_ParameterValueStrings, 0, 0).status,
            kAudioUnitErr_InvalidProperty);
  // Properties nobody answers, in every operation.
  for (AudioUnitPropertyID id : {AudioUnitPropertyID{kAudioUnitProperty_CPULoad},
                                 AudioUnitPropertyID{kAudioUnitProperty_RenderQuality}, 7u, 9999u}) {
    EXPECT_EQ(GetInfo(*au, id, 0, 0).status, kAudioUnitErr_InvalidProperty) << id;
    UInt64 scratch = 0;
    EXPECT_EQ(GetProp(*au, id, 0, 0, scratch), kAudioUnitErr_InvalidProperty) << id;
    EXPECT_EQ(SetProp(*au, id, 0, 0, UInt32{1}), kAudioUnitErr_InvalidProperty) << id;
    EXPECT_EQ(au->DispatchRemovePropertyValue(id, 0, 0), kAudioUnitErr_InvalidPropertyValue) << id;
  }
  EXPECT_TRUE(heard.calls.empty());
}

TEST_F(PropertyTable, TailTimeIsRefusedAndLatencyIsZero) {
  EXPECT_EQ(GetInfo(*au, kAudioUnitProperty_TailTime, 0, 0).status, kAudioUnitErr_InvalidProperty);
  Float64 seconds = -1.0;
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_TailTime, 0, 0, seconds), kAudioUnitErr_InvalidProperty);
  const Info latency = GetInfo(*au, kAudioUnitProperty_Latency, 0, 0);
  EXPECT_EQ(latency.status, noErr);
  EXPECT_EQ(latency.size, 8u);
  EXPECT_FALSE(latency.writable);
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_Latency, 0, 0, seconds), noErr);
  EXPECT_EQ(seconds, 0.0);
}

TEST_F(PropertyTable, ElementCountIsReadButNotWritable) {
  const Info info = GetInfo(*au, kAudioUnitProperty_ElementCount, kAudioUnitScope_Input, 0);
  EXPECT_EQ(info.status, noErr);
  EXPECT_EQ(info.size, 4u);
  EXPECT_FALSE(info.writable);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ElementCount, kAudioUnitScope_Input, 0, UInt32{3}),
            kAudioUnitErr_PropertyNotWritable);
  UInt32 count = 0;
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_ElementCount, kAudioUnitScope_Input, 0, count), noErr);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_ElementCount, kAudioUnitScope_Group, 0, count), noErr);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_ElementCount), 0u);
}

TEST_F(PropertyTable, AWritableElementCountGrowsTheScopeOnlyWhileUninitialized) {
  auto d = Open<DescendantAU>();
  ListenerRecorder rec;
  d->AddPropertyListener(kAudioUnitProperty_ElementCount, ListenerRecorder::Proc, &rec);
  EXPECT_TRUE(GetInfo(*d, kAudioUnitProperty_ElementCount, kAudioUnitScope_Input, 0).writable);
  EXPECT_EQ(SetProp(*d, kAudioUnitProperty_ElementCount, kAudioUnitScope_Input, 0, UInt16{3}),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(SetProp(*d, kAudioUnitProperty_ElementCount, kAudioUnitScope_Input, 0, UInt32{3}), noErr);
  EXPECT_EQ(d->Inputs().GetNumberOfElements(), 3u);
  EXPECT_NE(d->GetInput(2), nullptr);
  ASSERT_EQ(rec.calls.size(), 1u);
  EXPECT_EQ(rec.calls[0].scope, kAudioUnitScope_Input);

  ASSERT_EQ(d->DoInitialize(), noErr);
  EXPECT_EQ(SetProp(*d, kAudioUnitProperty_ElementCount, kAudioUnitScope_Input, 0, UInt32{1}),
            kAudioUnitErr_Initialized);
  EXPECT_EQ(d->Inputs().GetNumberOfElements(), 3u);
  EXPECT_EQ(rec.calls.size(), 1u);
  Close(d);
}

TEST_F(PropertyTable, FastDispatchHandsOutTheThreeEntries) {
  void* entry = nullptr;
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_FastDispatch, 0, kAudioUnitRenderSelect, entry), noErr);
  EXPECT_EQ(entry, reinterpret_cast<void*>(&AudioUnitBaseRender));
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_FastDispatch, 0, kAudioUnitGetParameterSelect, entry), noErr);
  EXPECT_EQ(entry, reinterpret_cast<void*>(&AudioUnitBaseGetParameter));
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_FastDispatch, 0, kAudioUnitSetParameterSelect, entry), noErr);
  EXPECT_EQ(entry, reinterpret_cast<void*>(&AudioUnitBaseSetParameter));
  entry = nullptr;
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_FastDispatch, 0, kAudioUnitResetSelect, entry),
            kAudioUnitErr_InvalidProperty);
  EXPECT_EQ(entry, nullptr);
}

TEST_F(PropertyTable, TheLastRenderErrorIsConsumedByReadingIt) {
  au->mRenderError = kAudioUnitErr_TooManyFramesToProcess;
  OSStatus error = noErr;
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_LastRenderError, 0, 0, error), noErr);
  EXPECT_EQ(error, kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_LastRenderError, 0, 0, error), noErr);
  EXPECT_EQ(error, noErr);
}

TEST_F(PropertyTable, ContextNameIsHeldByOneReference) {
  CFStringRef name = CFSTR("sentinel");
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_ContextName, 0, 0, name), kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(au->DispatchRemovePropertyValue(kAudioUnitProperty_ContextName, 0, 0), noErr);

  CFRef track = String("Track 1");
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ContextName, kAudioUnitScope_Input, 0, track.get()),
            kAudioUnitErr_InvalidScope);
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_ContextName, 0, 0, &name, 4),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_ContextName), 0u);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ContextName, 0, 3, track.get()), noErr);
  EXPECT_EQ(CFGetRetainCount(track.get()), 2);
  ASSERT_EQ(heard.calls.size(), 1u);
  EXPECT_EQ(heard.calls[0].scope, kAudioUnitScope_Global);
  EXPECT_EQ(heard.calls[0].element, 3u);

  // Setting the held name again must not free it on the way.
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ContextName, 0, 0, track.get()), noErr);
  EXPECT_EQ(CFGetRetainCount(track.get()), 2);

  ASSERT_EQ(GetProp(*au, kAudioUnitProperty_ContextName, 0, 0, name), noErr);
  CFRef got(name);
  EXPECT_EQ(got.get(), track.get());
  EXPECT_EQ(CFGetRetainCount(track.get()), 3);
  got.Reset();

  const std::size_t before = heard.calls.size();
  EXPECT_EQ(au->DispatchRemovePropertyValue(kAudioUnitProperty_ContextName, kAudioUnitScope_Output, 0),
            noErr);
  EXPECT_EQ(CFGetRetainCount(track.get()), 1);
  EXPECT_EQ(heard.calls.size(), before);  // removal is not announced
}

TEST_F(PropertyTable, PresetsByNumberAndByName) {
  CFRef name = String("My sound");
  AUPreset user{-1, name.as<CFStringRef>()};
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_PresentPreset, 0, 2, user), noErr);
  ASSERT_EQ(heard.CountFor(kAudioUnitProperty_PresentPreset), 1u);
  EXPECT_EQ(heard.calls.back().scope, kAudioUnitScope_Global);
  EXPECT_EQ(heard.calls.back().element, 2u);
  EXPECT_EQ(au->GetCurrentPreset().presetName, name.get());

  AUPreset got{};
  ASSERT_EQ(GetProp(*au, kAudioUnitProperty_PresentPreset, 0, 0, got), noErr);
  CFRef gotName(got.presetName);
  EXPECT_EQ(got.presetNumber, -1);
  EXPECT_EQ(Text(gotName.get()), "My sound");

  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_PresentPreset, 0, 0, AUPreset{-1, nullptr}),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_PresentPreset, 0, 0, AUPreset{0, nullptr}),
            kAudioUnitErr_InvalidProperty);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Output, 0, user),
            kAudioUnitErr_InvalidScope);
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_PresentPreset, 0, 0, &user, 8),
            kAudioUnitErr_InvalidPropertyValue);
  // A name that is not a string would be saved, then refused by the restore.
  CFRef notText(CFDataCreate(nullptr, nullptr, 0));
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_PresentPreset, 0, 0, AUPreset{-1, notText.as<CFStringRef>()}),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ElementName, kAudioUnitScope_Input, 0, notText.as<CFStringRef>()),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_PresentPreset), 1u);
  EXPECT_EQ(au->GetCurrentPreset().presetName, name.get());
}

TEST_F(PropertyTable, HostCallbacksCompareTheBytesGiven) {
  std::memset(&au->mHostCallbackInfo, 0xAB, sizeof au->mHostCallbackInfo);
  UInt8 given[16];
  for (int i = 0; i < 16; ++i) given[i] = static_cast<UInt8>(i + 1);
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_HostCallbacks, 0, 1, given, sizeof given), noErr);
  UInt8 stored[32];
  ASSERT_EQ(GetProp(*au, kAudioUnitProperty_HostCallbacks, 0, 0, stored), noErr);
  EXPECT_EQ(std::memcmp(stored, given, 16), 0);
  for (int i = 16; i < 32; ++i) EXPECT_EQ(stored[i], 0) << i;
  ASSERT_EQ(heard.CountFor(kAudioUnitProperty_HostCallbacks), 1u);
  EXPECT_EQ(heard.calls.back().element, 1u);

  // The same bytes again change nothing and are not announced.
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_HostCallbacks, 0, 0, given, sizeof given), noErr);
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_HostCallbacks), 1u);
  // More than the record: only its 32 bytes are read.
  UInt8 large[40] = {};
  large[0] = 7;
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_HostCallbacks, 0, 0, large, sizeof large), noErr);
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_HostCallbacks), 2u);
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_HostCallbacks, 1, 0, large, 32),
            kAudioUnitErr_InvalidScope);

  EXPECT_EQ(au->DispatchRemovePropertyValue(kAudioUnitProperty_HostCallbacks, 0, 0), noErr);
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_HostCallbacks), 3u);
  EXPECT_EQ(au->DispatchRemovePropertyValue(kAudioUnitProperty_HostCallbacks, 0, 0), noErr);
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_HostCallbacks), 3u);
  EXPECT_EQ(au->DispatchRemovePropertyValue(kAudioUnitProperty_HostCallbacks, 2, 0),
            kAudioUnitErr_InvalidScope);
}

TEST_F(PropertyTable, ElementNamesAreNewReferencesAndAnnounced) {
  CFStringRef name = nullptr;
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_ElementName, kAudioUnitScope_Input, 0, name),
            kAudioUnitErr_InvalidPropertyValue);
  CFRef side = String("Side chain");
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ElementName, kAudioUnitScope_Input, 1, side.get()),
            kAudioUnitErr_InvalidElement);
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_ElementName, kAudioUnitScope_Input, 0, &name, 4),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ElementName, kAudioUnitScope_Input, 0, side.get()), noErr);
  ASSERT_EQ(heard.CountFor(kAudioUnitProperty_ElementName), 1u);
  EXPECT_EQ(heard.calls.back().scope, kAudioUnitScope_Input);
  ASSERT_EQ(GetProp(*au, kAudioUnitProperty_ElementName, kAudioUnitScope_Input, 0, name), noErr);
  CFRef got(name);
  EXPECT_EQ(Text(got.get()), "Side chain");
  EXPECT_EQ(CFGetRetainCount(side.get()), 3);
  // Null clears the name.
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ElementName, kAudioUnitScope_Input, 0, CFStringRef{nullptr}),
            noErr);
  EXPECT_EQ(CFGetRetainCount(side.get()), 2);
}

TEST_F(PropertyTable, BufferAllocationFlagOnlyWhileUninitialized) {
  UInt32 allocates = 7;
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_ShouldAllocateBuffer, kAudioUnitScope_Output, 0, allocates),
            noErr);
  EXPECT_EQ(allocates, 1u);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ShouldAllocateBuffer, kAudioUnitScope_Global, 0, UInt32{0}),
            kAudioUnitErr_InvalidScope);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ShouldAllocateBuffer, kAudioUnitScope_Output, 4, UInt32{0}),
            kAudioUnitErr_InvalidElement);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ShouldAllocateBuffer, kAudioUnitScope_Output, 0, UInt8{0}),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ShouldAllocateBuffer, kAudioUnitScope_Output, 0, UInt32{0}),
            noErr);
  EXPECT_FALSE(au->GetOutput(0)->WillAllocateBuffer());
  ASSERT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ShouldAllocateBuffer, kAudioUnitScope_Output, 0, UInt32{1}),
            kAudioUnitErr_Initialized);
  EXPECT_FALSE(au->GetOutput(0)->WillAllocateBuffer());
  EXPECT_TRUE(heard.calls.empty());
}

TEST_F(PropertyTable, ParameterListComesFromTheElementWithTheMostParameters) {
  UInt32 ids[22] = {};
  ASSERT_EQ(GetProp(*au, kAudioUnitProperty_ParameterList, 0, 0, ids), noErr);
  for (UInt32 i = 0; i < 22; ++i) EXPECT_EQ(ids[i], i);

  // Map-mode elements: the larger wins, the earlier on a tie, ids ascending.
  au->Inputs().SetNumberOfElements(3);
  au->GetInput(1)->SetParameter(9, 0.5f);
  au->GetInput(1)->SetParameter(4, 0.5f);
  au->GetInput(2)->SetParameter(1, 0.5f);
  au->GetInput(2)->SetParameter(2, 0.5f);
  EXPECT_EQ(GetInfo(*au, kAudioUnitProperty_ParameterList, kAudioUnitScope_Input, 0).size, 8u);
  UInt32 two[2] = {};
  ASSERT_EQ(GetProp(*au, kAudioUnitProperty_ParameterList, kAudioUnitScope_Input, 0, two), noErr);
  EXPECT_EQ(two[0], 4u);
  EXPECT_EQ(two[1], 9u);

  const Info none = GetInfo(*au, kAudioUnitProperty_ParameterList, kAudioUnitScope_Output, 0);
  EXPECT_EQ(none.status, noErr);
  EXPECT_EQ(none.size, 0u);
  EXPECT_EQ(Thrown([&] { GetInfo(*au, kAudioUnitProperty_ParameterList, 6, 0); }),
            kAudioUnitErr_InvalidScope);
}

TEST_F(PropertyTable, ParameterInfoAndClumpNamesFallToTheDescendant) {
  AudioUnitParameterInfo info{};
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_ParameterInfo, 0, 3, info), kAudioUnitErr_InvalidParameter);

  AudioUnitParameterNameInfo clump{0, -1, nullptr};
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_ParameterClumpName, 0, 0, clump),
            kAudioUnitErr_InvalidPropertyValue);
  clump.inID = 2;
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_ParameterClumpName, 0, 0, clump), kAudioUnitErr_InvalidProperty);

  auto d = Open<DescendantAU>();
  EXPECT_EQ(GetProp(*d, kAudioUnitProperty_ParameterClumpName, 0, 0, clump), noErr);
  EXPECT_EQ(Text(clump.outName), "Descendant clump");
  Close(d);
}

TEST_F(PropertyTable, ADescendantsPropertyIsAnnouncedAfterItAccepts) {
  auto d = Open<DescendantAU>();
  ListenerRecorder rec;
  d->AddPropertyListener(kAudioUnitProperty_BypassEffect, ListenerRecorder::Proc, &rec);
  d->mWatch = &rec;
  EXPECT_EQ(SetProp(*d, kAudioUnitProperty_BypassEffect, 0, 0, UInt32{1}), noErr);
  EXPECT_EQ(d->mBypass, 1u);
  EXPECT_EQ(d->mHeardBeforeAccepting, 0u);
  ASSERT_EQ(rec.calls.size(), 1u);
  EXPECT_EQ(rec.calls[0].id, kAudioUnitProperty_BypassEffect);
  EXPECT_EQ(SetProp(*d, kAudioUnitProperty_BypassEffect, 0, 0, UInt8{0}), kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(rec.calls.size(), 1u);
  Close(d);
}

TEST_F(PropertyTable, IconAndTailComeFromTheDescendant) {
  auto d = Open<DescendantAU>();
  EXPECT_TRUE(d->HasIcon());  // the URL it asked for is released (leak check)
  EXPECT_EQ(GetInfo(*d, kAudioUnitProperty_IconLocation, 0, 0).size, 8u);
  CFURLRef url = nullptr;
  ASSERT_EQ(GetProp(*d, kAudioUnitProperty_IconLocation, 0, 0, url), noErr);
  CFRef owned(url);
  EXPECT_TRUE(IsKind(url, CFURLGetTypeID()));
  d->mHasIcon = false;
  EXPECT_FALSE(d->HasIcon());
  EXPECT_EQ(GetInfo(*d, kAudioUnitProperty_IconLocation, 0, 0).status, kAudioUnitErr_InvalidProperty);

  EXPECT_EQ(GetInfo(*d, kAudioUnitProperty_TailTime, 0, 0).status, noErr);
  Float64 tail = 0;
  EXPECT_EQ(GetProp(*d, kAudioUnitProperty_TailTime, 0, 0, tail), noErr);
  EXPECT_EQ(tail, 0.25);
  Close(d);
}

TEST_F(PropertyTable, ExternalBuffersNeedAnInitializedInstanceAndAlignedMemory) {
  alignas(16) static Byte memory[65536];
  AudioUnitExternalBuffer external{memory, sizeof memory};
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_SetExternalBuffer, kAudioUnitScope_Output, 0, external),
            kAudioUnitErr_Uninitialized);
  ASSERT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_SetExternalBuffer, 2, 0, &external, 8),
            kAudioUnitErr_InvalidPropertyValue);
  AudioUnitExternalBuffer misaligned{memory + 4, 1024};
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_SetExternalBuffer, kAudioUnitScope_Output, 0, misaligned),
            kAudio_ParamError);
  AudioUnitExternalBuffer null{nullptr, 1u << 30};
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_SetExternalBuffer, kAudioUnitScope_Output, 0, null),
            kAudio_ParamError);
  EXPECT_EQ(
      Thrown([&] { SetProp(*au, kAudioUnitProperty_SetExternalBuffer, kAudioUnitScope_Input, 3, external); }),
      kAudioUnitErr_InvalidElement);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_SetExternalBuffer, kAudioUnitScope_Output, 0, external), noErr);
  EXPECT_TRUE(au->GetOutput(0)->GetBuffers().BlockIsExternal());
  EXPECT_TRUE(heard.calls.empty());
}

TEST_F(PropertyTable, ChannelLayoutSizesAreCheckedBeforeTheRecordIsRead) {
  UInt8 tiny[8] = {};
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_AudioChannelLayout, 1, 0, tiny, sizeof tiny),
            kAudioUnitErr_InvalidPropertyValue);
  AudioChannelLayout layout{};
  layout.mNumberChannelDescriptions = 0xFFFFFFFFu;  // must not wrap the size sum
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_AudioChannelLayout, 1, 0, layout),
            kAudioUnitErr_InvalidPropertyValue);
  layout.mNumberChannelDescriptions = 2;
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_AudioChannelLayout, 1, 0, layout),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_AudioChannelLayout), 0u);
}

TEST_F(PropertyTable, LastRenderedSampleTime) {
  Float64 time = 0;
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_LastRenderedSampleTime, kAudioUnitScope_Output, 0, time), noErr);
  EXPECT_EQ(time, kNoLastRenderedSampleTime);
  au->mLastSampleTime = 4096.0;
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_LastRenderedSampleTime, 0, 0, time), noErr);
  EXPECT_EQ(time, 4096.0);
}

TEST_F(PropertyTable, ClassInfoIsGlobalAndEightBytes) {
  CFPropertyListRef state = nullptr;
  ASSERT_EQ(GetProp(*au, kAudioUnitProperty_ClassInfo, 0, 0, state), noErr);
  CFRef owned(state);
  EXPECT_TRUE(IsKind(state, CFDictionaryGetTypeID()));
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_ClassInfo, 0, 0, &state, 4),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Input, 0, state),
            kAudioUnitErr_InvalidScope);
}
