// The saved state: the class-info dictionary, its big-endian parameter blob
// (checked against a golden file), element names, and restores of foreign,
// damaged and hostile dictionaries.
#include <bit>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>

#include "PropsTestSupport.h"

using namespace frametest;
using namespace propstest;

namespace {

constexpr SInt32 kTestSubtype = 0x74737431;       // 'tst1'
constexpr SInt32 kTestManufacturer = 0x56727354;  // 'VrsT'

class SavedState : public CFLeakCheck {
 protected:
  void SetUp() override {
    CFLeakCheck::SetUp();
    au = Open<ParamAU>(host.get());
    for (AudioUnitPropertyID id : {0u, 11u, 36u}) au->AddPropertyListener(id, ListenerRecorder::Proc, &heard);
  }
  void TearDown() override {
    Close(au);
    CFLeakCheck::TearDown();
  }

  CFRef Save() {
    CFPropertyListRef state = nullptr;
    EXPECT_EQ(au->SaveState(&state), noErr);
    return CFRef(state);
  }
  // A dictionary that passes the identity checks and holds nothing else.
  CFRef Minimal() {
    CFRef d = MutableDictionary();
    CFRef zero = Int32Number(0), subtype = Int32Number(kTestSubtype), maker = Int32Number(kTestManufacturer);
    Set(d, "version", zero.get());
    Set(d, "subtype", subtype.get());
    Set(d, "manufacturer", maker.get());
    return d;
  }
  std::vector<Float32> Params() {
    std::vector<Float32> v;
    for (UInt32 id = 0; id < 22; ++id) v.push_back(au->Param(id));
    return v;
  }
  // Refused before any change: parameters, preset and names untouched, and
  // nobody told.
  void ExpectRefusedUntouched(const CFRef& state, OSStatus expected = kAudioUnitErr_InvalidPropertyValue) {
    const std::vector<Float32> before = Params();
    const std::size_t heardBefore = heard.calls.size();
    const UInt32 inputs = au->Inputs().GetNumberOfElements();
    EXPECT_EQ(au->RestoreState(state.get()), expected);
    EXPECT_EQ(Params(), before);
    EXPECT_EQ(Text(au->GetCurrentPreset().presetName), "Untitled");
    EXPECT_EQ(heard.calls.size(), heardBefore);
    EXPECT_EQ(au->Inputs().GetNumberOfElements(), inputs);
    EXPECT_FALSE(au->Globals().GetElement(0)->HasName());
  }

  HostHandle host;
  std::unique_ptr<ParamAU> au;
  ListenerRecorder heard;
};

std::vector<UInt8> ReadFixture(const char* name) {
  std::ifstream file(std::string(VARSILE_FIXTURES_DIR) + "/" + name, std::ios::binary);
  return std::vector<UInt8>(std::istreambuf_iterator<char>(file), {});
}

// A component that answers the two optional properties the state carries.
class QualityAU : public ParamAU {
 public:
  using ParamAU::ParamAU;
  OSStatus GetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       void* data) override {
    if (id == kAudioUnitProperty_RenderQuality) return std::memcpy(data, &mQuality, 4), noErr;
    if (id == kAudioUnitProperty_CPULoad) return std::memcpy(data, &mLoad, 4), noErr;
    return ParamAU::GetProperty(id, scope, element, data);
  }
  OSStatus SetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                       const void* data, UInt32 size) override {
    if (id == kAudioUnitProperty_RenderQuality && size == 4) return std::memcpy(&mQuality, data, 4), noErr;
    if (id == kAudioUnitProperty_CPULoad) return kAudioUnitErr_PropertyNotWritable;  // refused, not fatal
    return ParamAU::SetProperty(id, scope, element, data, size);
  }
  SInt32 mQuality = 64;
  Float32 mLoad = 0.5f;
};

}  // namespace

