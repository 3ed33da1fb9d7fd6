// Parameter storage: table and map modes, immediate and scheduled sets, the
// big-endian state record, the component's parameter operations and the
// fast parameter entries.
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "FrameTestSupport.h"
#include "ParameterEvents.h"

using namespace frametest;

namespace {

UInt32 Bits(Float32 value) {
  UInt32 bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

UInt32 BigEndianAt(const std::vector<UInt8>& bytes, std::size_t at) {
  return (UInt32{bytes[at]} << 24) | (UInt32{bytes[at + 1]} << 16) | (UInt32{bytes[at + 2]} << 8) |
         UInt32{bytes[at + 3]};
}

void AppendBigEndian(std::vector<UInt8>& bytes, UInt32 word) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<UInt8>(word >> shift));
}

std::vector<UInt8> Record(std::initializer_list<std::pair<UInt32, Float32>> pairs) {
  std::vector<UInt8> bytes;
  AppendBigEndian(bytes, static_cast<UInt32>(pairs.size()));
  for (const auto& [id, value] : pairs) {
    AppendBigEndian(bytes, id);
    AppendBigEndian(bytes, Bits(value));
  }
  return bytes;
}

using testevents::ImmediateEvent;
using testevents::RampedEvent;

class ParameterStorageTest : public OpenedAU {
 protected:
  AUElement& Global() { return *au->Globals().GetElement(0); }

  // The element's saved record.
  std::vector<UInt8> Save(const AUElement& element) {
    CFMutableDataRef data = CFDataCreateMutable(nullptr, 0);
    element.SaveState(data);
    const UInt8* p = CFDataGetBytePtr(data);
    std::vector<UInt8> bytes(p, p + CFDataGetLength(data));
    CFRelease(data);
    return bytes;
  }
};

// ---- Table mode ----

TEST_F(ParameterStorageTest, TableModeHoldsExactlyItsIds) {
  Global().UseIndexedParameters(22);
  EXPECT_TRUE(Global().UsesIndexedParameters());
  EXPECT_EQ(Global().GetNumberOfParameters(), 22u);
  EXPECT_EQ(Global().GetParameter(21), 0.0f);
  EXPECT_EQ(Thrown([&] { Global().GetParameter(22); }), kAudioUnitErr_InvalidParameter);
  EXPECT_EQ(Thrown([&] { Global().SetParameter(22, 1.0f); }), kAudioUnitErr_InvalidParameter);
  EXPECT_EQ(Thrown([&] { Global().SetParameter(0xFFFFFFFFu, 1.0f, true); }), kAudioUnitErr_InvalidParameter);
  AudioUnitParameterEvent event = ImmediateEvent(22, 0, 1.0f);
  EXPECT_EQ(Thrown([&] { Global().SetScheduledEvent(22, event, 0, 64); }), kAudioUnitErr_InvalidParameter);

  Global().SetParameter(21, 7.5f);
  EXPECT_EQ(Global().GetParameter(21), 7.5f);
  const ParameterMapEvent& stored = Global().GetParamEvent(21);
  EXPECT_EQ(stored.mEventKind, UInt32{kParameterEvent_Immediate});
  EXPECT_EQ(stored.mEndValue, 7.5f);

  std::vector<AudioUnitParameterID> ids(22, 99);
  Global().GetParameterList(ids.data());
  for (UInt32 i = 0; i < 22; ++i) EXPECT_EQ(ids[i], i);
}

TEST_F(ParameterStorageTest, ResizingTheTableKeepsExistingEntries) {
  Global().UseIndexedParameters(2);
  Global().SetParameter(1, 3.0f);
  Global().UseIndexedParameters(5);
  EXPECT_EQ(Global().GetParameter(1), 3.0f);
  EXPECT_EQ(Global().GetParameter(4), 0.0f);
  Global().UseIndexedParameters(-3);  // nonsense gives an empty table, not a huge one
  EXPECT_EQ(Global().GetNumberOfParameters(), 0u);
}

