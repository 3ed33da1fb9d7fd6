// Arrays and dictionaries: who holds which reference, lookups by content and
// the order of enumeration.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class CFCollectionTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(CFLiveObjectCount(), mLiveBefore) << "a value leaked or was over-released";
  }
  const CFIndex mLiveBefore = CFLiveObjectCount();
};

CFStringRef MakeString(const std::string& text) {
  return CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingASCII);
}

CFNumberRef MakeInt(SInt32 value) {
  return CFNumberCreate(nullptr, kCFNumberSInt32Type, &value);
}

CFMutableDictionaryRef MakeDictionary() {
  return CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                   &kCFTypeDictionaryValueCallBacks);
}

SInt32 IntAt(CFDictionaryRef dict, const void* key) {
  SInt32 value = -1;
  EXPECT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(dict, key)), kCFNumberSInt32Type,
                               &value));
  return value;
}

TEST_F(CFCollectionTest, ArrayWithoutCallbacksHoldsTheGivenValuesInOrder) {
  // The value strings of an indexed parameter.
  const void* names[] = {CFSTR("C  "), CFSTR("C#"), CFSTR("D  ")};
  CFArrayRef array = CFArrayCreate(nullptr, names, 3, nullptr);
  ASSERT_EQ(CFArrayGetCount(array), 3);
  for (CFIndex i = 0; i < 3; ++i) EXPECT_EQ(CFArrayGetValueAtIndex(array, i), names[i]);
  EXPECT_EQ(CFArrayGetValueAtIndex(array, 3), nullptr) << "out of range reads nothing";
  EXPECT_EQ(CFArrayGetValueAtIndex(array, -1), nullptr);
  CFRelease(array);

  // Without callbacks the array takes no reference and gives none back.
  CFStringRef owned = MakeString("owned");
  const void* values[] = {owned};
  array = CFArrayCreate(nullptr, values, 1, nullptr);
  EXPECT_EQ(CFGetRetainCount(owned), 1);
  CFRelease(array);
  EXPECT_EQ(CFGetRetainCount(owned), 1);
  CFRelease(owned);
}

TEST_F(CFCollectionTest, ArrayWithTypeCallbacksRetainsUntilDestroyed) {
  CFStringRef first = MakeString("first");
  CFNumberRef second = MakeInt(2);
  const void* values[] = {first};
  CFArrayRef fixed = CFArrayCreate(nullptr, values, 1, &kCFTypeArrayCallBacks);
  CFMutableArrayRef growing = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  CFArrayAppendValue(growing, first);
  CFArrayAppendValue(growing, second);
  CFArrayAppendValue(growing, CFSTR("third"));
  EXPECT_EQ(CFGetRetainCount(first), 3);
  EXPECT_EQ(CFGetRetainCount(second), 2);
  CFRelease(first);
  CFRelease(second);
  EXPECT_EQ(CFArrayGetCount(growing), 3);
  EXPECT_TRUE(CFEqual(CFArrayGetValueAtIndex(growing, 0), CFSTR("first")));

  CFRelease(fixed);
  EXPECT_EQ(CFGetRetainCount(first), 1);
  CFRelease(growing);  // releases the last references to first and second
  EXPECT_EQ(CFArrayCreate(nullptr, nullptr, 2, nullptr), nullptr) << "no values for a count of 2";
}

TEST_F(CFCollectionTest, DictionaryRetainsKeysAndValuesAndReleasesThemOnReplaceRemoveAndDestroy) {
  CFMutableDictionaryRef dict = MakeDictionary();
  CFStringRef key = MakeString("version");
  CFNumberRef zero = MakeInt(0);
  CFNumberRef one = MakeInt(1);

  CFDictionarySetValue(dict, key, zero);
  EXPECT_EQ(CFGetRetainCount(key), 2);
  EXPECT_EQ(CFGetRetainCount(zero), 2);

  // Replacing keeps the stored key and swaps the value's reference.
  CFStringRef sameKey = MakeString("version");
  CFDictionarySetValue(dict, sameKey, one);
  EXPECT_EQ(CFDictionaryGetCount(dict), 1);
  EXPECT_EQ(CFGetRetainCount(key), 2);
  EXPECT_EQ(CFGetRetainCount(sameKey), 1);
  EXPECT_EQ(CFGetRetainCount(zero), 1);
  EXPECT_EQ(CFGetRetainCount(one), 2);

  // Setting the value it already holds, when the dictionary holds the only
  // reference: it must survive.
  CFRelease(one);
  CFDictionarySetValue(dict, key, CFDictionaryGetValue(dict, key));
  EXPECT_EQ(IntAt(dict, key), 1);

  CFDictionarySetValue(dict, CFSTR("type"), zero);
  CFDictionaryRemoveValue(dict, sameKey);
  EXPECT_EQ(CFGetRetainCount(key), 1);
  EXPECT_FALSE(CFDictionaryContainsKey(dict, key));
  CFDictionaryRemoveValue(dict, CFSTR("missing"));  // nothing to remove
  EXPECT_EQ(CFDictionaryGetCount(dict), 1);

  EXPECT_EQ(CFGetRetainCount(zero), 2);
  CFRelease(dict);
  EXPECT_EQ(CFGetRetainCount(zero), 1);
  for (CFTypeRef value : {CFTypeRef(key), CFTypeRef(sameKey), CFTypeRef(zero)}) CFRelease(value);
}