TEST_F(SavedState, TheDefaultBlobMatchesTheGoldenFile) {
  const std::vector<UInt8> golden = ReadFixture("default-state-data.bin");
  ASSERT_EQ(golden.size(), 188u) << "tests/fixtures/default-state-data.bin missing or altered";
  CFRef state = Save();
  ASSERT_TRUE(IsKind(state.get(), CFDictionaryGetTypeID()));
  const CFTypeRef data = Get(state.get(), "data");
  ASSERT_TRUE(IsKind(data, CFDataGetTypeID()));
  EXPECT_EQ(Bytes(data), golden);

  // Exactly these keys, with these types and values.
  EXPECT_EQ(CFDictionaryGetCount(static_cast<CFDictionaryRef>(state.get())), 6);
  for (const char* key : {"version", "type", "subtype", "manufacturer"}) {
    ASSERT_TRUE(IsKind(Get(state.get(), key), CFNumberGetTypeID())) << key;
    EXPECT_EQ(CFNumberGetType(static_cast<CFNumberRef>(Get(state.get(), key))), kCFNumberSInt32Type) << key;
  }
  EXPECT_EQ(Int32Of(Get(state.get(), "version")), 0);
  EXPECT_EQ(Int32Of(Get(state.get(), "type")), static_cast<SInt32>(kAudioUnitType_Effect));
  EXPECT_EQ(Int32Of(Get(state.get(), "subtype")), kTestSubtype);
  EXPECT_EQ(Int32Of(Get(state.get(), "manufacturer")), kTestManufacturer);
  EXPECT_EQ(Text(Get(state.get(), "name")), "Untitled");
  EXPECT_TRUE(heard.calls.empty());  // saving changes nothing

  // A second element's record: its scope and element words in their order.
  au->Inputs().SetNumberOfElements(2);
  au->GetInput(1)->SetParameter(6, 1.0f);
  CFRef two = Save();
  EXPECT_EQ(Bytes(Get(two.get(), "data")), ReadFixture("two-element-state-data.bin"));
}

TEST_F(SavedState, EveryParameterAndNameComesBack) {
  for (UInt32 id = 0; id < 22; ++id) au->SetParam(id, 0.25f * static_cast<Float32>(id) - 1.0f);
  CFRef global = String("Controls"), input = String("Main in"), output = String("Main out");
  au->Globals().GetElement(0)->SetName(global.as<CFStringRef>());
  au->GetInput(0)->SetName(input.as<CFStringRef>());
  au->GetOutput(0)->SetName(output.as<CFStringRef>());
  CFRef preset = String("Scale of D");
  ASSERT_EQ(SetProp(*au, kAudioUnitProperty_PresentPreset, 0, 0, AUPreset{-1, preset.as<CFStringRef>()}),
            noErr);
  const std::vector<Float32> saved = Params();
  CFRef state = Save();
  EXPECT_EQ(Text(Get(state.get(), "name")), "Scale of D");
  EXPECT_EQ(Bytes(Get(state.get(), "data")).size(), 188u);

  for (UInt32 id = 0; id < 22; ++id) au->SetParam(id, 7.0f);
  CFRef other = String("other");
  au->GetInput(0)->SetName(other.as<CFStringRef>());
  au->GetOutput(0)->SetName(nullptr);
  au->Globals().GetElement(0)->SetName(nullptr);
  ASSERT_EQ(SetProp(*au, kAudioUnitProperty_PresentPreset, 0, 0, AUPreset{-1, other.as<CFStringRef>()}),
            noErr);
  heard.calls.clear();

  ASSERT_EQ(au->RestoreState(state.get()), noErr);
  EXPECT_EQ(Params(), saved);
  EXPECT_EQ(au->GetCurrentPreset().presetNumber, -1);
  EXPECT_EQ(Text(au->GetCurrentPreset().presetName), "Scale of D");
  EXPECT_EQ(Text(au->Globals().GetElement(0)->GetName()), "Controls");
  EXPECT_EQ(Text(au->GetInput(0)->GetName()), "Main in");
  EXPECT_EQ(Text(au->GetOutput(0)->GetName()), "Main out");
  ASSERT_EQ(heard.calls.size(), 1u);  // the preset; no element count grew, property 0 is never announced
  EXPECT_EQ(heard.calls[0].id, kAudioUnitProperty_PresentPreset);
  EXPECT_EQ(heard.calls[0].element, 0u);

  // Saving again gives the same blob.
  CFRef again = Save();
  EXPECT_EQ(Bytes(Get(again.get(), "data")), Bytes(Get(state.get(), "data")));
}

