// Reference-counted property-list values: strings, arrays, dictionaries,
// numbers, booleans and byte data. Counts are atomic; constant strings made by
// CFSTR live for the whole process and ignore retain and release.
#pragma once

#include <MacTypes.h>

#include <cstddef>

using CFIndex = long;
using CFTypeID = unsigned long;
using CFOptionFlags = unsigned long;
using CFHashCode = unsigned long;
using CFStringEncoding = UInt32;

using CFTypeRef = const void*;
using CFPropertyListRef = CFTypeRef;

struct __CFObject;
using CFAllocatorRef = const struct __CFAllocator*;
using CFStringRef = const struct __CFString*;
using CFMutableStringRef = struct __CFString*;
using CFArrayRef = const struct __CFArray*;
using CFMutableArrayRef = struct __CFArray*;
using CFDictionaryRef = const struct __CFDictionary*;
using CFMutableDictionaryRef = struct __CFDictionary*;
using CFNumberRef = const struct __CFNumber*;
using CFBooleanRef = const struct __CFBoolean*;
using CFDataRef = const struct __CFData*;
using CFMutableDataRef = struct __CFData*;
using CFURLRef = const struct __CFURL*;

struct CFRange {
  CFIndex location;
  CFIndex length;
};
inline CFRange CFRangeMake(CFIndex location, CFIndex length) { return CFRange{location, length}; }

// Allocators are accepted for signature compatibility; all memory comes from
// the process heap.
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

enum : CFStringEncoding {
  kCFStringEncodingASCII = 0x0600,
  kCFStringEncodingUTF8 = 0x08000100,
};

enum CFNumberType : CFIndex {
  kCFNumberSInt32Type = 3,
  kCFNumberSInt64Type = 4,
  kCFNumberFloat32Type = 5,
  kCFNumberFloat64Type = 6,
  kCFNumberIntType = 9,
  kCFNumberFloatType = 12,
  kCFNumberDoubleType = 13,
};

enum CFURLPathStyle : CFIndex {
  kCFURLPOSIXPathStyle = 0,
};

enum CFComparisonResult : CFIndex {
  kCFCompareLessThan = -1,
  kCFCompareEqualTo = 0,
  kCFCompareGreaterThan = 1,
};

// Collection callbacks. Only two behaviours exist: retain/release the values
// (the kCFType... callbacks) or leave them alone (a null callbacks pointer).
struct CFArrayCallBacks {
  CFIndex version;
  const void* retain;
  const void* release;
  const void* copyDescription;
  const void* equal;
};
struct CFDictionaryKeyCallBacks {
  CFIndex version;
  const void* retain;
  const void* release;
  const void* copyDescription;
  const void* equal;
  const void* hash;
};
struct CFDictionaryValueCallBacks {
  CFIndex version;
  const void* retain;
  const void* release;
  const void* copyDescription;
  const void* equal;
};

extern "C" {

extern const CFArrayCallBacks kCFTypeArrayCallBacks;
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

// Any value
CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CFIndex CFGetRetainCount(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);
Boolean CFEqual(CFTypeRef a, CFTypeRef b);
CFHashCode CFHash(CFTypeRef cf);

CFTypeID CFStringGetTypeID(void);
CFTypeID CFArrayGetTypeID(void);
CFTypeID CFDictionaryGetTypeID(void);
CFTypeID CFNumberGetTypeID(void);
CFTypeID CFBooleanGetTypeID(void);
CFTypeID CFDataGetTypeID(void);
CFTypeID CFURLGetTypeID(void);

// Strings (UTF-8 content)
CFStringRef __CFStringMakeConstantString(const char* cStr);
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr, CFStringEncoding encoding);
CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef str);
CFMutableStringRef CFStringCreateMutable(CFAllocatorRef alloc, CFIndex maxLength);
void CFStringAppend(CFMutableStringRef str, CFStringRef appended);
void CFStringAppendCString(CFMutableStringRef str, const char* cStr, CFStringEncoding encoding);
CFIndex CFStringGetLength(CFStringRef str);
Boolean CFStringGetCString(CFStringRef str, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);
const char* CFStringGetCStringPtr(CFStringRef str, CFStringEncoding encoding);
CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, CFOptionFlags options);

// Arrays
CFArrayRef CFArrayCreate(CFAllocatorRef alloc, const void** values, CFIndex count, const CFArrayCallBacks* callBacks);
CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef alloc, CFIndex capacity, const CFArrayCallBacks* callBacks);
void CFArrayAppendValue(CFMutableArrayRef array, const void* value);
CFIndex CFArrayGetCount(CFArrayRef array);
const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index);

// Dictionaries
CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef alloc, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value);
void CFDictionaryRemoveValue(CFMutableDictionaryRef dict, const void* key);
const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key);
Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef dict, const void* key, const void** value);
Boolean CFDictionaryContainsKey(CFDictionaryRef dict, const void* key);
CFIndex CFDictionaryGetCount(CFDictionaryRef dict);
void CFDictionaryGetKeysAndValues(CFDictionaryRef dict, const void** keys, const void** values);

// Numbers
CFNumberRef CFNumberCreate(CFAllocatorRef alloc, CFNumberType type, const void* valuePtr);
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* valuePtr);
CFNumberType CFNumberGetType(CFNumberRef number);
Boolean CFNumberIsFloatType(CFNumberRef number);

// Booleans
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
Boolean CFBooleanGetValue(CFBooleanRef boolean);

// Byte data
CFDataRef CFDataCreate(CFAllocatorRef alloc, const UInt8* bytes, CFIndex length);
CFMutableDataRef CFDataCreateMutable(CFAllocatorRef alloc, CFIndex capacity);
void CFDataAppendBytes(CFMutableDataRef data, const UInt8* bytes, CFIndex length);
const UInt8* CFDataGetBytePtr(CFDataRef data);
UInt8* CFDataGetMutableBytePtr(CFMutableDataRef data);
CFIndex CFDataGetLength(CFDataRef data);

// URLs (file paths only)
CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef alloc, CFStringRef path, CFIndex style, Boolean isDirectory);
CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFIndex style);

// Not part of the platform: the number of values alive now, constant strings
// and the two booleans excluded. Tests compare it before and after to prove
// that nothing leaked.
CFIndex CFLiveObjectCount(void);

}  // extern "C"

// A constant string: made once per call site, never freed.
#define CFSTR(cStr) ([]() noexcept -> CFStringRef { \
  static const CFStringRef constant = __CFStringMakeConstantString("" cStr ""); \
  return constant; \
}())
