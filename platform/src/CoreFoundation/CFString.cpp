// Strings hold valid UTF-8; every way in checks it, so the content can be
// handed out as a C string and measured in UTF-16 units without surprises.
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "CFObject.h"

struct __CFString final : __CFObject {
  static constexpr CFTypeID kTypeID = varsile::cf::kStringTypeID;

  __CFString(std::string text, bool isMutable)
      : __CFObject(kTypeID), mText(std::move(text)), mMutable(isMutable) {}
  __CFString(std::string text, varsile::cf::Immortal)
      : __CFObject(kTypeID, varsile::cf::Immortal{}), mText(std::move(text)) {}

  bool Equal(const __CFObject& other) const noexcept override {
    return mText == static_cast<const __CFString&>(other).mText;
  }
  CFHashCode Hash() const noexcept override { return varsile::cf::HashBytes(mText.data(), mText.size()); }

  std::string mText;
  bool mMutable = false;
  __CFString* mNextConstant = nullptr;
};

namespace {

bool IsAscii(std::string_view text) noexcept {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

// Length of the well-formed UTF-8 sequence at text[pos], or 0 if there is
// none: overlong forms, surrogates and code points above U+10FFFF are refused.
std::size_t SequenceLength(std::string_view text, std::size_t pos) noexcept {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  const std::size_t left = text.size() - pos;
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length) return 0;
  if (byte(pos + 1) < low || byte(pos + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(pos + i) < 0x80 || byte(pos + i) > 0xBF) return 0;
  }
  return length;
}

bool IsValidUtf8(std::string_view text) noexcept {
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = SequenceLength(text, pos);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

// Whether a C string can be taken in the given encoding.
bool Accepts(std::string_view text, CFStringEncoding encoding) noexcept {
  switch (encoding) {
    case kCFStringEncodingASCII:
      return IsAscii(text);
    case kCFStringEncodingUTF8:
      return IsValidUtf8(text);
    default:
      return false;
  }
}

// Walks valid UTF-8 as UTF-16 code units, so that comparisons order strings
// the way the platform does.
class Utf16Units {
 public:
  explicit Utf16Units(std::string_view text) noexcept : mText(text) {}

  bool Next(char16_t& unit) noexcept {
    if (mPendingLow != 0) {
      unit = mPendingLow;
      mPendingLow = 0;
      return true;
    }
    if (mPos >= mText.size()) return false;
    const auto lead = static_cast<unsigned char>(mText[mPos]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    for (std::size_t i = 1; i < length; ++i)
      code = (code << 6) | (static_cast<unsigned char>(mText[mPos + i]) & 0x3F);
    mPos += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      unit = static_cast<char16_t>(0xD800 + (code >> 10));
      mPendingLow = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      unit = static_cast<char16_t>(code);
    }
    return true;
  }

 private:
  std::string_view mText;
  std::size_t mPos = 0;
  char16_t mPendingLow = 0;
};

// Every constant string, linked from here, so that they stay reachable (and
// leak checkers stay quiet) however the caller keeps them.
std::atomic<__CFString*> gConstants{nullptr};

__CFString* NewString(std::string_view text, bool isMutable) noexcept {
  try {
    return new __CFString(std::string(text), isMutable);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

extern "C" {

CFTypeID CFStringGetTypeID(void) {
  return varsile::cf::kStringTypeID;
}

CFStringRef __CFStringMakeConstantString(const char* cStr) {
  // Constants come from source text; a malformed byte becomes U+FFFD rather
  // than a missing string, since every call site expects a value.
  const std::string_view text = cStr != nullptr ? cStr : "";
  std::string content;
  content.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = SequenceLength(text, pos);
    if (length == 0) {
      content += "\xEF\xBF\xBD";
      ++pos;
    } else {
      content.append(text, pos, length);
      pos += length;
    }
  }
  auto* constant = new __CFString(std::move(content), varsile::cf::Immortal{});
  constant->mNextConstant = gConstants.load(std::memory_order_relaxed);
  while (!gConstants.compare_exchange_weak(constant->mNextConstant, constant, std::memory_order_release,
                                           std::memory_order_relaxed)) {
  }
  return constant;
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding) {
  if (cStr == nullptr) return nullptr;
  const std::string_view text = cStr;
  if (!Accepts(text, encoding)) return nullptr;
  return NewString(text, false);
}

CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef str) {
  const __CFString* source = varsile::cf::As<__CFString>(str, "CFStringCreateCopy");
  if (source == nullptr) return nullptr;
  // An immutable string can be shared: nobody can change it under the copy.
  if (!source->mMutable) return static_cast<CFStringRef>(CFRetain(str));
  return NewString(source->mText, false);
}

CFMutableStringRef CFStringCreateMutable(CFAllocatorRef, CFIndex) {
  // The maximum length is a hint only; the string grows as needed.
  return NewString({}, true);
}

void CFStringAppend(CFMutableStringRef str, CFStringRef appended) {
  __CFString* target = varsile::cf::AsMutable<__CFString>(str, "CFStringAppend");
  const __CFString* source = varsile::cf::As<__CFString>(appended, "CFStringAppend");
  if (source == nullptr) varsile::cf::Fatal("CFStringAppend", "the appended value is not a string");
  if (source == target) {
    const std::string copy = source->mText;
    target->mText += copy;
  } else {
    target->mText += source->mText;
  }
}

void CFStringAppendCString(CFMutableStringRef str, const char* cStr, CFStringEncoding encoding) {
  __CFString* target = varsile::cf::AsMutable<__CFString>(str, "CFStringAppendCString");
  if (cStr == nullptr) varsile::cf::Fatal("CFStringAppendCString", "called with a NULL C string");
  // Text the encoding cannot describe is dropped whole, never half-appended.
  const std::string_view text = cStr;
  if (Accepts(text, encoding)) target->mText += text;
}

CFIndex CFStringGetLength(CFStringRef str) {
  const __CFString* string = varsile::cf::As<__CFString>(str, "CFStringGetLength");
  if (string == nullptr) return 0;
  CFIndex units = 0;
  for (unsigned char c : string->mText) {
    if ((c & 0xC0) != 0x80) ++units;  // one per code point...
    if (c >= 0xF0) ++units;           // ...and a second for a surrogate pair
  }
  return units;
}

Boolean CFStringGetCString(CFStringRef str, char* buffer, CFIndex bufferSize, CFStringEncoding encoding) {
  if (buffer == nullptr || bufferSize <= 0) return false;
  buffer[0] = '\0';
  const __CFString* string = varsile::cf::As<__CFString>(str, "CFStringGetCString");
  if (string == nullptr) return false;
  const std::string& text = string->mText;
  if (encoding != kCFStringEncodingUTF8 && !(encoding == kCFStringEncodingASCII && IsAscii(text)))
    return false;
  if (text.size() >= static_cast<std::size_t>(bufferSize)) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

const char* CFStringGetCStringPtr(CFStringRef str, CFStringEncoding encoding) {
  const __CFString* string = varsile::cf::As<__CFString>(str, "CFStringGetCStringPtr");
  if (string == nullptr) return nullptr;
  if (encoding == kCFStringEncodingUTF8 || (encoding == kCFStringEncodingASCII && IsAscii(string->mText))) {
    return string->mText.c_str();
  }
  return nullptr;
}

CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, CFOptionFlags) {
  const __CFString* first = varsile::cf::As<__CFString>(a, "CFStringCompare");
  const __CFString* second = varsile::cf::As<__CFString>(b, "CFStringCompare");
  // Anything that is not a string sorts before every string.
  if (first == nullptr || second == nullptr) {
    if (first == second) return kCFCompareEqualTo;
    return first == nullptr ? kCFCompareLessThan : kCFCompareGreaterThan;
  }
  Utf16Units left(first->mText), right(second->mText);
  for (;;) {
    char16_t l = 0, r = 0;
    const bool hasLeft = left.Next(l);
    const bool hasRight = right.Next(r);
    if (!hasLeft || !hasRight) {
      if (hasLeft == hasRight) return kCFCompareEqualTo;
      return hasLeft ? kCFCompareGreaterThan : kCFCompareLessThan;
    }
    if (l != r) return l < r ? kCFCompareLessThan : kCFCompareGreaterThan;
  }
}

}  // extern "C"