TEST_F(SavedState, TheClassInfoPropertySavesAndRestores) {
  au->SetParam(3, 42.0f);
  CFPropertyListRef state = nullptr;
  ASSERT_EQ(GetProp(*au, kAudioUnitProperty_ClassInfo, 0, 0, state), noErr);
  CFRef owned(state);
  au->SetParam(3, 1.0f);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_ClassInfo, 0, 0, state), noErr);
  EXPECT_EQ(au->Param(3), 42.0f);
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_ClassInfo), 0u);
}

TEST_F(SavedState, MapModeElementsAreSavedAfterTheGlobalScopeInAscendingIds) {
  au->GetInput(0)->SetParameter(9, 1.5f);
  au->GetInput(0)->SetParameter(2, -2.0f);
  CFRef state = Save();
  Blob expected;
  for (UInt32 id = 0; id < 22; ++id) {
    if (id == 0) expected.Word(0).Word(0).Word(22);
    expected.Word(id).Word(std::bit_cast<UInt32>(DefaultParameterValues()[id]));
  }
  expected.Record(1, 0, {{2, -2.0f}, {9, 1.5f}});
  EXPECT_EQ(Bytes(Get(state.get(), "data")), expected.bytes);
}

TEST_F(SavedState, AccurateOptionalKeysAreWrittenAndRestored) {
  auto q = Open<QualityAU>(host.get());
  CFPropertyListRef raw = nullptr;
  ASSERT_EQ(q->SaveState(&raw), noErr);
  CFRef state(raw);
  ASSERT_TRUE(IsKind(Get(state.get(), "render-quality"), CFNumberGetTypeID()));
  EXPECT_EQ(Int32Of(Get(state.get(), "render-quality")), 64);
  const auto load = static_cast<CFNumberRef>(Get(state.get(), "cpu-load"));
  ASSERT_TRUE(IsKind(load, CFNumberGetTypeID()));
  EXPECT_EQ(CFNumberGetType(load), kCFNumberFloatType);
  q->mQuality = 0;
  EXPECT_EQ(q->RestoreState(state.get()), noErr);  // the refused load does not fail it
  EXPECT_EQ(q->mQuality, 64);
  Close(q);
}

TEST_F(SavedState, ForeignDictionariesAreRefusedBeforeAnyChange) {
  CFRef state = Save();
  au->SetParam(5, 11.0f);
  CFRef wrongVersion = Copy(state.get()), wrongSubtype = Copy(state.get()), wrongMaker = Copy(state.get());
  CFRef noVersion = Copy(state.get()), noSubtype = Copy(state.get()), noMaker = Copy(state.get());
  CFRef one = Int32Number(1), other = Int32Number(kTestSubtype + 1);
  Set(wrongVersion, "version", one.get());
  Set(wrongSubtype, "subtype", other.get());
  Set(wrongMaker, "manufacturer", other.get());
  Remove(noVersion, "version");
  Remove(noSubtype, "subtype");
  Remove(noMaker, "manufacturer");
  for (const CFRef* d : {&wrongVersion, &wrongSubtype, &wrongMaker, &noVersion, &noSubtype, &noMaker}) {
    ExpectRefusedUntouched(*d);
  }
  EXPECT_EQ(au->Param(5), 11.0f);

  CFRef withPart = Copy(state.get());
  Set(withPart, "part", one.get());
  ExpectRefusedUntouched(withPart);
  CFRef notADictionary = String("state");
  ExpectRefusedUntouched(notADictionary);
  EXPECT_EQ(au->RestoreState(nullptr), kAudioUnitErr_InvalidPropertyValue);

  // The type is not examined.
  CFRef otherType = Copy(state.get());
  Set(otherType, "type", other.get());
  EXPECT_EQ(au->RestoreState(otherType.get()), noErr);
  EXPECT_EQ(au->Param(5), 100.0f);
}

