// Fuzzes state restore: class-info dictionaries built by editing the gate's
// own saved state as the fuzzer's bytes direct (keys set to values of any
// kind, removed, "data" replaced by forged parameter records, by raw bytes
// or by a mutated copy of the saved blob, "element-name" dictionaries with
// any indices), written through kAudioUnitProperty_ClassInfo into a gate
// that is initialized or not. Whatever the dictionary, the restore returns a
// status, nothing leaks, the state saves again, and an initialized gate still
// renders finite audio with its meters in range.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "FuzzSupport.h"

namespace {

using namespace fuzzing;

OSStatus Tone(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp* time, UInt32, UInt32 frames,
              AudioBufferList* io) {
  for (UInt32 b = 0; b < io->mNumberBuffers; ++b) {
    auto* out = static_cast<Float32*>(io->mBuffers[b].mData);
    for (UInt32 i = 0; i < frames; ++i) {
      out[i] =
          0.5f * std::sin(0.0577f * static_cast<Float32>(time->mSampleTime + i));  // about 440 Hz at 48 kHz
    }
  }
  return noErr;
}

void Set(CFMutableDictionaryRef dictionary, const char* key, CFTypeRef value) {
  const CFHeld k(MakeString(key));
  const CFHeld v(value);
  // Text that is not UTF-8 makes no key.
  if (k.Get() != nullptr && v.Get() != nullptr) CFDictionarySetValue(dictionary, k.Get(), v.Get());
}

void PutBigEndian(std::vector<UInt8>& out, UInt32 word) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<UInt8>(word >> shift));
}

CFDataRef MakeData(const std::vector<UInt8>& bytes) {
  return CFDataCreate(kCFAllocatorDefault, bytes.data(), static_cast<CFIndex>(bytes.size()));
}

// Element records as the saver writes them, with any scope, element, count,
// ids and value bits, cut short now and then.
CFDataRef ForgedRecords(FuzzedDataProvider& in) {
  std::vector<UInt8> blob;
  for (int records = in.ConsumeIntegralInRange<int>(1, 4); records > 0; --records) {
    PutBigEndian(blob, in.ConsumeIntegralInRange<int>(0, 7) == 0 ? in.ConsumeIntegral<UInt32>()
                                                                 : in.ConsumeIntegralInRange<UInt32>(0, 5));
    PutBigEndian(blob, in.ConsumeIntegralInRange<int>(0, 7) == 0 ? in.ConsumeIntegral<UInt32>()
                                                                 : in.ConsumeIntegralInRange<UInt32>(0, 2));
    const UInt32 pairs = in.ConsumeIntegralInRange<UInt32>(0, 30);
    PutBigEndian(blob, in.ConsumeIntegralInRange<int>(0, 9) == 0 ? in.ConsumeIntegral<UInt32>() : pairs);
    for (UInt32 i = 0; i < pairs; ++i) {
      PutBigEndian(blob, in.ConsumeBool() ? i : in.ConsumeIntegralInRange<UInt32>(0, 40));
      PutBigEndian(blob, in.ConsumeIntegral<UInt32>());
    }
  }
  if (in.ConsumeIntegralInRange<int>(0, 5) == 0)
    blob.resize(in.ConsumeIntegralInRange<std::size_t>(0, blob.size()));
  return MakeData(blob);
}

CFDataRef MutatedCopy(FuzzedDataProvider& in, CFDataRef saved) {
  std::vector<UInt8> blob;
  if (saved != nullptr && CFGetTypeID(saved) == CFDataGetTypeID()) {
    const UInt8* p = CFDataGetBytePtr(saved);
    blob.assign(p, p + CFDataGetLength(saved));
  }
  for (int edits = in.ConsumeIntegralInRange<int>(1, 8); edits > 0 && !blob.empty(); --edits) {
    const std::size_t at = in.ConsumeIntegralInRange<std::size_t>(0, blob.size() - 1);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:
        blob[at] = in.ConsumeIntegral<UInt8>();
        break;
      case 1:
        blob[at] ^= static_cast<UInt8>(1u << in.ConsumeIntegralInRange<int>(0, 7));
        break;
      case 2:
        blob.resize(at);
        break;
      default:
        blob.insert(blob.begin() + static_cast<std::ptrdiff_t>(at), in.ConsumeIntegral<UInt8>());
        break;
    }
  }
  return MakeData(blob);
}

// {"<scope>": {"<index>": name, ...}, ...} with any indices and values.
CFDictionaryRef ElementNames(FuzzedDataProvider& in) {
  CFMutableDictionaryRef names = CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  for (int scopes = in.ConsumeIntegralInRange<int>(1, 3); scopes > 0; --scopes) {
    const std::string scope = in.ConsumeBool() ? std::to_string(in.ConsumeIntegralInRange<int>(0, 6))
                                               : in.ConsumeRandomLengthString(8);
    CFMutableDictionaryRef entries = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    for (int n = in.ConsumeIntegralInRange<int>(0, 4); n > 0; --n) {
      std::string index;
      switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
          index = std::to_string(in.ConsumeIntegralInRange<UInt32>(0, 8));
          break;
        case 1:
          index = std::to_string(in.ConsumeIntegral<UInt32>());
          break;
        case 2:
          index = std::to_string(in.ConsumeIntegralInRange<UInt32>(1000, 1100));
          break;
        default:
          index = in.ConsumeRandomLengthString(12);
          break;
      }
      Set(entries, index.c_str(),
          in.ConsumeBool() ? MakeString(in.ConsumeRandomLengthString(20)) : MakeValue(in, 1));
    }
    Set(names, scope.c_str(), entries);
  }
  return names;
}