TEST_F(ParameterStorageTest, ImmediateSetKeepsTheRampFieldsItDoesNotOwn) {
  Global().UseIndexedParameters(1);
  Global().SetScheduledEvent(0, RampedEvent(0, 8, 16, 1.0f, 2.0f), 4, 20);
  Global().SetParameter(0, 5.0f);
  const ParameterMapEvent& e = Global().GetParamEvent(0);
  EXPECT_EQ(e.mEventKind, UInt32{kParameterEvent_Immediate});
  EXPECT_EQ(e.mStartValue, 5.0f);
  EXPECT_EQ(e.mEndValue, 5.0f);
  EXPECT_EQ(e.mOffsetInSlice, 4);
  EXPECT_EQ(e.mDurationFrames, 16u);
  EXPECT_EQ(e.mSliceFrames, 20u);
}

// ---- Map mode ----

TEST_F(ParameterStorageTest, MapModeCreatesOnlyWhileUninitialized) {
  EXPECT_FALSE(Global().UsesIndexedParameters());
  EXPECT_EQ(Thrown([&] { Global().GetParameter(5); }), kAudioUnitErr_InvalidParameter);
  Global().SetParameter(5, 1.0f);
  EXPECT_EQ(Global().GetParameter(5), 1.0f);
  const ParameterMapEvent& created = Global().GetParamEvent(5);
  EXPECT_EQ(created.mOffsetInSlice, 0);
  EXPECT_EQ(created.mDurationFrames, 0u);
  EXPECT_EQ(created.mSliceFrames, 0u);

  ASSERT_EQ(au->DoInitialize(), noErr);
  // Absent ids are dropped silently while initialized ...
  EXPECT_EQ(Thrown([&] { Global().SetParameter(6, 2.0f); }), noErr);
  EXPECT_EQ(Thrown([&] { Global().SetScheduledEvent(6, ImmediateEvent(6, 0, 2.0f), 0, 64); }), noErr);
  EXPECT_EQ(Global().GetNumberOfParameters(), 1u);
  EXPECT_EQ(Thrown([&] { Global().GetParameter(6); }), kAudioUnitErr_InvalidParameter);
  // ... present ones still change, and okWhenInitialized creates.
  Global().SetParameter(5, 3.0f);
  EXPECT_EQ(Global().GetParameter(5), 3.0f);
  Global().SetParameter(6, 4.0f, true);
  EXPECT_EQ(Global().GetParameter(6), 4.0f);
  Global().SetScheduledEvent(7, RampedEvent(7, 0, 10, 1.0f, 0.0f), 0, 10, true);
  EXPECT_EQ(Global().GetParamEvent(7).mEventKind, UInt32{kParameterEvent_Ramped});
  EXPECT_EQ(Global().GetNumberOfParameters(), 3u);
}

TEST_F(ParameterStorageTest, MapModeListsAndSavesInAscendingOrder) {
  for (UInt32 id : {70u, 3u, 0xFFFFFFF0u, 0u, 12u}) Global().SetParameter(id, static_cast<Float32>(id % 100));
  std::vector<AudioUnitParameterID> ids(Global().GetNumberOfParameters());
  Global().GetParameterList(ids.data());
  EXPECT_EQ(ids, (std::vector<AudioUnitParameterID>{0, 3, 12, 70, 0xFFFFFFF0u}));

  const std::vector<UInt8> bytes = Save(Global());
  ASSERT_EQ(bytes.size(), 4u + 5u * 8u);
  EXPECT_EQ(BigEndianAt(bytes, 0), 5u);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(BigEndianAt(bytes, 4 + 8 * i), ids[i]);
    EXPECT_EQ(BigEndianAt(bytes, 8 + 8 * i), Bits(static_cast<Float32>(ids[i] % 100)));
  }
}

// ---- Scheduled events stored in an element ----

