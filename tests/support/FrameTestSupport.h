// Helpers shared by the frame tests: a leak check for property-list values,
// a minimal concrete component, a listener recorder and a host handle backed
// by the platform's component registry.
#pragma once

#include <AudioToolbox/AudioComponentRegistry.h>
#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>
#include <Varsile/CoreTypes.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "AUBase.h"

namespace frametest {

// Fixture base: no property-list value may leak or be over-released by a test.
class CFLeakCheck : public ::testing::Test {
 protected:
  void SetUp() override { mLiveAtStart = CFLiveObjectCount(); }
  void TearDown() override {
    EXPECT_EQ(CFLiveObjectCount(), mLiveAtStart) << "property-list values leaked or were over-released";
  }

 private:
  CFIndex mLiveAtStart = 0;
};

// The status a call throws, or noErr.
OSStatus Thrown(auto&& call) {
  try {
    call();
  } catch (OSStatus status) {
    return status;
  }
  return noErr;
}

// The smallest concrete component, counting the lifecycle calls it sees.
class TestAU : public AUBase {
 public:
  explicit TestAU(AudioComponentInstance instance = nullptr, UInt32 inputs = 1, UInt32 outputs = 1,
                  UInt32 groups = 0, UInt32 parts = 0)
      : AUBase(instance, inputs, outputs, groups, parts) {}

  bool StreamFormatWritable(AudioUnitScope, AudioUnitElement) override { return !IsInitialized(); }
  OSStatus Initialize() override {
    ++mInitializeCalls;
    return mInitializeResult;
  }
  void Cleanup() override { ++mCleanupCalls; }
  void ReallocateBuffers() override {
    ++mReallocateCalls;
    AUBase::ReallocateBuffers();
  }

  int mInitializeCalls = 0;
  int mCleanupCalls = 0;
  int mReallocateCalls = 0;
  OSStatus mInitializeResult = noErr;

  using AUBase::mContextName;
  using AUBase::mCurrentPreset;
  using AUBase::mHostCallbackInfo;
  using AUBase::mLastSampleTime;
  using AUBase::mMaxFramesPerSlice;
  using AUBase::mNotificationsUsed;
  using AUBase::mPendingEvents;
  using AUBase::mPropertyListeners;
  using AUBase::mRenderError;
};

// Constructs a component and runs PostConstructor, as the open step does.
template <class AU = TestAU, class... Args>
std::unique_ptr<AU> Open(Args&&... args) {
  auto au = std::make_unique<AU>(std::forward<Args>(args)...);
  au->PostConstructor();
  return au;
}

// The close selector: PreDestructor, then destruction.
template <class AU>
void Close(std::unique_ptr<AU>& au) {
  au->PreDestructor();
  au.reset();
}

// A leak-checked fixture with one opened TestAU, closed before the check.
class OpenedAU : public CFLeakCheck {
 protected:
  void SetUp() override {
    CFLeakCheck::SetUp();
    au = Open();
  }
  void TearDown() override {
    Close(au);
    CFLeakCheck::TearDown();
  }
  std::unique_ptr<TestAU> au;
};

// Records every notification it hears.
struct ListenerRecorder {
  struct Call {
    void* refCon;
    AudioUnit unit;
    AudioUnitPropertyID id;
    AudioUnitScope scope;
    AudioUnitElement element;
  };
  std::vector<Call> calls;

  static void Proc(void* refCon, AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                   AudioUnitElement element) {
    static_cast<ListenerRecorder*>(refCon)->calls.push_back(Call{refCon, unit, id, scope, element});
  }
  std::size_t CountFor(AudioUnitPropertyID id) const {
    std::size_t n = 0;
    for (const auto& c : calls) n += c.id == id;
    return n;
  }
};

// A host's buffer list with its own sample memory, filled with `fill` (or
// null mData).
class HostList {
 public:
  HostList(UInt32 buffers, UInt32 bytesPerBuffer, bool withMemory = true, Float32 fill = kSentinel)
      : mRecord(new std::byte[offsetof(AudioBufferList, mBuffers) +
                              sizeof(AudioBuffer) * (buffers ? buffers : 1)]),
        mSamples(buffers) {
    list().mNumberBuffers = buffers;
    for (UInt32 i = 0; i < buffers; ++i) {
      AudioBuffer& b = list().mBuffers[i];
      b.mNumberChannels = 1;
      b.mDataByteSize = bytesPerBuffer;
      if (withMemory) {
        mSamples[i].assign((bytesPerBuffer + 3) / 4, fill);
        b.mData = mSamples[i].data();
      } else {
        b.mData = nullptr;
      }
    }
  }

  AudioBufferList& list() noexcept { return *reinterpret_cast<AudioBufferList*>(mRecord.get()); }
  AudioBuffer& buffer(UInt32 i) noexcept { return list().mBuffers[i]; }
  const Float32* samples(UInt32 i) noexcept { return static_cast<const Float32*>(buffer(i).mData); }
  // Points buffer i at caller-owned samples of `channels` interleaved channels.
  void Set(UInt32 i, UInt32 channels, std::vector<Float32>& samples) noexcept {
    buffer(i) = AudioBuffer{channels, static_cast<UInt32>(samples.size() * sizeof(Float32)), samples.data()};
  }
  // The memory this list was built with, whatever mData says now.
  std::vector<Float32>& memory(UInt32 i) noexcept { return mSamples[i]; }

  static constexpr Float32 kSentinel = -12345.0f;

 private:
  std::unique_ptr<std::byte[]> mRecord;
  std::vector<std::vector<Float32>> mSamples;
};

// The test component's registration: answers open and close and passes every
// other selector to the component attached as storage, if any.
inline OSStatus TestComponentEntry(ComponentParameters* params, void* storage) {
  if (params->what == kComponentOpenSelect || params->what == kComponentCloseSelect) return noErr;
  if (storage == nullptr) return badComponentSelector;
  return AUBase::ComponentEntryDispatch(params, static_cast<AUBase*>(storage));
}

inline constexpr AudioComponentDescription kTestDescription{kAudioUnitType_Effect, 0x74737431 /* 'tst1' */,
                                                            0x56727354 /* 'VrsT' */, 0, 0};

inline AudioComponent TestComponent() {
  static AudioComponent component =
      AudioComponentRegister(&kTestDescription, CFSTR("Varsile frame test"), 1, TestComponentEntry);
  return component;
}

// A real instance handle of the test component, disposed with the object.
class HostHandle {
 public:
  explicit HostHandle(AudioComponent component = TestComponent()) {
    if (AudioComponentInstanceNew(component, &mInstance) != noErr) mInstance = nullptr;
  }
  ~HostHandle() {
    if (mInstance != nullptr) {
      SetComponentInstanceStorage(mInstance, nullptr);
      AudioComponentInstanceDispose(mInstance);
    }
  }
  HostHandle(const HostHandle&) = delete;
  HostHandle& operator=(const HostHandle&) = delete;

  AudioComponentInstance get() const noexcept { return mInstance; }
  operator AudioComponentInstance() const noexcept { return mInstance; }  // NOLINT: a handle is a handle

 private:
  AudioComponentInstance mInstance = nullptr;
};

}  // namespace frametest
