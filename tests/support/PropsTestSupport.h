// Helpers for the property-table and saved-state tests: a component with the
// effect's parameter layout, typed property access and small property-list
// builders that release what they make.
#pragma once

#include <bit>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "FrameTestSupport.h"

namespace propstest {

using frametest::TestAU;

using frametest::Thrown;

// The defaults of the effect's 22 parameters, ids 0..21.
inline const std::vector<Float32>& DefaultParameterValues() {
  static const std::vector<Float32> values = [] {
    std::vector<Float32> v{0.0f, 100.0f};
    for (int i = 0; i < 12; ++i) v.push_back(100.0f);
    for (Float32 f : {1.0f, 1.0f, 440.0f, 25.0f, 1.0f, 100.0f, 12.0f, 0.0f}) v.push_back(f);
    return v;
  }();
  return values;
}

// A component laid out as the effect is: 22 indexed parameters in global
// element 0, holding the effect's defaults.
class ParamAU : public TestAU {
 public:
  explicit ParamAU(AudioComponentInstance instance = nullptr) : TestAU(instance) {
    AUElement* global = Globals().GetElement(0);
    global->UseIndexedParameters(static_cast<SInt32>(DefaultParameterValues().size()));
    for (UInt32 id = 0; id < DefaultParameterValues().size(); ++id) {
      global->SetParameter(id, DefaultParameterValues()[id]);
    }
  }
  Float32 Param(UInt32 id) { return Globals().GetElement(0)->GetParameter(id); }
  void SetParam(UInt32 id, Float32 value) { Globals().GetElement(0)->SetParameter(id, value); }
};

// One owned value of any type, with the shorthand these tests read best.
struct CFRef : varsile::CFRef<CFTypeRef> {
  using varsile::CFRef<CFTypeRef>::CFRef;
  CFTypeRef get() const noexcept { return Get(); }
  template <class T>
  T as() const noexcept {
    return static_cast<T>(Get());
  }
};

inline CFRef Int32Number(SInt32 value) {
  return CFRef(CFNumberCreate(nullptr, kCFNumberSInt32Type, &value));
}
inline CFRef Int64Number(SInt64 value) {
  return CFRef(CFNumberCreate(nullptr, kCFNumberSInt64Type, &value));
}
inline CFRef FloatNumber(Float32 value) {
  return CFRef(CFNumberCreate(nullptr, kCFNumberFloatType, &value));
}
inline CFRef String(const char* text) {
  return CFRef(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
}
inline CFRef Data(const std::vector<UInt8>& bytes) {
  return CFRef(CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size())));
}
inline CFRef MutableDictionary() {
  return CFRef(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                         &kCFTypeDictionaryValueCallBacks));
}
inline CFMutableDictionaryRef Mutable(const CFRef& dictionary) {
  return static_cast<CFMutableDictionaryRef>(const_cast<void*>(dictionary.get()));
}
inline void Set(const CFRef& dictionary, const char* key, CFTypeRef value) {
  CFRef k = String(key);
  CFDictionarySetValue(Mutable(dictionary), k.get(), value);
}
inline void Remove(const CFRef& dictionary, const char* key) {
  CFRef k = String(key);
  CFDictionaryRemoveValue(Mutable(dictionary), k.get());
}
inline CFTypeRef Get(CFTypeRef dictionary, const char* key) {
  CFRef k = String(key);
  return CFDictionaryGetValue(static_cast<CFDictionaryRef>(dictionary), k.get());
}
// A mutable copy of every entry, to alter a saved state.
inline CFRef Copy(CFTypeRef dictionary) {
  CFRef copy = MutableDictionary();
  const auto source = static_cast<CFDictionaryRef>(dictionary);
  const CFIndex count = CFDictionaryGetCount(source);
  std::vector<const void*> keys(static_cast<std::size_t>(count)), values(static_cast<std::size_t>(count));
  CFDictionaryGetKeysAndValues(source, keys.data(), values.data());
  for (CFIndex i = 0; i < count; ++i) CFDictionarySetValue(Mutable(copy), keys[i], values[i]);
  return copy;
}

inline bool IsKind(CFTypeRef value, CFTypeID type) {
  return value != nullptr && CFGetTypeID(value) == type;
}

inline SInt32 Int32Of(CFTypeRef number) {
  SInt32 value = 0;
  CFNumberGetValue(static_cast<CFNumberRef>(number), kCFNumberSInt32Type, &value);
  return value;
}

inline std::string Text(CFTypeRef string) {
  char buffer[256] = {};
  if (!IsKind(string, CFStringGetTypeID())) return "<not a string>";
  CFStringGetCString(static_cast<CFStringRef>(string), buffer, sizeof buffer, kCFStringEncodingUTF8);
  return buffer;
}

inline std::vector<UInt8> Bytes(CFTypeRef data) {
  const auto d = static_cast<CFDataRef>(data);
  const UInt8* p = CFDataGetBytePtr(d);
  return std::vector<UInt8>(p, p + CFDataGetLength(d));
}

// Big-endian record builder for "data" blobs.
struct Blob {
  std::vector<UInt8> bytes;
  Blob& Word(UInt32 w) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<UInt8>(w >> shift));
    return *this;
  }
  Blob& Record(UInt32 scope, UInt32 element, std::initializer_list<std::pair<UInt32, Float32>> pairs) {
    Word(scope).Word(element).Word(static_cast<UInt32>(pairs.size()));
    for (const auto& [id, value] : pairs) Word(id).Word(std::bit_cast<UInt32>(value));
    return *this;
  }
};

// Typed property access through the dispatch operations.
template <class T>
OSStatus GetProp(AUBase& au, AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, T& out) {
  return au.DispatchGetProperty(id, scope, element, &out);
}
template <class T>
OSStatus SetProp(AUBase& au, AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                 const T& value) {
  return au.DispatchSetProperty(id, scope, element, &value, sizeof value);
}

struct Info {
  OSStatus status = noErr;
  UInt32 size = 0;
  Boolean writable = false;
};
inline Info GetInfo(AUBase& au, AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) {
  Info info;
  info.status = au.DispatchGetPropertyInfo(id, scope, element, info.size, info.writable);
  return info;
}

inline AudioStreamBasicDescription InterleavedStereo(Float64 rate) {
  AudioStreamBasicDescription f = varsile::CanonicalFormat(rate, 2);
  f.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
  f.mBytesPerPacket = 8;
  f.mBytesPerFrame = 8;
  return f;
}

}  // namespace propstest
