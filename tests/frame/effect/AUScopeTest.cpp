// Scopes: resizing, lookups, and element names saved to and restored from
// a dictionary whose content may be damaged or hostile.
#include <string>
#include <utility>
#include <vector>

#include "FrameTestSupport.h"

using namespace frametest;

namespace {

// Makes plain elements and counts them.
class CountingCreator : public AUElementCreator {
 public:
  explicit CountingCreator(AUBase* owner) : mOwner(owner) {}
  AUElement* CreateElement(AudioUnitScope, AudioUnitElement) override {
    ++created;
    return new AUElement(mOwner);
  }
  int created = 0;

 private:
  AUBase* mOwner;
};

CFStringRef NewString(const char* text) {
  return CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
}

std::string Text(CFStringRef s) {
  char buffer[64] = {};
  if (s == nullptr || !CFStringGetCString(s, buffer, sizeof(buffer), kCFStringEncodingUTF8)) return "<none>";
  return buffer;
}

// A dictionary from (key, value) pairs; values may be any property-list value.
CFMutableDictionaryRef NewDict(const std::vector<std::pair<CFTypeRef, CFTypeRef>>& entries) {
  CFMutableDictionaryRef d =
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  for (const auto& [k, v] : entries) CFDictionarySetValue(d, k, v);
  return d;
}

class AUScopeTest : public OpenedAU {};

}  // namespace

TEST_F(AUScopeTest, ResizingCreatesAndDeletesOnlyAtTheEnd) {
  CountingCreator creator(au.get());
  AUScope scope;
  scope.Initialize(&creator, kAudioUnitScope_Group, 2);
  EXPECT_EQ(scope.GetScope(), kAudioUnitScope_Group);
  EXPECT_EQ(creator.created, 2);
  AUElement* first = scope.GetElement(0);
  scope.SetNumberOfElements(5);
  EXPECT_EQ(creator.created, 5);
  EXPECT_EQ(scope.GetElement(0), first);
  scope.SetNumberOfElements(1);
  EXPECT_EQ(scope.GetNumberOfElements(), 1u);
  EXPECT_EQ(scope.GetElement(0), first);
  EXPECT_EQ(scope.GetElement(1), nullptr);
  EXPECT_EQ(Thrown([&] { scope.SafeGetElement(1); }), kAudioUnitErr_InvalidElement);
  EXPECT_EQ(Thrown([&] { scope.GetIOElement(0); }), kAudioUnitErr_InvalidElement);  // a plain element
}

TEST_F(AUScopeTest, ElementNamesAreRetainedAndReleased) {
  AUElement* e = au->GetElement(kAudioUnitScope_Global, 0);
  CFStringRef a = NewString("a");
  e->SetName(a);
  EXPECT_EQ(CFGetRetainCount(a), 2);
  e->SetName(a);  // the same name again
  EXPECT_EQ(CFGetRetainCount(a), 2);
  e->SetName(nullptr);
  EXPECT_EQ(CFGetRetainCount(a), 1);
  EXPECT_FALSE(e->HasName());
  CFRelease(a);
}

TEST_F(AUScopeTest, NamesAreSavedUnderDecimalKeys) {
  CFMutableDictionaryRef all = NewDict({});
  au->Inputs().AddElementNamesToDict(all);
  EXPECT_EQ(CFDictionaryGetCount(all), 0);  // no name: nothing added
  EXPECT_FALSE(au->Inputs().HasElementWithName());

  au->Outputs().SetNumberOfElements(12);
  au->GetElement(kAudioUnitScope_Output, 11)->SetName(CFSTR("eleven"));
  au->GetElement(kAudioUnitScope_Output, 0)->SetName(CFSTR("zero"));
  EXPECT_TRUE(au->Outputs().HasElementWithName());
  au->Outputs().AddElementNamesToDict(all);
  ASSERT_EQ(CFDictionaryGetCount(all), 1);
  auto names = static_cast<CFDictionaryRef>(CFDictionaryGetValue(all, CFSTR("2")));
  ASSERT_NE(names, nullptr);
  EXPECT_EQ(CFDictionaryGetCount(names), 2);
  EXPECT_EQ(Text(static_cast<CFStringRef>(CFDictionaryGetValue(names, CFSTR("11")))), "eleven");
  EXPECT_EQ(Text(static_cast<CFStringRef>(CFDictionaryGetValue(names, CFSTR("0")))), "zero");
  CFRelease(all);
}

TEST_F(AUScopeTest, RestoringNamesGrowsTheScopeToTheLargestKey) {
  CFStringRef first = NewString("first"), fourth = NewString("fourth");
  CFMutableDictionaryRef names = NewDict({{CFSTR("0"), first}, {CFSTR("3"), fourth}});
  EXPECT_TRUE(au->Inputs().RestoreElementNames(names));
  EXPECT_EQ(au->Inputs().GetNumberOfElements(), 4u);
  EXPECT_EQ(Text(au->GetElement(kAudioUnitScope_Input, 0)->GetName()), "first");
  EXPECT_EQ(Text(au->GetElement(kAudioUnitScope_Input, 3)->GetName()), "fourth");
  EXPECT_FALSE(au->GetElement(kAudioUnitScope_Input, 2)->HasName());
  EXPECT_NE(dynamic_cast<AUInputElement*>(au->GetElement(kAudioUnitScope_Input, 3)), nullptr);
  // Again: the scope is large enough now.
  EXPECT_FALSE(au->Inputs().RestoreElementNames(names));
  EXPECT_EQ(au->Inputs().GetNumberOfElements(), 4u);
  CFRelease(names);
  CFRelease(first);
  CFRelease(fourth);
}

