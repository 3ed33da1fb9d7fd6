// Parameter information, interval names and value strings as a host reads them.
#include <atomic>
#include <string>
#include <thread>

#include "VarsileTestSupport.h"

namespace {

using varsiletest::OpenEffect;
using varsiletest::Text;

class ParameterInfoTest : public varsiletest::LeakCheckedTest {
 protected:
  AudioUnitParameterInfo Info(AudioUnitParameterID id) {
    AudioUnitParameterInfo info{};
    EXPECT_EQ(mEffect->GetParameterInfo(kAudioUnitScope_Global, id, info), noErr);
    return info;
  }
  std::string Name(AudioUnitParameterID id) {
    const AudioUnitParameterInfo info = Info(id);
    const std::string name = Text(info.cfNameString);
    EXPECT_EQ(name, std::string(info.name)) << "the C-string field carries the same text";
    return name;
  }
  void SetKey(Float32 key) {
    ASSERT_EQ(mEffect->SetParameter(kGateParam_Key, kAudioUnitScope_Global, 0, key, 0), noErr);
  }

  std::unique_ptr<Varsile> mEffect = OpenEffect();
};

// The table's values are pinned by the golden `varsile params` text; here,
// what a host relies on beyond them.
TEST_F(ParameterInfoTest, EveryParameterIsDescribedAsAHostReadsIt) {
  for (AudioUnitParameterID id = 0; id < kNumberOfGateParams; ++id) {
    SCOPED_TRACE(id);
    AudioUnitParameterInfo info{};
    const CFStringRef callersUnitName = CFSTR("left alone");
    info.unitName = callersUnitName;
    ASSERT_EQ(mEffect->GetParameterInfo(kAudioUnitScope_Global, id, info), noErr);
    EXPECT_EQ(Text(info.cfNameString), std::string(info.name)) << "the C-string field carries the same text";
    EXPECT_EQ(info.unitName, callersUnitName);
    EXPECT_NE(info.flags & kAudioUnitParameterFlag_IsReadable, 0u);
    EXPECT_EQ(info.flags & kAudioUnitParameterFlag_CFNameRelease, 0u) << "the instance keeps its names";
    const bool writable = (info.flags & kAudioUnitParameterFlag_IsWritable) != 0;
    EXPECT_TRUE(!writable || (info.flags & kAudioUnitParameterFlag_HasCFNameString) != 0);
    ASSERT_NE(info.flags & kAudioUnitParameterFlag_HasClump, 0u);
    EXPECT_NE(GateClumpName(info.clumpID), nullptr);
  }
  EXPECT_EQ(GateClumpName(0), nullptr);
  EXPECT_EQ(GateClumpName(kNumberOfClumps + 1), nullptr);
}

TEST_F(ParameterInfoTest, RefusesOtherScopesAndIds) {
  AudioUnitParameterInfo info{};
  EXPECT_EQ(mEffect->GetParameterInfo(kAudioUnitScope_Input, 0, info), kAudioUnitErr_InvalidParameter);
  EXPECT_EQ(mEffect->GetParameterInfo(kAudioUnitScope_Group, 3, info), kAudioUnitErr_InvalidParameter);
  EXPECT_EQ(mEffect->GetParameterInfo(kAudioUnitScope_Global, 22, info), kAudioUnitErr_InvalidParameter);
  EXPECT_EQ(mEffect->GetParameterInfo(kAudioUnitScope_Global, 0xFFFFFFFF, info),
            kAudioUnitErr_InvalidParameter);
}

TEST_F(ParameterInfoTest, IntervalNamesFollowTheKey) {
  SetKey(0);
  EXPECT_EQ(Name(2), "unison / C  ");
  EXPECT_EQ(Name(2).size(), 12u);
  EXPECT_EQ(Name(13), "major seventh / B  ");

  SetKey(2);
  EXPECT_EQ(Name(9), "fifth / A  ");
  EXPECT_EQ(Name(7), "fourth / G  ");

  SetKey(3);
  EXPECT_EQ(Name(2), "unison / D#");
  EXPECT_EQ(Name(2).size(), 11u);
  EXPECT_EQ(CFStringGetLength(Info(2).cfNameString), 11);
  EXPECT_EQ(Name(13), "major seventh / D  ");

  SetKey(11);
  EXPECT_EQ(Name(2), "unison / B  ");
  EXPECT_EQ(Name(3), "minor second / C  ");
  EXPECT_EQ(Name(8), "aug. fourth / F  ");
  EXPECT_EQ(Name(13), "major seventh / A#");

  // A fraction is truncated toward zero.
  SetKey(4.9f);
  EXPECT_EQ(Name(2), "unison / E  ");
}

TEST_F(ParameterInfoTest, EveryIntervalNameForEveryKey) {
  const char* intervals[] = {"unison",      "minor second", "major second",  "minor third",
                             "major third", "fourth",       "aug. fourth",   "fifth",
                             "minor sixth", "major sixth",  "minor seventh", "major seventh"};
  const char* notes[] = {"C  ", "C#", "D  ", "D#", "E  ", "F  ", "F#", "G  ", "G#", "A  ", "A#", "B  "};
  for (int key = 0; key < 12; ++key) {
    SetKey(static_cast<Float32>(key));
    for (int n = 0; n < 12; ++n) {
      EXPECT_EQ(Name(2 + n), std::string(intervals[n]) + " / " + notes[(key + n) % 12]) << key << " " << n;
    }
  }
}

TEST_F(ParameterInfoTest, KeysOutsideTheRangeStillNameANote) {
  // The storage takes any value; the names wrap into the twelve classes.
  SetKey(12);
  EXPECT_EQ(Name(2), "unison / C  ");
  SetKey(13);
  EXPECT_EQ(Name(2), "unison / C#");
  SetKey(-1);
  EXPECT_EQ(Name(2), "unison / B  ");
  SetKey(-13.5f);
  EXPECT_EQ(Name(2), "unison / B  ");
  SetKey(1e30f);
  EXPECT_EQ(Name(2).substr(0, 9), "unison / ");
  SetKey(-3e38f);
  EXPECT_EQ(Name(2).substr(0, 9), "unison / ");
  SetKey(std::numeric_limits<Float32>::quiet_NaN());
  EXPECT_EQ(Name(2), "unison / C  ");
  SetKey(std::numeric_limits<Float32>::infinity());
  EXPECT_EQ(Name(2), "unison / C  ");
  SetKey(-std::numeric_limits<Float32>::infinity());
  EXPECT_EQ(Name(5), "minor third / D#");
}

TEST(KeyPitchClassTest, InRangeKeepsTruncationOthersWrap) {
  for (int k = 0; k < 12; ++k) {
    EXPECT_EQ(KeyPitchClass(static_cast<Float32>(k)), static_cast<UInt32>(k));
    EXPECT_EQ(KeyPitchClass(static_cast<Float32>(k) + 0.99f), static_cast<UInt32>(k));
  }
  EXPECT_EQ(KeyPitchClass(-0.5f), 0u);
  EXPECT_EQ(KeyPitchClass(-0.0f), 0u);
  EXPECT_EQ(KeyPitchClass(23.0f), 11u);
  EXPECT_EQ(KeyPitchClass(-12.0f), 0u);
  EXPECT_EQ(KeyPitchClass(-11.0f), 1u);
  EXPECT_EQ(KeyPitchClass(16777216.0f), 16777216u % 12u);
  EXPECT_LT(KeyPitchClass(std::numeric_limits<Float32>::max()), 12u);
  EXPECT_LT(KeyPitchClass(std::numeric_limits<Float32>::lowest()), 12u);
  EXPECT_EQ(KeyPitchClass(std::numeric_limits<Float32>::quiet_NaN()), 0u);
  EXPECT_EQ(KeyPitchClass(std::numeric_limits<Float32>::infinity()), 0u);
}

TEST_F(ParameterInfoTest, AHandedOutNameLivesUntilTheNextRequestForThatId) {
  SetKey(0);
  const CFStringRef first = Info(4).cfNameString;
  const CFStringRef other = Info(5).cfNameString;
  EXPECT_EQ(CFGetRetainCount(first), 1) << "owned by the instance alone";
  // Requests for other interval ids leave it alone.
  Info(6);
  Info(7);
  EXPECT_EQ(Text(first), "major second / D  ");
  EXPECT_EQ(Text(other), "minor third / D#");

  // The next request for the same id replaces it; the count of live values stays.
  const CFIndex live = CFLiveObjectCount();
  const CFStringRef second = Info(4).cfNameString;
  EXPECT_EQ(CFLiveObjectCount(), live);
  EXPECT_EQ(Text(second), "major second / D  ");
}

TEST_F(ParameterInfoTest, EachInstanceOwnsItsNames) {
  auto other = OpenEffect();
  ASSERT_EQ(other->SetParameter(kGateParam_Key, kAudioUnitScope_Global, 0, 7, 0), noErr);
  SetKey(0);
  AudioUnitParameterInfo mine{};
  AudioUnitParameterInfo theirs{};
  ASSERT_EQ(mEffect->GetParameterInfo(kAudioUnitScope_Global, 9, mine), noErr);
  ASSERT_EQ(other->GetParameterInfo(kAudioUnitScope_Global, 9, theirs), noErr);
  EXPECT_EQ(Text(mine.cfNameString), "fifth / G  ") << "another instance's request leaves it alone";
  EXPECT_EQ(Text(theirs.cfNameString), "fifth / D  ");
}

TEST_F(ParameterInfoTest, ConcurrentRequestsFromSeveralInstances) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 400;
  std::vector<std::unique_ptr<Varsile>> effects;
  for (int t = 0; t < kThreads; ++t) {
    effects.push_back(OpenEffect());
    ASSERT_EQ(
        effects.back()->SetParameter(kGateParam_Key, kAudioUnitScope_Global, 0, static_cast<Float32>(t), 0),
        noErr);
  }
  const char* notes[] = {"C  ", "C#", "D  ", "D#", "E  ", "F  ", "F#", "G  ", "G#", "A  ", "A#", "B  "};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const int n = round % 12;
        AudioUnitParameterInfo info{};
        if (effects[t]->GetParameterInfo(kAudioUnitScope_Global, 2 + n, info) != noErr) ++wrong;
        // The C-string copy was made under the cache's lock, so it is whole.
        const std::string name = info.name;
        const std::string expected = std::string(" / ") + notes[(t + n) % 12];
        if (name.size() < expected.size() ||
            name.compare(name.size() - expected.size(), expected.size(), expected))
          ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(ParameterInfoTest, ValueStringsOfKeyAndCurrentNote) {
  CFArrayRef strings = nullptr;
  ASSERT_EQ(mEffect->GetParameterValueStrings(kAudioUnitScope_Global, kGateParam_Key, &strings), noErr);
  ASSERT_NE(strings, nullptr);
  ASSERT_EQ(CFArrayGetCount(strings), 12);
  EXPECT_EQ(Text(static_cast<CFStringRef>(CFArrayGetValueAtIndex(strings, 0))), "C  ");
  EXPECT_EQ(Text(static_cast<CFStringRef>(CFArrayGetValueAtIndex(strings, 1))), "C#");
  EXPECT_EQ(Text(static_cast<CFStringRef>(CFArrayGetValueAtIndex(strings, 11))), "B  ");
  CFRelease(strings);

  strings = nullptr;
  ASSERT_EQ(mEffect->GetParameterValueStrings(kAudioUnitScope_Global, kGateParam_CurrentNote, &strings),
            noErr);
  ASSERT_EQ(CFArrayGetCount(strings), 13);
  EXPECT_EQ(Text(static_cast<CFStringRef>(CFArrayGetValueAtIndex(strings, 7))), "G  ");
  EXPECT_EQ(Text(static_cast<CFStringRef>(CFArrayGetValueAtIndex(strings, 12))), "Pitch tracker off");
  CFRelease(strings);
}

TEST_F(ParameterInfoTest, ValueStringsRefusedForOtherParametersAndScopes) {
  for (AudioUnitParameterID id : {1u, 5u, 19u, 21u, 22u}) {
    CFArrayRef strings = nullptr;
    EXPECT_EQ(mEffect->GetParameterValueStrings(kAudioUnitScope_Global, id, &strings),
              kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(strings, nullptr);
    EXPECT_EQ(mEffect->GetParameterValueStrings(kAudioUnitScope_Global, id, nullptr),
              kAudioUnitErr_InvalidProperty);
  }
  CFArrayRef strings = nullptr;
  EXPECT_EQ(mEffect->GetParameterValueStrings(kAudioUnitScope_Input, kGateParam_Key, &strings),
            kAudioUnitErr_InvalidProperty);
  EXPECT_EQ(mEffect->GetParameterValueStrings(kAudioUnitScope_Input, kGateParam_Key, nullptr),
            kAudioUnitErr_InvalidProperty);
}

TEST_F(ParameterInfoTest, WithoutAnOutputLocationNothingIsMade) {
  const CFIndex live = CFLiveObjectCount();
  EXPECT_EQ(mEffect->GetParameterValueStrings(kAudioUnitScope_Global, kGateParam_Key, nullptr), noErr);
  EXPECT_EQ(mEffect->GetParameterValueStrings(kAudioUnitScope_Global, kGateParam_CurrentNote, nullptr),
            noErr);
  EXPECT_EQ(CFLiveObjectCount(), live);
}

TEST_F(ParameterInfoTest, ValueStringsThroughThePropertyStep) {
  // The frame's property step asks in both ways.
  UInt32 size = 0;
  Boolean writable = true;
  ASSERT_EQ(mEffect->DispatchGetPropertyInfo(kAudioUnitProperty_ParameterValueStrings, kAudioUnitScope_Global,
                                             kGateParam_Key, size, writable),
            noErr);
  EXPECT_EQ(size, sizeof(CFArrayRef));
  EXPECT_EQ(mEffect->DispatchGetPropertyInfo(kAudioUnitProperty_ParameterValueStrings, kAudioUnitScope_Global,
                                             kGateParam_MasterVolume, size, writable),
            kAudioUnitErr_InvalidProperty);
  CFArrayRef strings = nullptr;
  ASSERT_EQ(mEffect->DispatchGetProperty(kAudioUnitProperty_ParameterValueStrings, kAudioUnitScope_Global,
                                         kGateParam_CurrentNote, &strings),
            noErr);
  ASSERT_NE(strings, nullptr);
  EXPECT_EQ(CFArrayGetCount(strings), 13);
  CFRelease(strings);
}

}  // namespace
