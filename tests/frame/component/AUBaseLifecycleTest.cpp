// Construction, element creation, initialize / uninitialize / close, the
// maximum frame count and when buffers are (re)allocated.
#include <limits>

#include "FrameTestSupport.h"

using namespace frametest;

namespace {

class AUBaseLifecycle : public CFLeakCheck {};

UInt32 OutputFrameCapacity(AUBase& au) {
  return au.GetOutput(0)->GetBuffers().GetFrameCapacity();
}

}  // namespace

TEST_F(AUBaseLifecycle, NewInstanceHasTheDefaults) {
  auto au = Open();
  EXPECT_EQ(au->GetMaxFramesPerSlice(), 1156u);
  EXPECT_EQ(au->GetCurrentPreset().presetNumber, -1);
  char name[16] = {};
  ASSERT_TRUE(
      CFStringGetCString(au->GetCurrentPreset().presetName, name, sizeof(name), kCFStringEncodingASCII));
  EXPECT_STREQ(name, "Untitled");
  EXPECT_EQ(au->Globals().GetNumberOfElements(), 1u);
  EXPECT_EQ(au->Inputs().GetNumberOfElements(), 1u);
  EXPECT_EQ(au->Outputs().GetNumberOfElements(), 1u);
  EXPECT_EQ(au->GetScope(kAudioUnitScope_Group).GetNumberOfElements(), 0u);
  EXPECT_EQ(au->GetScope(kAudioUnitScope_Part).GetNumberOfElements(), 0u);
  EXPECT_EQ(au->AudioUnitAPIVersion(), 2);
  EXPECT_EQ(au->GetLastRenderSampleTime(), kNoLastRenderedSampleTime);
  EXPECT_EQ(au->mRenderError.load(), noErr);
  EXPECT_EQ(au->mContextName, nullptr);
  EXPECT_EQ(au->mPendingEvents.capacity(), 24u);
  EXPECT_FALSE(au->IsInitialized());
  EXPECT_FALSE(au->HasBegunInitializing());
  EXPECT_FALSE(au->BuffersAllocated());
  Close(au);
}

TEST_F(AUBaseLifecycle, ElementsComeOnlyWithCreateElementsAndOnce) {
  TestAU au(nullptr, 2, 3, 1, 4);
  EXPECT_FALSE(au.ElementsCreated());
  EXPECT_EQ(au.Inputs().GetNumberOfElements(), 0u);
  au.PostConstructor();
  EXPECT_TRUE(au.ElementsCreated());
  EXPECT_EQ(au.Inputs().GetNumberOfElements(), 2u);
  EXPECT_EQ(au.Outputs().GetNumberOfElements(), 3u);
  EXPECT_EQ(au.GetScope(kAudioUnitScope_Group).GetNumberOfElements(), 1u);
  EXPECT_EQ(au.GetScope(kAudioUnitScope_Part).GetNumberOfElements(), 4u);

  AUElement* first = au.GetElement(kAudioUnitScope_Input, 0);
  au.Inputs().SetNumberOfElements(1);
  au.CreateElements();  // idempotent: the shrunk scope stays as it is
  EXPECT_EQ(au.Inputs().GetNumberOfElements(), 1u);
  EXPECT_EQ(au.GetElement(kAudioUnitScope_Input, 0), first);
}

TEST_F(AUBaseLifecycle, TheFactoryMakesTheElementClassOfEachScope) {
  auto au = Open();
  for (AudioUnitScope scope : {0u, 3u, 4u}) {
    std::unique_ptr<AUElement> e(au->CreateElement(scope, 7));
    EXPECT_EQ(dynamic_cast<AUIOElement*>(e.get()), nullptr) << scope;
    EXPECT_EQ(e->GetAudioUnit(), au.get());
  }
  std::unique_ptr<AUElement> in(au->CreateElement(kAudioUnitScope_Input, 0));
  EXPECT_NE(dynamic_cast<AUInputElement*>(in.get()), nullptr);
  std::unique_ptr<AUElement> out(au->CreateElement(kAudioUnitScope_Output, 0));
  EXPECT_NE(dynamic_cast<AUOutputElement*>(out.get()), nullptr);
  EXPECT_EQ(Thrown([&] { au->CreateElement(5, 0); }), kAudioUnitErr_InvalidScope);
}

