// Strings: encodings accepted and refused, appending, C-string output into
// bounded buffers, lengths in UTF-16 units and ordering.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class CFStringTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(CFLiveObjectCount(), mLiveBefore) << "a value leaked or was over-released";
  }
  const CFIndex mLiveBefore = CFLiveObjectCount();
};

std::string Text(CFStringRef str) {
  const char* text = CFStringGetCStringPtr(str, kCFStringEncodingUTF8);
  return text != nullptr ? text : "<none>";
}

// Textbook UTF-8 decoding, written independently of the library's table of
// lead-byte ranges: length from the lead byte's high bits, continuation bytes
// 10xxxxxx, then no overlong form, no surrogate, nothing above U+10FFFF.
bool ReferenceIsValidUtf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length;
    char32_t code;
    if ((lead & 0x80) == 0) {
      length = 1, code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07;
    } else {
      return false;
    }
    if (i + length > bytes.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

TEST_F(CFStringTest, Utf8IsAcceptedExactlyWhenWellFormed) {
  // Every lead byte, boundary values for the second byte, and a few endings
  // for the third and fourth: all the edges of the UTF-8 rules.
  const std::vector<int> second = {0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
  const std::vector<int> later = {-1, 0x41, 0x80, 0xBF, 0xC0};
  int accepted = 0;
  for (int a = 1; a < 256; ++a) {
    for (int b : second) {
      for (int c : later) {
        for (int d : later) {
          if (c < 0 && d >= 0) continue;
          std::string bytes{static_cast<char>(a), static_cast<char>(b)};
          if (c >= 0) bytes += static_cast<char>(c);
          if (d >= 0) bytes += static_cast<char>(d);
          CFStringRef str = CFStringCreateWithCString(nullptr, bytes.c_str(), kCFStringEncodingUTF8);
          ASSERT_EQ(str != nullptr, ReferenceIsValidUtf8(bytes))
              << std::hex << a << " " << b << " " << c << " " << d;
          if (str != nullptr) {
            ++accepted;
            EXPECT_EQ(Text(str), bytes);
            CFRelease(str);
          }
        }
      }
    }
  }
  EXPECT_GT(accepted, 1000);
}

TEST_F(CFStringTest, AsciiRefusesEveryByteAbove127) {
  for (int byte = 1; byte < 256; ++byte) {
    const char text[] = {'k', static_cast<char>(byte), '\0'};
    CFStringRef str = CFStringCreateWithCString(nullptr, text, kCFStringEncodingASCII);
    EXPECT_EQ(str != nullptr, byte < 128) << byte;
    if (str != nullptr) CFRelease(str);
  }
  EXPECT_EQ(CFStringCreateWithCString(nullptr, "abc", 0x0500), nullptr) << "unknown encodings are refused";
  EXPECT_EQ(CFStringCreateWithCString(nullptr, nullptr, kCFStringEncodingASCII), nullptr);
}

TEST_F(CFStringTest, AppendConcatenatesInOrder) {
  // An interval name, the way the parameter names are built.
  CFMutableStringRef name = CFStringCreateMutable(nullptr, 0);
  CFStringAppend(name, CFSTR("unison"));
  CFStringAppend(name, CFSTR(" / "));
  CFStringAppend(name, CFSTR("C  "));
  EXPECT_EQ(Text(name), "unison / C  ");
  EXPECT_EQ(CFStringGetLength(name), 12);

  CFStringAppend(name, name);
  EXPECT_EQ(Text(name), "unison / C  unison / C  ") << "appending a string to itself doubles it";

  CFMutableStringRef other = CFStringCreateMutable(nullptr, 4);
  CFStringAppendCString(other, "caf\xC3\xA9", kCFStringEncodingUTF8);
  CFStringAppendCString(other, "\xC3\xA9", kCFStringEncodingASCII);  // refused: not ASCII
  CFStringAppendCString(other, "\xC3", kCFStringEncodingUTF8);       // refused: cut short
  CFStringAppendCString(other, "!", kCFStringEncodingASCII);
  EXPECT_EQ(Text(other), "caf\xC3\xA9!") << "the maximum length is only a hint";

  CFRelease(name);
  CFRelease(other);
}

TEST_F(CFStringTest, GetCStringWritesAtMostTheBufferSize) {
  CFStringRef str = CFSTR("fifth");
  char buffer[16];

  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_TRUE(CFStringGetCString(str, buffer, 6, kCFStringEncodingASCII));
  EXPECT_STREQ(buffer, "fifth");
  EXPECT_EQ(buffer[6], 'X');

  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_FALSE(CFStringGetCString(str, buffer, 5, kCFStringEncodingUTF8)) << "no room for the terminator";
  EXPECT_STREQ(buffer, "");
  for (int i = 1; i < 16; ++i) EXPECT_EQ(buffer[i], 'X') << i;

  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_FALSE(CFStringGetCString(str, buffer, 0, kCFStringEncodingUTF8));
  EXPECT_EQ(buffer[0], 'X') << "a zero-sized buffer is not touched";
  EXPECT_FALSE(CFStringGetCString(str, nullptr, 16, kCFStringEncodingUTF8));
  EXPECT_FALSE(CFStringGetCString(str, buffer, 16, 0x0500)) << "unknown encoding";
}

TEST_F(CFStringTest, GetCStringRefusesWhatTheEncodingCannotHold) {
  CFStringRef accented = CFStringCreateWithCString(nullptr, "A4 \xE2\x80\x94 440", kCFStringEncodingUTF8);
  char buffer[32];
  EXPECT_FALSE(CFStringGetCString(accented, buffer, sizeof buffer, kCFStringEncodingASCII));
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(CFStringGetCStringPtr(accented, kCFStringEncodingASCII), nullptr);
  EXPECT_TRUE(CFStringGetCString(accented, buffer, sizeof buffer, kCFStringEncodingUTF8));
  EXPECT_STREQ(buffer, "A4 \xE2\x80\x94 440");
  EXPECT_EQ(CFStringGetLength(accented), 8) << "the dash is one UTF-16 unit";
  CFRelease(accented);

  // A value of another kind, as found in a damaged saved state, reads as no string.
  SInt32 zero = 0;
  CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &zero);
  EXPECT_FALSE(CFStringGetCString(reinterpret_cast<CFStringRef>(number), buffer, sizeof buffer,
                                  kCFStringEncodingUTF8));
  EXPECT_EQ(CFStringGetLength(reinterpret_cast<CFStringRef>(number)), 0);
  EXPECT_EQ(CFStringCreateCopy(nullptr, reinterpret_cast<CFStringRef>(number)), nullptr);
  CFRelease(number);
}

TEST_F(CFStringTest, LengthCountsUtf16Units) {
  struct Case {
    const char* text;
    CFIndex units;
  };
  for (const Case& c : {Case{"", 0}, Case{"C#", 2}, Case{"h\xC3\xA9llo", 5}, Case{"\xE2\x82\xAC", 1},
                        Case{"\xF0\x9D\x84\x9E", 2},
                        Case{"a\xF0\x9F\x98\x80"
                             "b",
                             4}}) {
    CFStringRef str = CFStringCreateWithCString(nullptr, c.text, kCFStringEncodingUTF8);
    ASSERT_NE(str, nullptr) << c.text;
    EXPECT_EQ(CFStringGetLength(str), c.units) << c.text;
    CFRelease(str);
  }
}

TEST_F(CFStringTest, CopiesOfMutableStringsDoNotFollowLaterChanges) {
  CFMutableStringRef mutableName = CFStringCreateMutable(nullptr, 0);
  CFStringAppend(mutableName, CFSTR("Untitled"));
  CFStringRef copy = CFStringCreateCopy(nullptr, mutableName);
  CFStringAppend(mutableName, CFSTR(" 2"));
  EXPECT_EQ(Text(copy), "Untitled");
  EXPECT_EQ(Text(mutableName), "Untitled 2");

  // An immutable string is shared, one more reference.
  CFStringRef again = CFStringCreateCopy(nullptr, copy);
  EXPECT_EQ(again, copy);
  EXPECT_EQ(CFGetRetainCount(copy), 2);
  CFStringRef constant = CFSTR("c");
  EXPECT_EQ(CFStringCreateCopy(nullptr, constant), constant);

  CFRelease(again);
  CFRelease(copy);
  CFRelease(mutableName);
}

TEST_F(CFStringTest, CompareOrdersByUtf16Units) {
  CFStringRef halfwidth =
      CFStringCreateWithCString(nullptr, "\xEF\xBD\xA1", kCFStringEncodingUTF8);  // U+FF61
  CFStringRef emoji =
      CFStringCreateWithCString(nullptr, "\xF0\x9F\x98\x80", kCFStringEncodingUTF8);  // U+1F600
  // In UTF-16 the emoji starts with a surrogate (D83D), below FF61, although
  // its code point is above.
  EXPECT_EQ(CFStringCompare(emoji, halfwidth, 0), kCFCompareLessThan);
  EXPECT_EQ(CFStringCompare(halfwidth, emoji, 0), kCFCompareGreaterThan);
  EXPECT_EQ(CFStringCompare(CFSTR("ab"), CFSTR("abc"), 0), kCFCompareLessThan);
  EXPECT_EQ(CFStringCompare(CFSTR("b"), CFSTR("abc"), 0), kCFCompareGreaterThan);
  EXPECT_EQ(CFStringCompare(CFSTR("same"), CFSTR("same"), 0), kCFCompareEqualTo);
  CFRelease(halfwidth);
  CFRelease(emoji);
}

TEST_F(CFStringTest, MalformedConstantTextBecomesReplacementCharacters) {
  CFStringRef str = __CFStringMakeConstantString(
      "a\xFF"
      "b\xC3");
  EXPECT_EQ(Text(str),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
  EXPECT_EQ(CFStringGetLength(str), 4);
}

}  // namespace