TEST_F(CFCollectionTest, DictionaryLooksKeysUpByContent) {
  CFMutableDictionaryRef dict = MakeDictionary();
  CFNumberRef number = MakeInt(42);
  CFDictionarySetValue(dict, CFSTR("subtype"), number);
  CFRelease(number);

  CFStringRef made = MakeString("subtype");
  CFMutableStringRef built = CFStringCreateMutable(nullptr, 0);
  CFStringAppend(built, CFSTR("sub"));
  CFStringAppend(built, CFSTR("type"));
  for (CFStringRef key : {made, CFStringRef(built)}) {
    EXPECT_TRUE(CFDictionaryContainsKey(dict, key));
    EXPECT_EQ(IntAt(dict, key), 42);
    const void* found = nullptr;
    EXPECT_TRUE(CFDictionaryGetValueIfPresent(dict, key, &found));
    EXPECT_NE(found, nullptr);
    EXPECT_TRUE(CFDictionaryGetValueIfPresent(dict, key, nullptr));
  }
  CFStringRef sentinel = CFSTR("sentinel");
  const void* untouched = sentinel;
  EXPECT_FALSE(CFDictionaryGetValueIfPresent(dict, CFSTR("Subtype"), &untouched));
  EXPECT_EQ(untouched, sentinel);
  EXPECT_EQ(CFDictionaryGetValue(dict, CFSTR("part")), nullptr);
  EXPECT_EQ(CFDictionaryGetValue(dict, nullptr), nullptr);

  // Keys of different kinds never meet, even with the same text.
  CFNumberRef numberKey = MakeInt(1);
  CFStringRef numberValue = CFSTR("number");
  CFStringRef stringValue = CFSTR("string");
  CFDictionarySetValue(dict, numberKey, numberValue);
  CFDictionarySetValue(dict, CFSTR("1"), stringValue);
  double oneDouble = 1.0;
  CFNumberRef doubleKey = CFNumberCreate(nullptr, kCFNumberFloat64Type, &oneDouble);
  EXPECT_EQ(CFDictionaryGetValue(dict, doubleKey), numberValue) << "numbers are keys by value";
  EXPECT_EQ(CFDictionaryGetValue(dict, CFSTR("1")), stringValue);

  for (CFTypeRef value :
       {CFTypeRef(made), CFTypeRef(built), CFTypeRef(numberKey), CFTypeRef(doubleKey), CFTypeRef(dict)}) {
    CFRelease(value);
  }
}

TEST_F(CFCollectionTest, EnumerationYieldsEveryEntryInInsertionOrder) {
  CFMutableDictionaryRef dict = MakeDictionary();
  const std::vector<std::string> names = {"version", "type", "subtype", "manufacturer", "data", "name"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    CFStringRef key = MakeString(names[i]);
    CFNumberRef value = MakeInt(static_cast<SInt32>(i));
    CFDictionarySetValue(dict, key, value);
    CFRelease(key);
    CFRelease(value);
  }
  CFDictionaryRemoveValue(dict, CFSTR("subtype"));
  CFDictionarySetValue(dict, CFSTR("type"), CFSTR("replaced in place"));

  const CFIndex count = CFDictionaryGetCount(dict);
  ASSERT_EQ(count, 5);
  std::vector<const void*> keys(count), values(count);
  CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
  const std::vector<std::string> expected = {"version", "type", "manufacturer", "data", "name"};
  for (CFIndex i = 0; i < count; ++i) {
    EXPECT_EQ(CFStringGetCStringPtr(static_cast<CFStringRef>(keys[i]), kCFStringEncodingASCII), expected[i]);
    EXPECT_EQ(values[i], CFDictionaryGetValue(dict, keys[i]));
  }
  std::vector<const void*> onlyKeys(count), onlyValues(count);
  CFDictionaryGetKeysAndValues(dict, onlyKeys.data(), nullptr);
  CFDictionaryGetKeysAndValues(dict, nullptr, onlyValues.data());
  EXPECT_EQ(onlyKeys, keys);
  EXPECT_EQ(onlyValues, values);
  CFRelease(dict);
}