TEST_F(AUBaseLifecycle, LookupsThrowTheFrameStatuses) {
  auto au = Open<TestAU>(nullptr, 1, 1, 0, 0);
  EXPECT_EQ(Thrown([&] { au->GetScope(5); }), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(Thrown([&] { au->GetElement(99, 0); }), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(au->GetElement(kAudioUnitScope_Input, 1), nullptr);
  EXPECT_EQ(Thrown([&] { au->SafeGetElement(kAudioUnitScope_Input, 1); }), kAudioUnitErr_InvalidElement);
  EXPECT_EQ(Thrown([&] { au->GetIOElement(kAudioUnitScope_Global, 0); }), kAudioUnitErr_InvalidElement);
  EXPECT_EQ(Thrown([&] { au->GetIOElement(kAudioUnitScope_Output, 1); }), kAudioUnitErr_InvalidElement);
  EXPECT_EQ(Thrown([&] { au->GetInput(1); }), kAudioUnitErr_InvalidElement);
  EXPECT_NE(au->GetIOElement(kAudioUnitScope_Output, 0), nullptr);
  EXPECT_NE(au->GetInput(0), nullptr);
  EXPECT_NE(au->GetOutput(0), nullptr);
}

TEST_F(AUBaseLifecycle, InitializeAllocatesThenPublishes) {
  auto au = Open();
  EXPECT_EQ(OutputFrameCapacity(*au), 0u);
  EXPECT_EQ(au->DoInitialize(), noErr);
  EXPECT_TRUE(au->IsInitialized());
  EXPECT_TRUE(au->HasBegunInitializing());
  EXPECT_TRUE(au->BuffersAllocated());
  EXPECT_EQ(au->mInitializeCalls, 1);
  EXPECT_EQ(OutputFrameCapacity(*au), 1156u);
  // An input without a source needs no memory of its own.
  EXPECT_EQ(au->GetInput(0)->GetBuffers().GetByteCapacity(), 0u);
  Close(au);
}

TEST_F(AUBaseLifecycle, InitializingTwiceCallsInitializeOnce) {
  auto au = Open();
  ASSERT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(au->mInitializeCalls, 1);
  EXPECT_EQ(au->mReallocateCalls, 1);
  Close(au);
}

TEST_F(AUBaseLifecycle, FailedInitializeChangesNoFlagAndCanBeRetried) {
  auto au = Open();
  au->mInitializeResult = kAudioUnitErr_FormatNotSupported;
  EXPECT_EQ(au->DoInitialize(), kAudioUnitErr_FormatNotSupported);
  EXPECT_FALSE(au->IsInitialized());
  EXPECT_FALSE(au->HasBegunInitializing());
  EXPECT_FALSE(au->BuffersAllocated());
  au->mInitializeResult = noErr;
  EXPECT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(au->mInitializeCalls, 2);
  EXPECT_TRUE(au->IsInitialized());
  Close(au);
}

TEST_F(AUBaseLifecycle, UninitializeWhenNeverInitializedDoesNotCallCleanup) {
  auto au = Open();
  au->DoCleanup();
  EXPECT_EQ(au->mCleanupCalls, 0);
  EXPECT_FALSE(au->IsInitialized());
  Close(au);
  SUCCEED();
}

TEST_F(AUBaseLifecycle, UninitializeKeepsTheBuffers) {
  auto au = Open();
  ASSERT_EQ(au->DoInitialize(), noErr);
  au->DoCleanup();
  EXPECT_EQ(au->mCleanupCalls, 1);
  EXPECT_FALSE(au->IsInitialized());
  EXPECT_FALSE(au->HasBegunInitializing());
  EXPECT_TRUE(au->BuffersAllocated());
  EXPECT_EQ(OutputFrameCapacity(*au), 1156u);
  au->DoCleanup();
  EXPECT_EQ(au->mCleanupCalls, 1);
}

TEST_F(AUBaseLifecycle, CloseWhileInitializedRunsCleanupFirst) {
  struct Watched : TestAU {
    explicit Watched(int* cleanups, bool* destroyedAfter)
        : mCleanups(cleanups), mDestroyedAfter(destroyedAfter) {}
    ~Watched() override { *mDestroyedAfter = *mCleanups == 1; }
    void Cleanup() override { ++*mCleanups; }
    int* mCleanups;
    bool* mDestroyedAfter;
  };
  int cleanups = 0;
  bool destroyedAfterCleanup = false;
  auto au = Open<Watched>(&cleanups, &destroyedAfterCleanup);
  ASSERT_EQ(au->DoInitialize(), noErr);
  Close(au);
  EXPECT_EQ(cleanups, 1);
  EXPECT_TRUE(destroyedAfterCleanup);
}

TEST_F(AUBaseLifecycle, ResetForgetsTheLastRenderTime) {
  auto au = Open();
  au->mLastSampleTime = 512.0;
  EXPECT_EQ(au->Reset(kAudioUnitScope_Global, 0), noErr);
  EXPECT_EQ(au->GetLastRenderSampleTime(), kNoLastRenderedSampleTime);
}

TEST_F(AUBaseLifecycle, MaxFramesChangeBeforeTheFirstInitializeTakesEffectThere) {
  auto au = Open();
  au->SetMaxFramesPerSlice(512);
  EXPECT_EQ(au->mReallocateCalls, 0);  // nothing was ever allocated
  ASSERT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(OutputFrameCapacity(*au), 512u);
  Close(au);
}

TEST_F(AUBaseLifecycle, MaxFramesChangeAfterAnInitializeReallocatesAtOnceButAllocatesNothing) {
  auto au = Open();
  ASSERT_EQ(au->DoInitialize(), noErr);
  au->DoCleanup();
  ASSERT_EQ(au->CanSetMaxFrames(), noErr);
  au->SetMaxFramesPerSlice(4096);
  EXPECT_EQ(au->mReallocateCalls, 2);
  EXPECT_EQ(OutputFrameCapacity(*au), 1156u);  // not initializing: no allocation
  ASSERT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(OutputFrameCapacity(*au), 4096u);
  EXPECT_EQ(au->GetOutput(0)->GetBuffers().GetByteCapacity(), 2u * 4096u * 4u);
  Close(au);
}

TEST_F(AUBaseLifecycle, MaxFramesCannotChangeWhileInitialized) {
  auto au = Open();
  EXPECT_EQ(au->CanSetMaxFrames(), noErr);
  ASSERT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(au->CanSetMaxFrames(), kAudioUnitErr_Initialized);
  Close(au);
}

TEST_F(AUBaseLifecycle, AMaxFrameCountTooLargeToAllocateFailsInitializeCleanly) {
  auto au = Open();
  au->SetMaxFramesPerSlice(std::numeric_limits<UInt32>::max());
  EXPECT_EQ(Thrown([&] { au->DoInitialize(); }), kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_FALSE(au->IsInitialized());
  EXPECT_FALSE(au->HasBegunInitializing());
  EXPECT_EQ(au->mCleanupCalls, 1);  // what Initialize set up is undone
  au->SetMaxFramesPerSlice(1156);
  EXPECT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(OutputFrameCapacity(*au), 1156u);
  Close(au);
}

TEST_F(AUBaseLifecycle, ComponentDescriptionIsZeroWithoutAComponent) {
  auto au = Open();
  const AudioComponentDescription d = au->GetComponentDescription();
  EXPECT_EQ(d.componentType, 0u);
  EXPECT_EQ(d.componentSubType, 0u);
  EXPECT_EQ(d.componentManufacturer, 0u);
  EXPECT_EQ(d.componentFlags, 0u);
  EXPECT_EQ(d.componentFlagsMask, 0u);
}

TEST_F(AUBaseLifecycle, ComponentDescriptionComesFromTheHost) {
  HostHandle handle;
  ASSERT_NE(handle.get(), nullptr);
  auto au = Open<TestAU>(handle.get());
  const AudioComponentDescription d = au->GetComponentDescription();
  EXPECT_EQ(d.componentType, kTestDescription.componentType);
  EXPECT_EQ(d.componentSubType, kTestDescription.componentSubType);
  EXPECT_EQ(d.componentManufacturer, kTestDescription.componentManufacturer);
  Close(au);
}

TEST_F(AUBaseLifecycle, DestructionReleasesTheHeldNames) {
  const CFIndex before = CFLiveObjectCount();
  {
    auto au = Open();
    au->mContextName = CFStringCreateWithCString(nullptr, "context", kCFStringEncodingASCII);
    CFRelease(au->mCurrentPreset.presetName);
    au->mCurrentPreset.presetName = CFStringCreateWithCString(nullptr, "preset", kCFStringEncodingASCII);
    au->GetElement(kAudioUnitScope_Output, 0)->SetName(CFSTR("out"));
    CFStringRef name = CFStringCreateWithCString(nullptr, "in", kCFStringEncodingASCII);
    au->GetElement(kAudioUnitScope_Input, 0)->SetName(name);
    CFRelease(name);
    EXPECT_EQ(CFLiveObjectCount(), before + 3);
    Close(au);
  }
  EXPECT_EQ(CFLiveObjectCount(), before);
}