TEST_F(SavedState, MissingDataAndNameAreNotErrors) {
  au->SetParam(1, 50.0f);
  CFRef d = Minimal();
  CFRef name = String("Kept params");
  Set(d, "name", name.get());
  ASSERT_EQ(au->RestoreState(d.get()), noErr);
  EXPECT_EQ(au->Param(1), 50.0f);
  EXPECT_EQ(Text(au->GetCurrentPreset().presetName), "Kept params");
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_PresentPreset), 1u);

  Remove(d, "name");
  ASSERT_EQ(au->RestoreState(d.get()), noErr);
  EXPECT_EQ(Text(au->GetCurrentPreset().presetName), "Untitled");
}

TEST_F(SavedState, RecordsForMissingElementsEndTheWalkQuietly) {
  CFRef d = Minimal();
  CFRef data = Data(Blob{}.Record(0, 5, {{0, 3.0f}}).Record(0, 0, {{0, 4.0f}}).bytes);
  Set(d, "data", data.get());
  CFRef name = String("after");
  Set(d, "name", name.get());
  ASSERT_EQ(au->RestoreState(d.get()), noErr);
  EXPECT_EQ(Params(), DefaultParameterValues());
  EXPECT_EQ(Text(au->GetCurrentPreset().presetName), "after");
}

TEST_F(SavedState, ABadScopeOrParameterEndsTheRestoreKeepingWhatCameBefore) {
  CFRef d = Minimal();
  CFRef name = String("never");
  Set(d, "name", name.get());
  CFRef badScope = Data(Blob{}.Record(0, 0, {{3, 9.0f}}).Record(7, 0, {{0, 1.0f}}).bytes);
  Set(d, "data", badScope.get());
  // Thrown from deep inside, as every frame error; the entry turns it into the status.
  EXPECT_EQ(Thrown([&] { au->RestoreState(d.get()); }), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(au->Param(3), 9.0f);
  EXPECT_EQ(Text(au->GetCurrentPreset().presetName), "Untitled");

  CFRef badId = Data(Blob{}.Record(0, 0, {{4, 8.0f}, {22, 1.0f}, {5, 8.0f}}).bytes);
  Set(d, "data", badId.get());
  EXPECT_EQ(Thrown([&] { au->RestoreState(d.get()); }), kAudioUnitErr_InvalidParameter);
  EXPECT_EQ(au->Param(4), 8.0f);
  EXPECT_EQ(au->Param(5), 100.0f);
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_PresentPreset), 0u);
}

TEST_F(SavedState, RestoringWhileInitializedKeepsMapsClosed) {
  CFRef d = Minimal();
  CFRef data = Data(Blob{}.Record(0, 0, {{2, 33.0f}}).Record(1, 0, {{6, 1.0f}}).bytes);
  Set(d, "data", data.get());
  ASSERT_EQ(au->DoInitialize(), noErr);
  ASSERT_EQ(au->RestoreState(d.get()), noErr);
  EXPECT_EQ(au->Param(2), 33.0f);
  EXPECT_EQ(au->GetInput(0)->GetNumberOfParameters(), 0u);  // not created while initialized
  au->DoCleanup();
  ASSERT_EQ(au->RestoreState(d.get()), noErr);
  EXPECT_EQ(au->GetInput(0)->GetParameter(6), 1.0f);
}

TEST_F(SavedState, ElementNamesGrowAScopeAndAnnounceIt) {
  CFRef d = Minimal(), names = MutableDictionary(), inputs = MutableDictionary();
  CFRef aux = String("Aux 3");
  Set(inputs, "3", aux.get());
  Set(names, "1", inputs.get());
  Set(d, "element-name", names.get());
  ASSERT_EQ(au->Inputs().GetNumberOfElements(), 1u);
  ASSERT_EQ(au->RestoreState(d.get()), noErr);
  EXPECT_EQ(au->Inputs().GetNumberOfElements(), 4u);
  EXPECT_EQ(Text(au->GetInput(3)->GetName()), "Aux 3");
  ASSERT_EQ(heard.CountFor(kAudioUnitProperty_ElementCount), 1u);
  for (const auto& call : heard.calls) {
    if (call.id != kAudioUnitProperty_ElementCount) continue;
    EXPECT_EQ(call.scope, kAudioUnitScope_Input);
    EXPECT_EQ(call.element, 0u);
  }
  // Saved back under the decimal scope and element numbers.
  CFRef state = Save();
  const CFTypeRef saved = Get(Get(state.get(), "element-name"), "1");
  ASSERT_TRUE(IsKind(saved, CFDictionaryGetTypeID()));
  EXPECT_EQ(Text(Get(saved, "3")), "Aux 3");

  // Initialized, a render may be reading the scope's elements: it does not grow.
  ASSERT_EQ(au->DoInitialize(), noErr);
  Set(inputs, "6", aux.get());
  ASSERT_EQ(au->RestoreState(d.get()), noErr);
  EXPECT_EQ(au->Inputs().GetNumberOfElements(), 4u);
}