TEST_F(ParameterStorageTest, ScheduledEventsFillTheEntry) {
  Global().UseIndexedParameters(1);
  Global().SetScheduledEvent(0, ImmediateEvent(0, 10, 2.5f), 10, 54);
  ParameterMapEvent e = Global().GetParamEvent(0);
  EXPECT_EQ(e.mEventKind, UInt32{kParameterEvent_Immediate});
  EXPECT_EQ(e.mOffsetInSlice, 0);
  EXPECT_EQ(e.mDurationFrames, 54u);
  EXPECT_EQ(e.mSliceFrames, 54u);
  EXPECT_EQ(e.mStartValue, 2.5f);
  EXPECT_EQ(e.mEndValue, 2.5f);

  Global().SetScheduledEvent(0, RampedEvent(0, -10, 30, 1.0f, 3.0f), 8, 16);
  e = Global().GetParamEvent(0);
  EXPECT_EQ(e.mEventKind, UInt32{kParameterEvent_Ramped});
  EXPECT_EQ(e.mOffsetInSlice, -18);
  EXPECT_EQ(e.mDurationFrames, 30u);
  EXPECT_EQ(e.mSliceFrames, 16u);
  EXPECT_EQ(e.mStartValue, 1.0f);
  EXPECT_EQ(e.mEndValue, 3.0f);
  EXPECT_EQ(Global().GetParameter(0), 1.0f);  // no interpolation: the start value

  // The offset wraps around in 32 bits instead of overflowing.
  Global().SetScheduledEvent(0, RampedEvent(0, std::numeric_limits<SInt32>::min(), 1, 0.0f, 0.0f), 10, 16);
  EXPECT_EQ(Global().GetParamEvent(0).mOffsetInSlice, std::numeric_limits<SInt32>::max() - 9);
}

// ---- The state record ----

TEST_F(ParameterStorageTest, TableRecordOf22ParametersIs180BigEndianBytes) {
  Global().UseIndexedParameters(22);
  for (UInt32 i = 0; i < 22; ++i) Global().SetParameter(i, 1.5f * static_cast<Float32>(i));
  const std::vector<UInt8> bytes = Save(Global());
  ASSERT_EQ(bytes.size(), 180u);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[3], 22);
  EXPECT_EQ(BigEndianAt(bytes, 4 + 8 * 1), 1u);
  EXPECT_EQ(BigEndianAt(bytes, 8 + 8 * 1), 0x3FC00000u);  // 1.5f
  for (UInt32 i = 0; i < 22; ++i) EXPECT_EQ(BigEndianAt(bytes, 4 + 8 * i), i);
}

TEST_F(ParameterStorageTest, RecordsRoundTripAndRestoreReturnsTheNextRecord) {
  Global().UseIndexedParameters(22);
  for (UInt32 i = 0; i < 22; ++i) Global().SetParameter(i, -0.25f * static_cast<Float32>(i) + 3.0f);
  std::vector<UInt8> bytes = Save(Global());
  const std::vector<UInt8> second = Record({{2, 42.0f}});
  bytes.insert(bytes.end(), second.begin(), second.end());

  auto other = Open();
  AUElement& target = *other->Globals().GetElement(0);
  target.UseIndexedParameters(22);
  const UInt8* end = bytes.data() + bytes.size();
  const UInt8* next = target.RestoreState(bytes.data(), end);
  EXPECT_EQ(next, bytes.data() + 180);
  for (UInt32 i = 0; i < 22; ++i) EXPECT_EQ(target.GetParameter(i), Global().GetParameter(i));
  EXPECT_EQ(Save(target), Save(Global()));
  EXPECT_EQ(target.RestoreState(next, end), end);
  EXPECT_EQ(target.GetParameter(2), 42.0f);
  Close(other);
}