TEST_F(AUScopeTest, SaveAndRestoreRoundTrip) {
  au->Outputs().SetNumberOfElements(3);
  au->GetElement(kAudioUnitScope_Output, 2)->SetName(CFSTR("side"));
  CFMutableDictionaryRef all = NewDict({});
  au->Outputs().AddElementNamesToDict(all);
  auto fresh = Open();
  EXPECT_TRUE(fresh->Outputs().RestoreElementNames(
      static_cast<CFDictionaryRef>(CFDictionaryGetValue(all, CFSTR("2")))));
  EXPECT_EQ(fresh->Outputs().GetNumberOfElements(), 3u);
  EXPECT_EQ(Text(fresh->GetElement(kAudioUnitScope_Output, 2)->GetName()), "side");
  Close(fresh);
  CFRelease(all);
}

TEST_F(AUScopeTest, HostileKeysAreIgnoredAndNeverShrinkTheScope) {
  CFStringRef evil = NewString("evil");
  // Each of these would, read as "%u" / "%d", wrap, explode or alias an element.
  const char* keys[] = {"4294967295",
                        "4294967296",
                        "99999999",
                        "-1",
                        "abc",
                        "",
                        " 1",
                        "1 ",
                        "+1",
                        "01",
                        "0x1",
                        "1e3",
                        "12345678901234567890123456789012345",
                        "1024"};
  for (const char* key : keys) {
    CFStringRef k = NewString(key);
    CFMutableDictionaryRef names = NewDict({{k, evil}});
    EXPECT_FALSE(au->Globals().RestoreElementNames(names)) << '"' << key << '"';
    EXPECT_EQ(au->Globals().GetNumberOfElements(), 1u) << '"' << key << '"';
    EXPECT_FALSE(au->GetElement(kAudioUnitScope_Global, 0)->HasName()) << '"' << key << '"';
    CFRelease(names);
    CFRelease(k);
  }
  CFRelease(evil);
}

TEST_F(AUScopeTest, HostileEntriesDoNotStopTheSoundOnes) {
  CFStringRef good = NewString("good");
  CFStringRef wrap = NewString("4294967295");
  CFNumberRef number;
  const SInt32 seven = 7;
  number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &seven);
  CFMutableDictionaryRef nested = NewDict({});
  CFMutableDictionaryRef names =
      NewDict({{CFSTR("2"), good}, {wrap, good}, {CFSTR("5"), number}, {CFSTR("6"), nested}, {number, good}});
  EXPECT_TRUE(au->Outputs().RestoreElementNames(names));
  // Only "2" counts: the number and dictionary values are not names.
  EXPECT_EQ(au->Outputs().GetNumberOfElements(), 3u);
  EXPECT_EQ(Text(au->GetElement(kAudioUnitScope_Output, 2)->GetName()), "good");
  CFRelease(names);
  CFRelease(nested);
  CFRelease(number);
  CFRelease(wrap);
  CFRelease(good);
}

TEST_F(AUScopeTest, GrowthIsBoundedByTheDocumentedLimit) {
  CFStringRef name = NewString("last");
  CFStringRef key = NewString(std::to_string(AUScope::kMaxElementsFromNames - 1).c_str());
  CFMutableDictionaryRef names = NewDict({{key, name}});
  EXPECT_TRUE(au->GetScope(kAudioUnitScope_Part).RestoreElementNames(names));
  EXPECT_EQ(au->GetScope(kAudioUnitScope_Part).GetNumberOfElements(), AUScope::kMaxElementsFromNames);
  CFRelease(names);
  CFRelease(key);
  CFRelease(name);
}

TEST_F(AUScopeTest, ExistingElementsBeyondTheLimitCanStillBeNamed) {
  au->GetScope(kAudioUnitScope_Group).SetNumberOfElements(AUScope::kMaxElementsFromNames + 10);
  CFStringRef name = NewString("far");
  CFStringRef key = NewString(std::to_string(AUScope::kMaxElementsFromNames + 5).c_str());
  CFStringRef tooFar = NewString(std::to_string(AUScope::kMaxElementsFromNames + 10).c_str());
  CFMutableDictionaryRef names = NewDict({{key, name}, {tooFar, name}});
  EXPECT_FALSE(au->GetScope(kAudioUnitScope_Group).RestoreElementNames(names));
  EXPECT_EQ(au->GetScope(kAudioUnitScope_Group).GetNumberOfElements(), AUScope::kMaxElementsFromNames + 10);
  EXPECT_EQ(Text(au->GetElement(kAudioUnitScope_Group, AUScope::kMaxElementsFromNames + 5)->GetName()),
            "far");
  CFRelease(names);
  CFRelease(tooFar);
  CFRelease(key);
  CFRelease(name);
}

TEST_F(AUScopeTest, ANameDictionaryOfTheWrongKindIsIgnored) {
  CFStringRef notADictionary = NewString("0");
  EXPECT_FALSE(au->Inputs().RestoreElementNames(reinterpret_cast<CFDictionaryRef>(notADictionary)));
  EXPECT_FALSE(au->Inputs().RestoreElementNames(nullptr));
  CFMutableDictionaryRef empty = NewDict({});
  EXPECT_FALSE(au->Inputs().RestoreElementNames(empty));
  EXPECT_EQ(au->Inputs().GetNumberOfElements(), 1u);
  CFRelease(empty);
  CFRelease(notADictionary);
}
