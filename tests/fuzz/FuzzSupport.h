// What the fuzz targets share: the gate linked in and registered as a host
// would find it, a check that every property-list value made during one input
// is gone at its end, host-owned memory blocks of exactly the size the host
// declares (so that the sanitizer sees any access past it), and property-list
// values built from the fuzzer's bytes.
#pragma once

#include <AudioToolbox/AudioComponentRegistry.h>
#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" OSStatus VarsileEntry(ComponentParameters* params, void* storage);

namespace fuzzing {

// The gate's registration data, as its manifest gives it.
inline constexpr AudioComponentDescription kGateDescription{0x61756678 /* aufx */, 0x76676174 /* vgat */,
                                                            0x5672736C /* Vrsl */, 0, 0};

[[noreturn]] inline void Stop(const char* what) {
  std::fprintf(stderr, "fuzz harness: %s\n", what);
  std::abort();
}

inline AudioComponent Gate() {
  static const AudioComponent component = [] {
    const AudioComponent registered =
        AudioComponentRegister(&kGateDescription, CFSTR("Varsile"), 0x00010000, VarsileEntry);
    if (registered == nullptr) Stop("cannot register the gate");
    return registered;
  }();
  return component;
}

// The interval names live in a process-wide cache that keeps one string per
// interval: fill it once so that the balance below sees only an input's own.
inline void WarmIntervalNames(AudioUnit unit) {
  for (AudioUnitParameterID id = 2; id < 14; ++id) {
    AudioUnitParameterInfo info{};
    UInt32 size = sizeof info;
    AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, id, &info, &size);
  }
}

// Stops the run when the property-list values alive at its end differ from
// those alive at its start: a leak, or a value released once too often.
class CFBalance {
 public:
  CFBalance() noexcept : mStart(CFLiveObjectCount()) {}
  ~CFBalance() {
    const CFIndex end = CFLiveObjectCount();
    if (end != mStart) {
      std::fprintf(stderr, "fuzz harness: %ld property-list values alive before the input, %ld after\n",
                   static_cast<long>(mStart), static_cast<long>(end));
      std::abort();
    }
  }
  CFBalance(const CFBalance&) = delete;
  CFBalance& operator=(const CFBalance&) = delete;

 private:
  CFIndex mStart;
};

// One opened gate, closed on every way out.
class OpenedGate {
 public:
  OpenedGate() {
    if (AudioComponentInstanceNew(Gate(), &mUnit) != noErr) Stop("cannot open the gate");
  }
  ~OpenedGate() { AudioComponentInstanceDispose(mUnit); }
  OpenedGate(const OpenedGate&) = delete;
  OpenedGate& operator=(const OpenedGate&) = delete;
  AudioUnit Unit() const noexcept { return mUnit; }

 private:
  AudioUnit mUnit = nullptr;
};

// Host memory: heap blocks of exactly the declared size, owned until the
// holder goes. Data a host passes sits at the start of its block and ends at
// its end, so a read or write past the declared size is seen.
class HostBlocks {
 public:
  Byte* Make(std::size_t size, std::size_t alignment = alignof(std::max_align_t)) {
    auto* block = static_cast<Byte*>(::operator new(size == 0 ? 1 : size, std::align_val_t(alignment)));
    std::memset(block, 0xA5, size == 0 ? 1 : size);
    mBlocks.push_back({block, alignment});
    return block;
  }
  template <class T>
  T* Make(const T& value) {
    Byte* block = Make(sizeof(T), alignof(T));
    std::memcpy(block, &value, sizeof(T));
    return reinterpret_cast<T*>(block);
  }
  ~HostBlocks() {
    for (const auto& [block, alignment] : mBlocks) ::operator delete(block, std::align_val_t(alignment));
  }
  HostBlocks() = default;
  HostBlocks(const HostBlocks&) = delete;
  HostBlocks& operator=(const HostBlocks&) = delete;

 private:
  std::vector<std::pair<Byte*, std::size_t>> mBlocks;
};