TEST_F(ParameterStorageTest, RestoreRefusesARecordThatDoesNotFitAndAppliesNothing) {
  Global().UseIndexedParameters(4);
  std::vector<UInt8> bytes = Record({{0, 1.0f}, {1, 2.0f}, {2, 3.0f}});
  // Claims three pairs, holds two and a half.
  bytes.resize(bytes.size() - 4);
  EXPECT_EQ(Thrown([&] { Global().RestoreState(bytes.data(), bytes.data() + bytes.size()); }),
            kAudioUnitErr_InvalidPropertyValue);
  for (UInt32 i = 0; i < 4; ++i) EXPECT_EQ(Global().GetParameter(i), 0.0f);

  // A count that would overflow the size arithmetic.
  std::vector<UInt8> huge;
  AppendBigEndian(huge, 0xFFFFFFFFu);
  AppendBigEndian(huge, 0);
  AppendBigEndian(huge, Bits(9.0f));
  EXPECT_EQ(Thrown([&] { Global().RestoreState(huge.data(), huge.data() + huge.size()); }),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(Global().GetParameter(0), 0.0f);

  // Fewer than four bytes: not even a count.
  const UInt8 stub[3] = {0, 0, 0};
  EXPECT_EQ(Thrown([&] { Global().RestoreState(stub, stub + 3); }), kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(Thrown([&] { Global().RestoreState(stub + 3, stub); }), kAudioUnitErr_InvalidPropertyValue);

  // An empty record is fine.
  const std::vector<UInt8> empty = Record({});
  EXPECT_EQ(Global().RestoreState(empty.data(), empty.data() + empty.size()), empty.data() + 4);
}

TEST_F(ParameterStorageTest, RestoreOfAnIdBeyondTheTableKeepsWhatWasSetBeforeIt) {
  Global().UseIndexedParameters(2);
  const std::vector<UInt8> bytes = Record({{0, 1.0f}, {5, 2.0f}, {1, 3.0f}});
  EXPECT_EQ(Thrown([&] { Global().RestoreState(bytes.data(), bytes.data() + bytes.size()); }),
            kAudioUnitErr_InvalidParameter);
  EXPECT_EQ(Global().GetParameter(0), 1.0f);
  EXPECT_EQ(Global().GetParameter(1), 0.0f);
}

TEST_F(ParameterStorageTest, RestoreIntoAMapFollowsTheInitializedRule) {
  Global().SetParameter(1, 0.0f);
  ASSERT_EQ(au->DoInitialize(), noErr);
  const std::vector<UInt8> bytes = Record({{1, 5.0f}, {2, 6.0f}});
  Global().RestoreState(bytes.data(), bytes.data() + bytes.size());
  EXPECT_EQ(Global().GetParameter(1), 5.0f);
  EXPECT_EQ(Global().GetNumberOfParameters(), 1u);
}

// ---- Component operations ----

TEST_F(ParameterStorageTest, ComponentSetAndGetReachTheElement) {
  Global().UseIndexedParameters(3);
  EXPECT_EQ(au->SetParameter(2, kAudioUnitScope_Global, 0, 0.5f, 99), noErr);
  Float32 value = -1.0f;
  EXPECT_EQ(au->GetParameter(2, kAudioUnitScope_Global, 0, value), noErr);
  EXPECT_EQ(value, 0.5f);

  // The group scope answers through the group operations, without storing.
  value = -1.0f;
  EXPECT_EQ(au->SetParameter(2, kAudioUnitScope_Group, 0, 1.0f, 0), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(au->GetParameter(2, kAudioUnitScope_Group, 0, value), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(value, -1.0f);

  EXPECT_EQ(Thrown([&] { au->SetParameter(2, 5, 0, 1.0f, 0); }), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(Thrown([&] { au->SetParameter(2, kAudioUnitScope_Global, 1, 1.0f, 0); }),
            kAudioUnitErr_InvalidElement);
  EXPECT_EQ(Thrown([&] { au->GetParameter(3, kAudioUnitScope_Global, 0, value); }),
            kAudioUnitErr_InvalidParameter);

  // Input and output elements keep parameters of their own, in map mode.
  EXPECT_EQ(au->SetParameter(9, kAudioUnitScope_Input, 0, 2.0f, 0), noErr);
  EXPECT_EQ(au->GetParameter(9, kAudioUnitScope_Input, 0, value), noErr);
  EXPECT_EQ(value, 2.0f);
}

// A component whose parameter operations throw whatever it is told to.
class ThrowingAU : public TestAU {
 public:
  enum class Throw { Nothing, BadAlloc, Int32, Int16, String, Long };
  Throw mThrow = Throw::Nothing;
  SInt32 mInt32 = 0;
  SInt16 mInt16 = 0;

  OSStatus SetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                        AudioUnitParameterValue value, UInt32 offset) override {
    Raise();
    return TestAU::SetParameter(id, scope, element, value, offset);
  }
  OSStatus GetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                        AudioUnitParameterValue& value) override {
    Raise();
    return TestAU::GetParameter(id, scope, element, value);
  }

 private:
  void Raise() const {
    switch (mThrow) {
      case Throw::Nothing:
        return;
      case Throw::BadAlloc:
        throw std::bad_alloc();
      case Throw::Int32:
        throw mInt32;
      case Throw::Int16:
        throw mInt16;
      case Throw::String:
        throw std::string("no status here");
      case Throw::Long:
        throw 5L;
    }
  }
};

TEST_F(ParameterStorageTest, FastEntriesTurnEverythingThrownIntoAStatus) {
  auto thrower = Open<ThrowingAU>();
  thrower->Globals().GetElement(0)->UseIndexedParameters(1);
  Float32 value = 0.0f;

  EXPECT_EQ(AudioUnitBaseSetParameter(nullptr, 0, 0, 0, 1.0f, 0), kAudio_ParamError);
  EXPECT_EQ(AudioUnitBaseGetParameter(nullptr, 0, 0, 0, &value), kAudio_ParamError);
  EXPECT_EQ(AudioUnitBaseGetParameter(thrower.get(), 0, 0, 0, nullptr), kAudio_ParamError);

  EXPECT_EQ(AudioUnitBaseSetParameter(thrower.get(), 0, 0, 0, 0.75f, 0), noErr);
  EXPECT_EQ(AudioUnitBaseGetParameter(thrower.get(), 0, 0, 0, &value), noErr);
  EXPECT_EQ(value, 0.75f);
  EXPECT_EQ(AudioUnitBaseSetParameter(thrower.get(), 1, 0, 0, 1.0f, 0), kAudioUnitErr_InvalidParameter);
  EXPECT_EQ(AudioUnitBaseGetParameter(thrower.get(), 0, 7, 0, &value), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(AudioUnitBaseGetParameter(thrower.get(), 0, 0, 3, &value), kAudioUnitErr_InvalidElement);
  EXPECT_EQ(AudioUnitBaseSetParameter(thrower.get(), 0, kAudioUnitScope_Group, 0, 1.0f, 0),
            kAudioUnitErr_InvalidScope);

  struct Case {
    ThrowingAU::Throw kind;
    SInt32 int32;
    SInt16 int16;
    OSStatus expected;
  };
  for (const Case& c :
       {Case{ThrowingAU::Throw::BadAlloc, 0, 0, memFullErr},
        Case{ThrowingAU::Throw::Int32, -10878, 0, -10878}, Case{ThrowingAU::Throw::Int32, 123456, 0, 123456},
        Case{ThrowingAU::Throw::Int16, 0, -32768, -32768}, Case{ThrowingAU::Throw::Int16, 0, 300, 300},
        Case{ThrowingAU::Throw::String, 0, 0, -1}, Case{ThrowingAU::Throw::Long, 0, 0, -1}}) {
    thrower->mThrow = c.kind;
    thrower->mInt32 = c.int32;
    thrower->mInt16 = c.int16;
    EXPECT_EQ(AudioUnitBaseSetParameter(thrower.get(), 0, 0, 0, 1.0f, 0), c.expected);
    EXPECT_EQ(AudioUnitBaseGetParameter(thrower.get(), 0, 0, 0, &value), c.expected);
  }
  Close(thrower);
}

}  // namespace