TEST_F(SavedState, NonFiniteAndNegativeZeroValuesAreStoredAsTheyAre) {
  const Float32 nan = std::bit_cast<Float32>(0x7FC01234u);
  const Float32 inf = std::numeric_limits<Float32>::infinity();
  CFRef d = Minimal();
  CFRef data = Data(Blob{}.Record(0, 0, {{0, nan}, {1, inf}, {2, -inf}, {3, -0.0f}}).bytes);
  Set(d, "data", data.get());
  ASSERT_EQ(au->RestoreState(d.get()), noErr);
  EXPECT_EQ(std::bit_cast<UInt32>(au->Param(0)), 0x7FC01234u);
  EXPECT_EQ(au->Param(1), inf);
  EXPECT_EQ(au->Param(2), -inf);
  EXPECT_EQ(std::bit_cast<UInt32>(au->Param(3)), 0x80000000u);

  CFRef state = Save();
  const std::vector<UInt8> bytes = Bytes(Get(state.get(), "data"));
  ASSERT_EQ(bytes.size(), 188u);
  const std::vector<UInt8> expected = Blob{}.Record(0, 0, {{0, nan}, {1, inf}, {2, -inf}, {3, -0.0f}}).bytes;
  // Header and the first four pairs: the same bits went out as came in.
  EXPECT_TRUE(std::equal(expected.begin() + 12, expected.end(), bytes.begin() + 12));
}

// Damaged and hostile values: every one is refused before anything changes.
TEST_F(SavedState, MalformedDataIsRefusedBeforeAnyChange) {
  const std::vector<UInt8> good = Blob{}.Record(0, 0, {{0, 5.0f}, {1, 6.0f}}).bytes;
  std::vector<std::vector<UInt8>> blobs;
  blobs.push_back(std::vector<UInt8>(good.begin(), good.end() - 1));    // last pair cut short
  blobs.push_back(std::vector<UInt8>(good.begin(), good.begin() + 7));  // header cut short
  {
    std::vector<UInt8> huge = good;
    huge[8] = huge[9] = huge[10] = huge[11] = 0xFF;  // count far beyond the bytes
    blobs.push_back(huge);
    std::vector<UInt8> oneTooMany = good;
    oneTooMany[11] = 3;
    blobs.push_back(oneTooMany);
  }
  for (std::size_t tail = 1; tail < 12; ++tail) {  // trailing bytes shorter than a header
    std::vector<UInt8> trailing = good;
    trailing.resize(good.size() + tail, 0);
    blobs.push_back(trailing);
  }
  for (const auto& blob : blobs) {
    SCOPED_TRACE(blob.size());
    CFRef d = Minimal();
    CFRef data = Data(blob);
    Set(d, "data", data.get());
    CFRef name = String("must not land");
    Set(d, "name", name.get());
    ExpectRefusedUntouched(d);
  }
  // And the good one lands.
  CFRef d = Minimal();
  CFRef data = Data(good);
  Set(d, "data", data.get());
  ASSERT_EQ(au->RestoreState(d.get()), noErr);
  EXPECT_EQ(au->Param(1), 6.0f);
}