// A released-on-exit reference to a property-list value.
class CFHeld {
 public:
  CFHeld() noexcept = default;
  explicit CFHeld(CFTypeRef value) noexcept : mValue(value) {}
  ~CFHeld() {
    if (mValue != nullptr) CFRelease(mValue);
  }
  CFHeld(CFHeld&& other) noexcept : mValue(other.mValue) { other.mValue = nullptr; }
  CFHeld& operator=(CFHeld&& other) noexcept {
    std::swap(mValue, other.mValue);
    return *this;
  }
  CFTypeRef Get() const noexcept { return mValue; }

 private:
  CFTypeRef mValue = nullptr;
};

inline CFStringRef MakeString(const std::string& text) {
  return CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8);
}

// The keys a class-info dictionary uses, and a few it must not.
inline const char* const kStateKeys[] = {
    "version",        "type",     "subtype",      "manufacturer", "data", "name",
    "render-quality", "cpu-load", "element-name", "part",         "0",    "1",
    "Version",        ""};

// A key of a class-info dictionary, a near miss, or any text.
inline CFStringRef MakeKey(FuzzedDataProvider& in) {
  if (in.ConsumeBool()) return MakeString(in.ConsumeRandomLengthString(16));
  return MakeString(kStateKeys[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kStateKeys) - 1)]);
}

// Any property-list value, nested up to `depth` levels.
inline CFTypeRef MakeValue(FuzzedDataProvider& in, int depth) {
  const int kind = in.ConsumeIntegralInRange<int>(0, depth > 0 ? 10 : 8);
  switch (kind) {
    case 0:
      return MakeString(in.ConsumeRandomLengthString(64));
    case 1: {
      const SInt32 v = in.ConsumeIntegral<SInt32>();
      return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &v);
    }
    case 2: {
      const SInt64 v = in.ConsumeIntegral<SInt64>();
      return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &v);
    }
    case 3: {
      UInt32 bits = in.ConsumeIntegral<UInt32>();
      Float32 v;
      std::memcpy(&v, &bits, sizeof v);
      return CFNumberCreate(kCFAllocatorDefault, kCFNumberFloatType, &v);
    }
    case 4: {
      UInt64 bits = in.ConsumeIntegral<UInt64>();
      Float64 v;
      std::memcpy(&v, &bits, sizeof v);
      return CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &v);
    }
    case 5: {
      const std::vector<UInt8> bytes = in.ConsumeBytes<UInt8>(in.ConsumeIntegralInRange<std::size_t>(0, 400));
      return CFDataCreate(kCFAllocatorDefault, bytes.data(), static_cast<CFIndex>(bytes.size()));
    }
    case 6:
      return CFRetain(in.ConsumeBool() ? kCFBooleanTrue : kCFBooleanFalse);
    case 7: {
      const SInt32 v = in.ConsumeIntegralInRange<SInt32>(-2, 2);
      return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &v);
    }
    case 8:
      return MakeKey(in);
    case 9: {
      CFMutableArrayRef array = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
      for (int n = in.ConsumeIntegralInRange<int>(0, 4); n > 0; --n) {
        const CFHeld value(MakeValue(in, depth - 1));
        if (value.Get() != nullptr) CFArrayAppendValue(array, value.Get());
      }
      return array;
    }
    default: {
      CFMutableDictionaryRef dictionary = CFDictionaryCreateMutable(
          kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
      for (int n = in.ConsumeIntegralInRange<int>(0, 5); n > 0; --n) {
        // Mostly string keys, as property lists have; now and then another kind.
        const CFHeld key(in.ConsumeIntegralInRange<int>(0, 15) == 0 ? MakeValue(in, 0) : MakeKey(in));
        const CFHeld value(MakeValue(in, depth - 1));
        const CFTypeRef k = key.Get();
        if (k != nullptr && value.Get() != nullptr) CFDictionarySetValue(dictionary, k, value.Get());
      }
      return dictionary;
    }
  }
}

}  // namespace fuzzing
