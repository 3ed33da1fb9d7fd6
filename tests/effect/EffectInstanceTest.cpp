// The effect instance: meters, clump names, the answers about itself, and
// opening through the entry point.
#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>

#include "ComponentEntryPoint.h"
#include "VarsileTestSupport.h"

namespace {

using frametest::HostHandle;
using varsiletest::HarmonicTone;
using varsiletest::NoteFrequency;
using varsiletest::OpenEffect;
using varsiletest::ParameterEventRecorder;
using varsiletest::Text;

class EffectInstanceTest : public varsiletest::LeakCheckedTest {
 protected:
  Float32 Read(AudioUnitParameterID id, Float32 initial = -1.0f) {
    Float32 value = initial;
    EXPECT_EQ(mEffect->GetParameter(id, kAudioUnitScope_Global, 0, value), noErr);
    return value;
  }
  void Feed(UInt32 channel, int pitchClass, std::size_t frames = 24000) {
    const std::vector<Float32> tone = HarmonicTone(NoteFrequency(pitchClass), 48000.0, frames);
    std::vector<Float32> out(tone.size());
    auto* kernel = varsiletest::Kernel(*mEffect, channel);
    for (std::size_t at = 0; at < tone.size(); at += 512) {
      bool silence = false;
      kernel->Process(tone.data() + at, out.data() + at,
                      static_cast<UInt32>(std::min<std::size_t>(512, tone.size() - at)), 1, silence);
    }
  }