TEST_F(SavedState, ValuesOfTheWrongKindAreRefusedBeforeAnyChange) {
  CFRef text = String("0"), number = Int32Number(0), fraction = FloatNumber(0.5f), dict = MutableDictionary();
  CFRef data = Data(Blob{}.Record(0, 0, {{0, 5.0f}}).bytes);
  CFRef subtypeText = String("tst1");
  struct Case {
    const char* key;
    CFTypeRef value;
  };
  for (const Case& c : std::initializer_list<Case>{{"data", text.get()},
                                                   {"data", number.get()},
                                                   {"version", text.get()},
                                                   {"version", fraction.get()},
                                                   {"subtype", subtypeText.get()},
                                                   {"manufacturer", dict.get()},
                                                   {"name", number.get()},
                                                   {"render-quality", text.get()},
                                                   {"cpu-load", dict.get()},
                                                   {"element-name", text.get()}}) {
    SCOPED_TRACE(c.key);
    CFRef d = Minimal();
    Set(d, "data", data.get());
    Set(d, c.key, c.value);
    ExpectRefusedUntouched(d);
  }
}

TEST_F(SavedState, ElementNameEntriesOfTheWrongKindAreRefused) {
  CFRef number = Int32Number(3), inputs = MutableDictionary(), name = String("ok");
  Set(inputs, "0", name.get());
  Set(inputs, "1", number.get());
  CFRef scopeNotADictionary = MutableDictionary(), nameNotAString = MutableDictionary();
  Set(scopeNotADictionary, "0", name.get());
  Set(nameNotAString, "1", inputs.get());
  for (const CFRef* names : {&scopeNotADictionary, &nameNotAString}) {
    CFRef d = Minimal();
    Set(d, "element-name", names->get());
    ExpectRefusedUntouched(d);
  }
  // Scopes the restore never looks at are not judged; odd element keys are skipped.
  CFRef tolerated = MutableDictionary(), oddKeys = MutableDictionary();
  Set(oddKeys, "x7", name.get());
  Set(oddKeys, "0", name.get());
  Set(tolerated, "9", number.get());
  Set(tolerated, "0", oddKeys.get());
  CFRef d = Minimal();
  Set(d, "element-name", tolerated.get());
  ASSERT_EQ(au->RestoreState(d.get()), noErr);
  EXPECT_EQ(Text(au->Globals().GetElement(0)->GetName()), "ok");
  EXPECT_EQ(au->Globals().GetNumberOfElements(), 1u);
}

TEST_F(SavedState, CodesKeptAsWideOrFloatNumbersStillMatch) {
  CFRef d = Minimal();
  CFRef wide = Int64Number(kTestSubtype), zero = FloatNumber(0.0f);
  Set(d, "subtype", wide.get());
  Set(d, "version", zero.get());
  EXPECT_EQ(au->RestoreState(d.get()), noErr);
  // Beyond 32 bits it names no code.
  CFRef beyond = Int64Number(SInt64{kTestSubtype} + (SInt64{1} << 32));
  Set(d, "subtype", beyond.get());
  EXPECT_EQ(au->RestoreState(d.get()), kAudioUnitErr_InvalidPropertyValue);
}

// A manufacturer with the top bit set is saved as a negative number; another
// writer may have kept it unsigned.
TEST(SavedStateCodes, ATopBitCodeMatchesSignedOrUnsigned) {
  const CFIndex live = CFLiveObjectCount();
  {
    static const AudioComponentDescription description{kAudioUnitType_Effect, 0x746F7062 /* 'topb' */,
                                                       0xF0000001u, 0, 0};
    static AudioComponent component =
        AudioComponentRegister(&description, CFSTR("Varsile top-bit test"), 1, TestComponentEntry);
    HostHandle handle(component);
    auto au = Open<ParamAU>(handle.get());
    CFPropertyListRef raw = nullptr;
    ASSERT_EQ(au->SaveState(&raw), noErr);
    CFRef state(raw);
    EXPECT_EQ(Int32Of(Get(state.get(), "manufacturer")), static_cast<SInt32>(0xF0000001u));
    EXPECT_EQ(au->RestoreState(state.get()), noErr);
    CFRef copy = Copy(state.get());
    CFRef unsignedCode = Int64Number(0xF0000001LL);
    Set(copy, "manufacturer", unsignedCode.get());
    EXPECT_EQ(au->RestoreState(copy.get()), noErr);
    Close(au);
  }
  EXPECT_EQ(CFLiveObjectCount(), live);
}
