// Each host call must put its arguments where a component's dispatcher reads
// them: the selector in `what`, arguments in words 1, 2, 3, ..., 32-bit values
// zero-extended in the low half, the Float32 value's bytes in the low half.
#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <string>
#include <vector>

#include "HostFakeComponent.h"

namespace host_test {
namespace {

long Word(const void* p) {
  return reinterpret_cast<long>(p);
}
long Word(UInt32 v) {
  return static_cast<long>(static_cast<UInt64>(v));
}

void PropertyListener(void*, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {}
OSStatus RenderCallback(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                        AudioBufferList*) {
  return noErr;
}

struct HostCall {
  std::string name;
  SInt16 what;
  std::function<OSStatus(AudioUnit)> call;
  std::vector<long> words;  // expected words 1..n
};

class HostCallPacking : public ::testing::Test {
 protected:
  void SetUp() override {
    gFakeLog = FakeComponentLog{};
    static const AudioComponent component = [] {
      const AudioComponentDescription desc = Describe(FourCC("aufx"), FourCC("pak0"), FourCC("Pk00"));
      return AudioComponentRegister(&desc, CFSTR("Packing test"), 1, RecordingEntry);
    }();
    ASSERT_EQ(AudioComponentInstanceNew(component, &mUnit), noErr);
  }
  void TearDown() override { EXPECT_EQ(AudioComponentInstanceDispose(mUnit), noErr); }

  AudioUnit mUnit = nullptr;
};

// Distinct, recognisable arguments; 0xFFFFFFF0 shows that 32-bit values are
// not sign-extended.
std::vector<HostCall> AllCalls() {
  static UInt32 size = 0;
  static Boolean writable = 0;
  static char data[16];
  static Float32 value = 0;
  static AudioUnitRenderActionFlags flags = 0;
  static AudioTimeStamp stamp{};
  static AudioBufferList buffers{};
  static AudioUnitParameterEvent events[2]{};
  static int user = 0;
  const UInt32 big = 0xFFFFFFF0u;
  return {
      {"Initialize", kAudioUnitInitializeSelect, [](AudioUnit u) { return AudioUnitInitialize(u); }, {}},
      {"Uninitialize",
       kAudioUnitUninitializeSelect,
       [](AudioUnit u) { return AudioUnitUninitialize(u); },
       {}},
      {"GetPropertyInfo",
       kAudioUnitGetPropertyInfoSelect,
       [=](AudioUnit u) { return AudioUnitGetPropertyInfo(u, 8, 2, big, &size, &writable); },
       {8, 2, Word(big), Word(&size), Word(&writable)}},
      {"GetProperty",
       kAudioUnitGetPropertySelect,
       [=](AudioUnit u) { return AudioUnitGetProperty(u, 5, 0, 14, data, &size); },
       {5, 0, 14, Word(data), Word(&size)}},
      {"SetProperty",
       kAudioUnitSetPropertySelect,
       [=](AudioUnit u) { return AudioUnitSetProperty(u, 14, 1, 3, data, big); },
       {14, 1, 3, Word(data), Word(big)}},
      {"GetParameter",
       kAudioUnitGetParameterSelect,
       [=](AudioUnit u) { return AudioUnitGetParameter(u, 21, 0, big, &value); },
       {21, 0, Word(big), Word(&value)}},
      {"SetParameter",
       kAudioUnitSetParameterSelect,
       [=](AudioUnit u) { return AudioUnitSetParameter(u, 3, 0, 1, -2.5f, big); },
       {3, 0, 1, Word(std::bit_cast<UInt32>(-2.5f)), Word(big)}},
      {"Reset",
       kAudioUnitResetSelect,
       [=](AudioUnit u) { return AudioUnitReset(u, 4, big); },
       {4, Word(big)}},
      {"AddPropertyListener",
       kAudioUnitAddPropertyListenerSelect,
       [=](AudioUnit u) { return AudioUnitAddPropertyListener(u, big, PropertyListener, &user); },
       {Word(big), reinterpret_cast<long>(&PropertyListener), Word(&user)}},
      {"Render",
       kAudioUnitRenderSelect,
       [=](AudioUnit u) { return AudioUnitRender(u, &flags, &stamp, 2, big, &buffers); },
       {Word(&flags), Word(&stamp), 2, Word(big), Word(&buffers)}},
      {"AddRenderNotify",
       kAudioUnitAddRenderNotifySelect,
       [=](AudioUnit u) { return AudioUnitAddRenderNotify(u, RenderCallback, &user); },
       {reinterpret_cast<long>(&RenderCallback), Word(&user)}},
      {"RemoveRenderNotify",
       kAudioUnitRemoveRenderNotifySelect,
       [=](AudioUnit u) { return AudioUnitRemoveRenderNotify(u, RenderCallback, &user); },
       {reinterpret_cast<long>(&RenderCallback), Word(&user)}},
      {"ScheduleParameters",
       kAudioUnitScheduleParametersSelect,
       [=](AudioUnit u) { return AudioUnitScheduleParameters(u, events, 2); },
       {Word(events), 2}},
      {"RemovePropertyListenerWithUserData",
       kAudioUnitRemovePropertyListenerWithUserDataSelect,
       [=](AudioUnit u) {
         return AudioUnitRemovePropertyListenerWithUserData(u, 22, PropertyListener, &user);
       },
       {22, reinterpret_cast<long>(&PropertyListener), Word(&user)}},
  };
}

TEST_F(HostCallPacking, EveryCallPutsItsArgumentsInWordsOneOnward) {
  for (const HostCall& call : AllCalls()) {
    SCOPED_TRACE(call.name);
    gFakeLog.last = RecordedCall{};
    gFakeLog.reply = -10000 - call.what;
    // The entry's status comes back unchanged.
    EXPECT_EQ(call.call(mUnit), -10000 - call.what);
    EXPECT_EQ(gFakeLog.last.what, call.what);
    EXPECT_EQ(gFakeLog.last.storage, GetComponentInstanceStorage(mUnit));
    EXPECT_EQ(gFakeLog.last.words[0], 0) << "word 0 is not an audio-unit argument";
    for (std::size_t k = 0; k < call.words.size(); ++k) {
      EXPECT_EQ(gFakeLog.last.words[k + 1], call.words[k]) << "word " << k + 1;
    }
    for (std::size_t k = call.words.size() + 1; k < gFakeLog.last.words.size(); ++k) {
      EXPECT_EQ(gFakeLog.last.words[k], 0) << "word " << k;
    }
    EXPECT_EQ(gFakeLog.last.paramSize, call.words.size() * sizeof(long));
  }
  gFakeLog.reply = noErr;
}

TEST_F(HostCallPacking, SetParameterValueIsTheLowFourBytesOfItsWord) {
  for (const Float32 value : {0.0f, -0.0f, 1.0f, -2.5f, 1e-40f, 3.4e38f}) {
    ASSERT_EQ(AudioUnitSetParameter(mUnit, 0, 0, 0, value, 0), noErr);
    const long word = gFakeLog.last.words[4];
    Float32 unpacked = 0;
    std::memcpy(&unpacked, &word, sizeof(unpacked));
    EXPECT_EQ(std::bit_cast<UInt32>(unpacked), std::bit_cast<UInt32>(value));
    EXPECT_EQ(static_cast<UInt64>(word) >> 32, 0u) << "high half must be clear";
  }
}

TEST_F(HostCallPacking, NullUnitIsRefusedWithoutReachingAnyEntry) {
  const int callsBefore = gFakeLog.calls;
  for (const HostCall& call : AllCalls()) {
    EXPECT_EQ(call.call(nullptr), kAudio_ParamError) << call.name;
  }
  EXPECT_EQ(gFakeLog.calls, callsBefore);
}

}  // namespace
}  // namespace host_test