  HostHandle mHandle;
  std::unique_ptr<Varsile> mEffect = OpenEffect(mHandle);
  ParameterEventRecorder mEvents{mHandle};
};

TEST_F(EffectInstanceTest, VersionTailAndKernels) {
  EXPECT_EQ(mEffect->Version(), 0x00010000);
  EXPECT_FALSE(mEffect->SupportsTail());
  UInt32 size = 0;
  Boolean writable = false;
  EXPECT_EQ(mEffect->DispatchGetPropertyInfo(kAudioUnitProperty_TailTime, kAudioUnitScope_Global, 0, size,
                                             writable),
            kAudioUnitErr_InvalidProperty);
  std::unique_ptr<AUKernelBase> kernel(mEffect->NewKernel());
  ASSERT_NE(dynamic_cast<Varsile::VarsileKernel*>(kernel.get()), nullptr);
  EXPECT_TRUE(mEffect->ProcessesInPlace());
  EXPECT_TRUE(mEffect->ElementsCreated());
  EXPECT_EQ(mEffect->Globals().GetElement(0)->GetNumberOfParameters(), 22u);
}

TEST_F(EffectInstanceTest, MetersBeforeInitializationLeaveTheValue) {
  EXPECT_EQ(Read(kGateParam_CurrentVolume, -7.0f), -7.0f);
  EXPECT_EQ(Read(kGateParam_Accuracy, -8.0f), -8.0f);
  // Whatever the scope and element.
  Float32 value = -9.0f;
  EXPECT_EQ(mEffect->GetParameter(kGateParam_Accuracy, kAudioUnitScope_Output, 5, value), noErr);
  EXPECT_EQ(value, -9.0f);
  EXPECT_EQ(Read(kGateParam_CurrentNote), 12.0f) << "the stored value";
  EXPECT_EQ(mEvents.Count(), 0u);
}

TEST_F(EffectInstanceTest, RightAfterInitializationNoNoteIsReported) {
  varsiletest::Initialize(*mEffect);
  EXPECT_EQ(Read(kGateParam_CurrentVolume), 100.0f);
  EXPECT_EQ(Read(kGateParam_Accuracy), 0.0f);
  EXPECT_EQ(Read(kGateParam_CurrentNote), 12.0f);
  EXPECT_EQ(mEffect->LastReportedNote(), -1);
  EXPECT_EQ(mEvents.Count(), 0u);
  mEffect->DoCleanup();
}

TEST_F(EffectInstanceTest, TheFirstChannelsNoteIsStoredAndAnnouncedOnce) {
  varsiletest::Initialize(*mEffect);
  Feed(0, 7);
  ASSERT_EQ(varsiletest::Kernel(*mEffect, 0)->Tracker().PitchClass(), 7);
  EXPECT_EQ(Read(kGateParam_CurrentNote), 12.0f) << "reading the note alone never refreshes it";
  EXPECT_EQ(mEvents.Count(), 0u);

  const Float32 accuracy = Read(kGateParam_Accuracy);
  EXPECT_EQ(accuracy, varsiletest::Kernel(*mEffect, 0)->Tracker().Accuracy());
  EXPECT_GT(accuracy, 25.0f);
  EXPECT_EQ(Read(kGateParam_CurrentNote), 7.0f);
  ASSERT_EQ(mEvents.Count(), 1u);
  const AudioUnitEvent event = mEvents.Events()[0];
  EXPECT_EQ(event.mEventType, kAudioUnitEvent_ParameterValueChange);
  EXPECT_EQ(event.mArgument.mParameter.mAudioUnit, mHandle.get());
  EXPECT_EQ(event.mArgument.mParameter.mParameterID, kGateParam_CurrentNote);
  EXPECT_EQ(event.mArgument.mParameter.mScope, kAudioUnitScope_Global);
  EXPECT_EQ(event.mArgument.mParameter.mElement, 0u);

  Read(kGateParam_Accuracy);
  Read(kGateParam_Accuracy);
  EXPECT_EQ(mEvents.Count(), 1u) << "the same class again sends nothing";

  // The second channel does not drive the meters.
  Feed(1, 2);
  Read(kGateParam_Accuracy);
  EXPECT_EQ(Read(kGateParam_CurrentNote), 7.0f);

  // A reset leaves the tracker with no class: "Pitch tracker off", announced once.
  ASSERT_EQ(mEffect->Reset(kAudioUnitScope_Global, 0), noErr);
  EXPECT_EQ(Read(kGateParam_Accuracy), 0.0f);
  EXPECT_EQ(Read(kGateParam_CurrentNote), 12.0f);
  EXPECT_EQ(mEvents.Count(), 2u);
  Read(kGateParam_Accuracy);
  EXPECT_EQ(mEvents.Count(), 2u);
  mEffect->DoCleanup();
}

TEST_F(EffectInstanceTest, TheVolumeMeterFollowsTheFirstKernel) {
  varsiletest::Initialize(*mEffect);
  ASSERT_EQ(mEffect->SetParameter(kGateParam_ReleaseTime, kAudioUnitScope_Global, 0, 0.01f, 0), noErr);
  ASSERT_EQ(mEffect->SetParameter(kGateParam_FirstInterval + 6, kAudioUnitScope_Global, 0, 0, 0), noErr);
  Feed(0, 6);
  EXPECT_EQ(Read(kGateParam_CurrentVolume), 0.0f);
  Float32 inInput = -1.0f;
  EXPECT_EQ(mEffect->GetParameter(kGateParam_CurrentVolume, kAudioUnitScope_Input, 0, inInput), noErr);
  EXPECT_EQ(inInput, 0.0f);
  mEffect->DoCleanup();
  EXPECT_EQ(Read(kGateParam_CurrentVolume, 55.0f), 55.0f) << "no kernels after cleanup";
}

TEST_F(EffectInstanceTest, OtherParametersReadTheStorage) {
  Float32 value = 0.0f;
  EXPECT_EQ(mEffect->GetParameter(kGateParam_A4Frequency, kAudioUnitScope_Global, 0, value), noErr);
  EXPECT_EQ(value, 440.0f);
  EXPECT_EQ(mEffect->GetParameter(kGateParam_Key, kAudioUnitScope_Group, 0, value),
            kAudioUnitErr_InvalidScope);
  EXPECT_THROW(mEffect->GetParameter(22, kAudioUnitScope_Global, 0, value), OSStatus);
}

class ClumpNameTest : public EffectInstanceTest {
 protected:
  OSStatus Ask(UInt32 clump, AudioUnitScope scope, AudioUnitParameterNameInfo& record) {
    record = AudioUnitParameterNameInfo{clump, 3, nullptr};
    return mEffect->DispatchGetProperty(kAudioUnitProperty_ParameterClumpName, scope, 0, &record);
  }
};

TEST_F(ClumpNameTest, NamesInTheGlobalScope) {
  const char* names[] = {"Transposition", "Volume", "Timing", "Gate Monitor", "Pitch Tracking"};
  for (UInt32 clump = 1; clump <= 5; ++clump) {
    AudioUnitParameterNameInfo record{};
    ASSERT_EQ(Ask(clump, kAudioUnitScope_Global, record), noErr);
    ASSERT_NE(record.outName, nullptr);
    EXPECT_EQ(Text(record.outName), names[clump - 1]) << "never shortened to the desired length";
    CFRelease(record.outName);
  }
}

TEST_F(ClumpNameTest, RefusalsOfScopeAndId) {
  AudioUnitParameterNameInfo record{};
  EXPECT_EQ(Ask(3, kAudioUnitScope_Input, record), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(record.outName, nullptr);
  EXPECT_EQ(Ask(0, kAudioUnitScope_Global, record), kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(Ask(6, kAudioUnitScope_Global, record), kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(record.outName, nullptr);
}

TEST_F(ClumpNameTest, InfoWhateverTheScope) {
  for (AudioUnitScope scope : {kAudioUnitScope_Global, kAudioUnitScope_Input, kAudioUnitScope_Part}) {
    UInt32 size = 0;
    Boolean writable = true;
    EXPECT_EQ(mEffect->GetPropertyInfo(kAudioUnitProperty_ParameterClumpName, scope, 9, size, writable),
              noErr);
    EXPECT_EQ(size, 16u);
    EXPECT_FALSE(writable);
  }
}

// ---- Opening through the entry point ----

OSStatus Call(SInt16 what, void* instance, long word0 = 0) {
  ComponentParameters params{};
  params.what = what;
  params.params[0] = word0;
  return ComponentEntryPoint<Varsile>::Dispatch(&params, static_cast<Varsile*>(instance));
}

TEST(EffectOpenTest, OpenAttachesTheInstanceAndCloseDestroysIt) {
  HostHandle handle;
  ASSERT_EQ(Call(kComponentOpenSelect, nullptr, reinterpret_cast<long>(handle.get())), noErr);
  auto* effect = static_cast<Varsile*>(GetComponentInstanceStorage(handle));
  ASSERT_NE(effect, nullptr);
  EXPECT_EQ(effect->GetComponentInstance(), handle.get());
  EXPECT_TRUE(effect->ElementsCreated());
  EXPECT_EQ(Call(kComponentVersionSelect, effect), 0x00010000);
  EXPECT_EQ(Call(kComponentCloseSelect, effect), noErr);
  SetComponentInstanceStorage(handle, nullptr);
}

TEST(EffectOpenTest, NullRecordsAreRefused) {
  EXPECT_EQ(ComponentEntryPoint<Varsile>::Dispatch(nullptr, nullptr), kAudio_ParamError);
  EXPECT_EQ(Call(kComponentVersionSelect, nullptr), kAudio_ParamError);
}

TEST(EffectOpenTest, TwoThreadsOpeningAreServedOneAfterTheOther) {
  constexpr int kPerThread = 6;
  std::vector<std::unique_ptr<HostHandle>> handles;
  for (int i = 0; i < 2 * kPerThread; ++i) handles.push_back(std::make_unique<HostHandle>());
  std::atomic<int> failures{0};
  auto opener = [&](int first) {
    for (int i = first; i < first + kPerThread; ++i) {
      if (Call(kComponentOpenSelect, nullptr, reinterpret_cast<long>(handles[i]->get())) != noErr) ++failures;
    }
  };
  std::thread a(opener, 0);
  std::thread b(opener, kPerThread);
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);
  std::set<void*> instances;
  for (auto& handle : handles) {
    void* instance = GetComponentInstanceStorage(*handle);
    ASSERT_NE(instance, nullptr);
    instances.insert(instance);
    EXPECT_EQ(static_cast<Varsile*>(instance)->GetParameter(kGateParam_MasterVolume), 100.0f);
    EXPECT_EQ(Call(kComponentCloseSelect, instance), noErr);
    SetComponentInstanceStorage(*handle, nullptr);
  }
  EXPECT_EQ(instances.size(), handles.size());
}

// A component that records how many of it are being built at once, and can
// fail in each way the entry must convert.
class ProbeAU : public frametest::TestAU {
 public:
  enum class Fail { kNone, kStatus, kShort, kMemory, kOther, kPostConstructor };
  static inline std::atomic<int> sInside{0};
  static inline std::atomic<int> sMostInside{0};
  static inline std::atomic<int> sAlive{0};
  static inline Fail sFail = Fail::kNone;

  explicit ProbeAU(AudioComponentInstance instance) : frametest::TestAU(instance) {
    ++sAlive;
    const int now = ++sInside;
    int most = sMostInside.load();
    while (now > most && !sMostInside.compare_exchange_weak(most, now)) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    --sInside;
    try {
      switch (sFail) {
        case Fail::kStatus:
          throw static_cast<SInt32>(-12345);
        case Fail::kShort:
          throw static_cast<SInt16>(-2);
        case Fail::kMemory:
          throw std::bad_alloc();
        case Fail::kOther:
          throw std::runtime_error("neither");
        default:
          break;
      }
    } catch (...) {
      --sAlive;  // the destructor does not run for a failed constructor
      throw;
    }
  }
  ~ProbeAU() override { --sAlive; }
  void PostConstructor() override {
    TestAU::PostConstructor();
    if (sFail == Fail::kPostConstructor) throw static_cast<SInt32>(-4242);
  }
};

OSStatus OpenProbe(AudioComponentInstance handle) {
  ComponentParameters params{};
  params.what = kComponentOpenSelect;
  params.params[0] = reinterpret_cast<long>(handle);
  return ComponentEntryPoint<ProbeAU>::Dispatch(&params, nullptr);
}

TEST(ComponentEntryPointTest, OpeningIsSerialisedAcrossThreads) {
  ProbeAU::sFail = ProbeAU::Fail::kNone;
  ProbeAU::sMostInside = 0;
  constexpr int kThreads = 4;
  constexpr int kEach = 5;
  std::vector<std::unique_ptr<HostHandle>> handles;
  for (int i = 0; i < kThreads * kEach; ++i) handles.push_back(std::make_unique<HostHandle>());
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) EXPECT_EQ(OpenProbe(*handles[t * kEach + i]), noErr);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(ProbeAU::sMostInside.load(), 1) << "never two constructions at once";
  for (auto& handle : handles) {
    ComponentParameters close{};
    close.what = kComponentCloseSelect;
    auto* probe = static_cast<ProbeAU*>(GetComponentInstanceStorage(*handle));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(ComponentEntryPoint<ProbeAU>::Dispatch(&close, probe), noErr);
    SetComponentInstanceStorage(*handle, nullptr);
  }
  EXPECT_EQ(ProbeAU::sAlive.load(), 0);
}

TEST(ComponentEntryPointTest, FailuresBecomeStatusesAndFreeTheInstance) {
  const struct {
    ProbeAU::Fail fail;
    OSStatus status;
  } cases[] = {
      {ProbeAU::Fail::kStatus, -12345},         {ProbeAU::Fail::kShort, -2},
      {ProbeAU::Fail::kMemory, memFullErr},     {ProbeAU::Fail::kOther, -1},
      {ProbeAU::Fail::kPostConstructor, -4242},
  };
  for (const auto& c : cases) {
    HostHandle handle;
    ProbeAU::sFail = c.fail;
    EXPECT_EQ(OpenProbe(handle), c.status);
    EXPECT_EQ(GetComponentInstanceStorage(handle), nullptr) << "nothing attached";
    EXPECT_EQ(ProbeAU::sAlive.load(), 0) << "nothing left behind";
  }
  ProbeAU::sFail = ProbeAU::Fail::kNone;
  // No handle to store the instance in: it could never be closed.
  EXPECT_EQ(OpenProbe(nullptr), kAudio_ParamError);
  EXPECT_EQ(ProbeAU::sAlive.load(), 0);
  // The mutex was released on every failing path.
  EXPECT_TRUE(ComponentInitLocker::sComponentOpenMutex.try_lock());
  ComponentInitLocker::sComponentOpenMutex.unlock();
}

TEST(ComponentEntryPointTest, ThrowsFromLaterSelectorsBecomeStatuses) {
  HostHandle handle;
  ASSERT_EQ(Call(kComponentOpenSelect, nullptr, reinterpret_cast<long>(handle.get())), noErr);
  auto* effect = static_cast<Varsile*>(GetComponentInstanceStorage(handle));
  ComponentParameters params{};
  params.what = kAudioUnitGetParameterSelect;
  // Parameter 40 of the global scope: thrown -10878 inside, returned here.
  Float32 value = 0.0f;
  params.params[1] = 40;  // id
  params.params[2] = kAudioUnitScope_Global;
  params.params[3] = 0;  // element
  params.params[4] = reinterpret_cast<long>(&value);
  EXPECT_EQ(ComponentEntryPoint<Varsile>::Dispatch(&params, effect), kAudioUnitErr_InvalidParameter);
  EXPECT_EQ(Call(kComponentCloseSelect, effect), noErr);
  SetComponentInstanceStorage(handle, nullptr);
}

}  // namespace
