// File URLs, kept as the path they were made from. Only POSIX paths exist.
#include <new>
#include <string>

#include "CFObject.h"

struct __CFURL final : __CFObject {
  static constexpr CFTypeID kTypeID = varsile::cf::kURLTypeID;

  __CFURL(std::string path, bool isDirectory)
      : __CFObject(kTypeID), mPath(std::move(path)), mIsDirectory(isDirectory) {}

  bool Equal(const __CFObject& other) const noexcept override {
    const auto& that = static_cast<const __CFURL&>(other);
    return mPath == that.mPath && mIsDirectory == that.mIsDirectory;
  }
  CFHashCode Hash() const noexcept override { return varsile::cf::HashBytes(mPath.data(), mPath.size()); }

  const std::string mPath;  // without trailing slashes, except for the root "/"
  const bool mIsDirectory;
};

extern "C" {

CFTypeID CFURLGetTypeID(void) {
  return varsile::cf::kURLTypeID;
}

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef path, CFIndex style, Boolean isDirectory) {
  if (style != kCFURLPOSIXPathStyle) return nullptr;
  const char* text = CFStringGetCStringPtr(path, kCFStringEncodingUTF8);
  if (text == nullptr || *text == '\0') return nullptr;
  try {
    std::string trimmed = text;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    return new __CFURL(std::move(trimmed), isDirectory != 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFIndex style) {
  const __CFURL* location = varsile::cf::As<__CFURL>(url, "CFURLCopyFileSystemPath");
  if (location == nullptr || style != kCFURLPOSIXPathStyle) return nullptr;
  return CFStringCreateWithCString(kCFAllocatorDefault, location->mPath.c_str(), kCFStringEncodingUTF8);
}

}  // extern "C"