CFNumberRef Int(SInt32 v) {
  return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool warmed = [] {
    const OpenedGate gate;
    WarmIntervalNames(gate.Unit());
    return true;
  }();
  (void)warmed;

  FuzzedDataProvider in(data, size);
  const CFBalance balance;
  const OpenedGate gate;
  const AudioUnit unit = gate.Unit();
  const bool initialized = in.ConsumeBool();
  if (initialized) {
    const AURenderCallbackStruct input{Tone, nullptr};
    AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &input,
                         sizeof input);
    if (AudioUnitInitialize(unit) != noErr) Stop("cannot initialize");
  }

  // The gate's own state, then the fuzzer's edits of a copy of it.
  CFTypeRef savedState = nullptr;
  UInt32 stateSize = sizeof savedState;
  if (AudioUnitGetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &savedState,
                           &stateSize) != noErr) {
    Stop("cannot save the state");
  }
  const CFHeld saved(savedState);
  const auto savedDictionary = static_cast<CFDictionaryRef>(saved.Get());
  const CFIndex count = CFDictionaryGetCount(savedDictionary);
  std::vector<const void*> keys(static_cast<std::size_t>(count)), values(static_cast<std::size_t>(count));
  CFDictionaryGetKeysAndValues(savedDictionary, keys.data(), values.data());
  const CFHeld edited(CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                &kCFTypeDictionaryValueCallBacks));
  auto* state = static_cast<CFMutableDictionaryRef>(const_cast<void*>(edited.Get()));
  for (CFIndex i = 0; i < count; ++i) CFDictionarySetValue(state, keys[i], values[i]);
  const CFHeld dataKey(MakeString("data"));
  const auto savedData = static_cast<CFDataRef>(CFDictionaryGetValue(savedDictionary, dataKey.Get()));

  for (int edit = 0; edit < 12 && in.remaining_bytes() > 0; ++edit) {
    switch (in.ConsumeIntegralInRange<int>(0, 8)) {
      case 0: {
        const CFHeld key(MakeKey(in));
        const CFHeld value(MakeValue(in, 3));
        if (key.Get() != nullptr && value.Get() != nullptr)
          CFDictionarySetValue(state, key.Get(), value.Get());
        break;
      }
      case 1: {
        const CFHeld key(MakeKey(in));
        if (key.Get() != nullptr) CFDictionaryRemoveValue(state, key.Get());
        break;
      }
      case 2:
      case 3:
        Set(state, "data", ForgedRecords(in));
        break;
      case 4: {
        const std::vector<UInt8> raw = in.ConsumeBytes<UInt8>(in.ConsumeIntegralInRange<std::size_t>(0, 600));
        Set(state, "data", MakeData(raw));
        break;
      }
      case 5:
        Set(state, "data", MutatedCopy(in, savedData));
        break;
      case 6:
        Set(state, "element-name", ElementNames(in));
        break;
      case 7: {
        static const char* const kNumbers[] = {"version", "subtype", "manufacturer", "type"};
        const char* key = kNumbers[in.ConsumeIntegralInRange<int>(0, 3)];
        Set(state, key, in.ConsumeBool() ? Int(in.ConsumeIntegral<SInt32>()) : MakeValue(in, 0));
        break;
      }
      default:
        Set(state, "name",
            in.ConsumeBool() ? MakeString(in.ConsumeRandomLengthString(40)) : MakeValue(in, 1));
        break;
    }
  }

  // Now and then not even a dictionary.
  CFTypeRef written = state;
  CFHeld other;
  if (in.ConsumeIntegralInRange<int>(0, 15) == 0) {
    other = CFHeld(MakeValue(in, 2));
    written = other.Get();
  }
  AudioUnitSetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &written,
                       sizeof written);

  // Still whole: it saves again, reads every parameter, and renders.
  CFTypeRef again = nullptr;
  stateSize = sizeof again;
  if (AudioUnitGetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &again,
                           &stateSize) != noErr ||
      again == nullptr) {
    Stop("the state no longer saves");
  }
  CFRelease(again);
  for (AudioUnitParameterID id = 0; id < 22; ++id) {
    Float32 value = 0.0f;
    AudioUnitGetParameter(unit, id, kAudioUnitScope_Global, 0, &value);
  }
  if (initialized) {
    Float32 left[512], right[512];
    struct {
      UInt32 count;
      AudioBuffer buffers[2];
    } list{2, {{1, sizeof left, left}, {1, sizeof right, right}}};
    AudioTimeStamp time{};
    time.mFlags = kAudioTimeStampSampleTimeValid;
    for (int block = 0; block < 5; ++block, time.mSampleTime += 512) {
      AudioUnitRenderActionFlags flags = 0;
      const OSStatus status =
          AudioUnitRender(unit, &flags, &time, 0, 512, reinterpret_cast<AudioBufferList*>(&list));
      if (status != noErr) Stop("a restored gate no longer renders");
      for (int i = 0; i < 512; ++i) {
        if (!std::isfinite(left[i]) || !std::isfinite(right[i]))
          Stop("a restored state made the output non-finite");
      }
      Float32 volume = -1.0f, accuracy = -1.0f;
      AudioUnitGetParameter(unit, 19, kAudioUnitScope_Global, 0, &volume);
      AudioUnitGetParameter(unit, 21, kAudioUnitScope_Global, 0, &accuracy);
      if (!(volume >= 0.0f && volume <= 100.0f)) Stop("a restored state put the current volume out of range");
      if (!(accuracy >= 0.0f && accuracy <= 100.0f)) Stop("a restored state put the accuracy out of range");
    }
  }
  return 0;
}