TEST_F(CFCollectionTest, ManyKeysAreAllFoundAgainstABruteForceList) {
  CFMutableDictionaryRef dict = MakeDictionary();
  for (SInt32 i = 0; i < 500; ++i) {
    CFStringRef key = MakeString(std::to_string(i * 7919 % 1000));
    CFNumberRef value = MakeInt(i);
    CFDictionarySetValue(dict, key, value);
    CFRelease(key);
    CFRelease(value);
  }
  EXPECT_EQ(CFDictionaryGetCount(dict), 500);
  for (SInt32 k = 0; k < 1000; ++k) {
    SInt32 expected = -1;
    for (SInt32 i = 0; i < 500; ++i) {
      if (i * 7919 % 1000 == k) expected = i;
    }
    CFStringRef key = MakeString(std::to_string(k));
    EXPECT_EQ(CFDictionaryContainsKey(dict, key), expected >= 0) << k;
    if (expected >= 0) {
      EXPECT_EQ(IntAt(dict, key), expected);
    }
    CFRelease(key);
  }
  CFRelease(dict);
}

TEST_F(CFCollectionTest, NestedDictionariesAreReleasedWithTheirHolder) {
  // The element-name layout: scope number -> (element index -> name).
  CFMutableDictionaryRef names = MakeDictionary();
  for (int scope = 0; scope < 3; ++scope) {
    CFMutableDictionaryRef elements = MakeDictionary();
    for (int element = 0; element < 4; ++element) {
      CFStringRef index = MakeString(std::to_string(element));
      CFStringRef name = MakeString("bus " + std::to_string(element));
      CFDictionarySetValue(elements, index, name);
      CFRelease(index);
      CFRelease(name);
    }
    CFStringRef scopeKey = MakeString(std::to_string(scope));
    CFDictionarySetValue(names, scopeKey, elements);
    CFRelease(scopeKey);
    CFRelease(elements);
  }
  EXPECT_EQ(CFLiveObjectCount(), mLiveBefore + 1 + 3 * (1 + 1 + 4 * 2));
  const void* inputs = CFDictionaryGetValue(names, CFSTR("1"));
  ASSERT_EQ(CFGetTypeID(inputs), CFDictionaryGetTypeID());
  EXPECT_TRUE(
      CFEqual(CFDictionaryGetValue(static_cast<CFDictionaryRef>(inputs), CFSTR("3")), CFSTR("bus 3")));
  CFRelease(names);
}

TEST_F(CFCollectionTest, DictionaryWithoutCallbacksTakesNoReferences) {
  CFMutableDictionaryRef dict = CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
  CFStringRef key = MakeString("key");
  CFNumberRef value = MakeInt(5);
  CFDictionarySetValue(dict, key, value);
  EXPECT_EQ(CFGetRetainCount(key), 1);
  EXPECT_EQ(CFGetRetainCount(value), 1);
  EXPECT_EQ(IntAt(dict, CFSTR("key")), 5) << "still compared by content";
  CFDictionaryRemoveValue(dict, CFSTR("key"));
  CFDictionarySetValue(dict, key, value);
  CFRelease(dict);
  EXPECT_EQ(CFGetRetainCount(key), 1);
  CFRelease(key);
  CFRelease(value);
}

TEST_F(CFCollectionTest, CopyStringKeysAreNotChangedByTheirOwner) {
  CFMutableDictionaryRef dict = CFDictionaryCreateMutable(nullptr, 0, &kCFCopyStringDictionaryKeyCallBacks,
                                                          &kCFTypeDictionaryValueCallBacks);
  CFMutableStringRef key = CFStringCreateMutable(nullptr, 0);
  CFStringAppend(key, CFSTR("name"));
  CFDictionarySetValue(dict, key, CFSTR("value"));
  EXPECT_EQ(CFGetRetainCount(key), 1) << "the dictionary holds a copy";
  CFStringAppend(key, CFSTR("-changed"));
  EXPECT_TRUE(CFDictionaryContainsKey(dict, CFSTR("name")));
  EXPECT_FALSE(CFDictionaryContainsKey(dict, key));
  CFRelease(key);
  CFRelease(dict);
}

TEST_F(CFCollectionTest, QueriesOnValuesOfAnotherKindFindNothing) {
  // A damaged saved state can hold any kind where a dictionary is expected.
  CFNumberRef number = MakeInt(3);
  const auto notADictionary = reinterpret_cast<CFDictionaryRef>(number);
  EXPECT_EQ(CFDictionaryGetCount(notADictionary), 0);
  EXPECT_EQ(CFDictionaryGetValue(notADictionary, CFSTR("data")), nullptr);
  EXPECT_FALSE(CFDictionaryContainsKey(notADictionary, CFSTR("data")));
  EXPECT_FALSE(CFDictionaryGetValueIfPresent(notADictionary, CFSTR("data"), nullptr));
  CFDictionaryGetKeysAndValues(notADictionary, nullptr, nullptr);
  EXPECT_EQ(CFArrayGetCount(reinterpret_cast<CFArrayRef>(number)), 0);
  EXPECT_EQ(CFArrayGetValueAtIndex(reinterpret_cast<CFArrayRef>(number), 0), nullptr);
  EXPECT_EQ(CFDictionaryGetCount(nullptr), 0);
  CFRelease(number);
}

}  // namespace
