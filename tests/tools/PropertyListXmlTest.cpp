#include <gtest/gtest.h>

#include <cstring>

#include "CliError.h"
#include "PropertyListXml.h"

namespace {

using varsile::CFRef;
using varsile::cli::CliError;
using varsile::cli::FromXml;
using varsile::cli::ToXml;

class PropertyListXml : public ::testing::Test {
 protected:
  void SetUp() override { mLive = CFLiveObjectCount(); }
  void TearDown() override { EXPECT_EQ(CFLiveObjectCount(), mLive) << "property-list values leaked"; }

  static void Set(CFMutableDictionaryRef dictionary, const char* key, CFTypeRef value) {
    const CFRef<CFStringRef> cfKey(CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8));
    CFDictionarySetValue(dictionary, cfKey.Get(), value);
    CFRelease(value);
  }
  static CFMutableDictionaryRef NewDictionary() {
    return CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                     &kCFTypeDictionaryValueCallBacks);
  }
  static CFNumberRef Int(SInt64 value) { return CFNumberCreate(nullptr, kCFNumberSInt64Type, &value); }
  static CFNumberRef Int32(SInt32 value) { return CFNumberCreate(nullptr, kCFNumberSInt32Type, &value); }
  static CFNumberRef Real(double value) { return CFNumberCreate(nullptr, kCFNumberFloat64Type, &value); }

  std::string Error(std::string_view xml) {
    try {
      FromXml(xml);
    } catch (const CliError& error) {
      return error.what();
    }
    return "no error";
  }

  CFIndex mLive = 0;
};

SInt64 IntegerOf(CFTypeRef value) {
  SInt64 integer = 0;
  EXPECT_EQ(CFGetTypeID(value), CFNumberGetTypeID());
  CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &integer);
  return integer;
}

CFTypeRef Get(CFTypeRef dictionary, const char* key) {
  const CFRef<CFStringRef> cfKey(CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8));
  return CFDictionaryGetValue(static_cast<CFDictionaryRef>(dictionary), cfKey.Get());
}

TEST_F(PropertyListXml, EveryKindRoundTrips) {
  const CFRef<CFMutableDictionaryRef> root(NewDictionary());
  Set(root.Get(), "version", Int32(0));
  Set(root.Get(), "negative", Int32(-10851));
  Set(root.Get(), "big", Int(SInt64{1} << 40));
  Set(root.Get(), "most negative", Int(std::numeric_limits<SInt64>::min()));
  Set(root.Get(), "real", Real(0.1));
  Set(root.Get(), "name", CFStringCreateWithCString(nullptr, "Dür & <Moll>", kCFStringEncodingUTF8));
  Set(root.Get(), "yes", CFRetain(kCFBooleanTrue));
  Set(root.Get(), "no", CFRetain(kCFBooleanFalse));
  const UInt8 bytes[] = {0, 1, 2, 0xFF, 0x80, 0};
  Set(root.Get(), "data", CFDataCreate(nullptr, bytes, sizeof(bytes)));
  Set(root.Get(), "empty data", CFDataCreate(nullptr, nullptr, 0));
  const CFRef<CFMutableArrayRef> array(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
  const CFRef<CFNumberRef> seven(Int32(7));
  CFArrayAppendValue(array.Get(), seven.Get());
  const CFRef<CFMutableDictionaryRef> inner(NewDictionary());
  Set(inner.Get(), "1", CFStringCreateWithCString(nullptr, "element one", kCFStringEncodingUTF8));
  CFArrayAppendValue(array.Get(), inner.Get());
  CFDictionarySetValue(root.Get(), CFSTR("array"), array.Get());

  const std::string xml = ToXml(root.Get());
  EXPECT_NE(xml.find("<integer>-10851</integer>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("&lt;Moll&gt;"), std::string::npos);

  const CFRef<CFPropertyListRef> back = FromXml(xml);
  ASSERT_TRUE(back);
  EXPECT_TRUE(CFEqual(back.Get(), root.Get()));
  EXPECT_EQ(IntegerOf(Get(back.Get(), "negative")), -10851);
  EXPECT_EQ(IntegerOf(Get(back.Get(), "most negative")), std::numeric_limits<SInt64>::min());
  const auto data = static_cast<CFDataRef>(Get(back.Get(), "data"));
  ASSERT_EQ(CFDataGetLength(data), 6);
  EXPECT_EQ(std::memcmp(CFDataGetBytePtr(data), bytes, 6), 0);
  EXPECT_EQ(Get(back.Get(), "yes"), kCFBooleanTrue);
  // The same text again: nothing is lost on the way.
  EXPECT_EQ(ToXml(back.Get()), xml);
}

TEST_F(PropertyListXml, KindsAPresetCannotCarryAreRefused) {
  const std::string head = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>when</key>";
  EXPECT_EQ(Error(head + "<date>2020-01-01T00:00:00Z</date></dict></plist>"),
            "the property list holds a date, which presets cannot carry");
  EXPECT_EQ(Error("<?xml version=\"1.0\"?><plist version=\"1.0\"><array><integer>1</integer>"
                  "<date>2020-01-01T00:00:00Z</date></array></plist>"),
            "the property list holds a date, which presets cannot carry");

  const CFRef<CFStringRef> path(CFStringCreateWithCString(nullptr, "/tmp", kCFStringEncodingUTF8));
  const CFRef<CFURLRef> url(CFURLCreateWithFileSystemPath(nullptr, path.Get(), kCFURLPOSIXPathStyle, true));
  try {
    ToXml(url.Get());
    FAIL() << "no throw";
  } catch (const CliError& error) {
    EXPECT_STREQ(error.what(), "a property list cannot hold a URL");
  }

  const CFRef<CFMutableDictionaryRef> numberKeys(NewDictionary());
  const CFRef<CFNumberRef> key(Int32(1));
  CFDictionarySetValue(numberKeys.Get(), key.Get(), key.Get());
  try {
    ToXml(numberKeys.Get());
    FAIL() << "no throw";
  } catch (const CliError& error) {
    EXPECT_STREQ(error.what(), "a property-list dictionary can only have string keys");
  }
}

TEST_F(PropertyListXml, TextThatIsNotAPropertyListIsRefused) {
  EXPECT_EQ(Error(""), "not an XML property list");
  EXPECT_EQ(Error("RIFF....WAVEfmt "), "not an XML property list");
  EXPECT_EQ(Error("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key>"),
            "not an XML property list");
}

TEST_F(PropertyListXml, DeepNestingIsRefusedNotRecursedInto) {
  std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < 100; ++i) xml += "<array>";
  for (int i = 0; i < 100; ++i) xml += "</array>";
  xml += "</plist>";
  EXPECT_EQ(Error(xml), "the property list is nested too deeply");
}

}  // namespace

namespace {

// Damaged presets are refused with the program's own message, never stored
// as null values or handed to a library that asserts on them.
TEST_F(PropertyListXml, TextThatIsNotUtf8OrHoldsANulIsRefused) {
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
  EXPECT_EQ(Error(head + "<dict><key>sub\x85type</key><string>x</string></dict></plist>"),
            "the property list holds text that is not UTF-8");
  EXPECT_EQ(Error(head + "<array><string>caf\xe9</string></array></plist>"),
            "the property list holds text that is not UTF-8");
  const std::string withNul =
      head + "<array><string>not a" + std::string(1, '\0') + "preset</string></array></plist>";
  EXPECT_NE(Error(withNul), "no error");
}

}  // namespace
