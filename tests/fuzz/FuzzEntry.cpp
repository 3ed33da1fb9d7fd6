// Fuzzes the component's entry: sequences of selectors with argument words
// drawn from the fuzzer's bytes, against a freshly opened gate that starts
// uninitialized, configured, initialized or connected. The harness behaves
// like a host that may be careless but is never wild: every pointer it passes
// is null or points at memory it owns, of exactly the size it declares;
// procedures are its own; property-list values are alive. What a real host
// must not do is left out: closing or re-opening the instance through the
// entry, connecting the gate to itself, and formats of more than 16 channels
// or slices of more than 65536 frames (their cost is memory, not a fault).
//
// No input may crash, trip a sanitizer, leak memory or a property-list
// value, or write past what the host declared.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "FuzzSupport.h"

namespace {

using namespace fuzzing;

constexpr UInt32 kMaxChannels = 16;
constexpr UInt32 kMaxSliceFrames = 65536;
constexpr UInt32 kMaxListBuffers = 8;
constexpr std::size_t kMaxDataBytes = 4096;

// The unit under test, for the host procedures that call back into it.
AudioUnit gUnit = nullptr;
int gCallbackDepth = 0;

// What the host's input callback and the upstream unit deliver.
struct SourceState {
  OSStatus status = noErr;
  Float32 sample = 0.25f;
  Float32 step = 0.01f;
};
SourceState gSource;

// Storage for pulls that hand back their own pointers.
Float32 gPullMemory[kMaxListBuffers][kMaxSliceFrames];

OSStatus FillPulledList(UInt32 frames, AudioBufferList* io) {
  if (gSource.status != noErr) return gSource.status;
  if (io == nullptr) return kAudio_ParamError;
  if (frames > kMaxSliceFrames) return kAudio_ParamError;
  for (UInt32 b = 0; b < io->mNumberBuffers; ++b) {
    AudioBuffer& buffer = io->mBuffers[b];
    if (buffer.mData == nullptr) {
      if (b >= kMaxListBuffers) return kAudio_ParamError;
      buffer.mData = gPullMemory[b];
      buffer.mDataByteSize = frames * sizeof(Float32);
    }
    // A host writes the frames it was asked for: a unit that handed it less
    // memory than that is at fault, and the sanitizer says so.
    auto* out = static_cast<Float32*>(buffer.mData);
    Float32 v = gSource.sample;
    for (UInt32 i = 0; i < frames; ++i, v += gSource.step) out[i] = v;
  }
  return noErr;
}

OSStatus InputCallback(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp* time, UInt32, UInt32 frames,
                       AudioBufferList* io) {
  if (time == nullptr) return kAudio_ParamError;
  return FillPulledList(frames, io);
}

// An upstream unit: answers render and nothing else (so the gate pulls it
// through the dispatcher), or, when asked, also hands out a fast render entry.
OSStatus SourceRender(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32 frames,
                      AudioBufferList* io) {
  return FillPulledList(frames, io);
}

bool gSourceOffersFastRender = false;

OSStatus SourceEntry(ComponentParameters* params, void* storage) {
  static int instanceStorage = 0;
  switch (params->what) {
    case kComponentOpenSelect:
      SetComponentInstanceStorage(reinterpret_cast<AudioComponentInstance>(params->params[0]),
                                  &instanceStorage);
      return noErr;
    case kComponentCloseSelect:
      return noErr;
    case kAudioUnitGetPropertySelect: {
      const auto id = static_cast<AudioUnitPropertyID>(params->params[1]);
      const auto element = static_cast<AudioUnitElement>(params->params[3]);
      auto* out = reinterpret_cast<void*>(params->params[4]);
      auto* size = reinterpret_cast<UInt32*>(params->params[5]);
      if (id == kAudioUnitProperty_FastDispatch && element == kAudioUnitRenderSelect &&
          gSourceOffersFastRender && out != nullptr && size != nullptr &&
          *size >= sizeof(AudioUnitRenderProc)) {
        const AudioUnitRenderProc render = SourceRender;
        std::memcpy(out, &render, sizeof render);
        *size = sizeof render;
        return noErr;
      }
      return kAudioUnitErr_InvalidProperty;
    }
    case kAudioUnitRenderSelect:
      return SourceRender(storage, reinterpret_cast<AudioUnitRenderActionFlags*>(params->params[1]),
                          reinterpret_cast<const AudioTimeStamp*>(params->params[2]),
                          static_cast<UInt32>(params->params[3]), static_cast<UInt32>(params->params[4]),
                          reinterpret_cast<AudioBufferList*>(params->params[5]));
    default:
      return badComponentSelector;
  }
}

AudioUnit SourceUnit() {
  static const AudioUnit unit = [] {
    const AudioComponentDescription d{0x61756678, 0x73726365 /* srce */, 0x54657374 /* Test */, 0, 0};
    AudioComponent c = AudioComponentRegister(&d, CFSTR("Source"), 1, SourceEntry);
    AudioUnit u = nullptr;
    if (c == nullptr || AudioComponentInstanceNew(c, &u) != noErr) Stop("cannot open the source");
    return u;
  }();
  return unit;
}

// Property listeners: what they do is coded in their reference value, a
// small integer the harness never dereferences.
void Listener(void* refCon, AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement) {
  if (gCallbackDepth > 2) return;
  ++gCallbackDepth;
  switch (reinterpret_cast<std::uintptr_t>(refCon) % 4) {
    case 1: {  // reads something back, as hosts do
      UInt32 count = 0;
      UInt32 size = sizeof count;
      AudioUnitGetProperty(unit, kAudioUnitProperty_ElementCount, kAudioUnitScope_Input, 0, &count, &size);
      OSStatus error = 0;
      size = sizeof error;
      AudioUnitGetProperty(unit, kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0, &error,
                           &size);
      break;
    }
    case 2:  // removes itself while being called
      AudioUnitRemovePropertyListenerWithUserData(unit, id, Listener, refCon);
      break;
    case 3:  // registers a quiet one while being called
      AudioUnitAddPropertyListener(unit, id, Listener, reinterpret_cast<void*>(std::uintptr_t{4}));
      break;
    default:
      break;
  }
  --gCallbackDepth;
}

// Render notifications, likewise.
OSStatus Notification(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp*, UInt32,
                      UInt32 frames, AudioBufferList* io) {
  if (flags == nullptr) Stop("a notification without flags");
  switch (reinterpret_cast<std::uintptr_t>(refCon) % 4) {
    case 1:  // schedules events for the render in progress
      if (*flags & kAudioUnitRenderAction_PreRender) {
        AudioUnitParameterEvent e{};
        e.parameter = 1 + frames % 20;
        e.eventType = frames % 2 ? kParameterEvent_Ramped : kParameterEvent_Immediate;
        e.eventValues.ramp.startBufferOffset = static_cast<SInt32>(frames / 2);
        e.eventValues.ramp.durationInFrames = frames;
        e.eventValues.ramp.startValue = 50.0f;
        AudioUnitScheduleParameters(gUnit, &e, 1);
      }
      break;
    case 2:  // removes itself
      AudioUnitRemoveRenderNotify(gUnit, Notification, refCon);
      break;
    case 3:  // looks at the buffers it is shown, within their declared sizes
      if (io != nullptr && (*flags & kAudioUnitRenderAction_PostRender) &&
          !(*flags & kAudioUnitRenderAction_PostRenderError)) {
        volatile Float32 sum = 0.0f;
        for (UInt32 b = 0; b < io->mNumberBuffers; ++b) {
          const auto* p = static_cast<const Float32*>(io->mBuffers[b].mData);
          if (p == nullptr) continue;
          for (UInt32 i = 0; i < io->mBuffers[b].mDataByteSize / sizeof(Float32); ++i) sum = sum + p[i];
        }
      }
      break;
    default:
      break;
  }
  return noErr;
}

OSStatus HostBeatAndTempo(void*, Float64* beat, Float64* tempo) {
  if (beat != nullptr) *beat = 0.0;
  if (tempo != nullptr) *tempo = 120.0;
  return noErr;
}

// The property ids worth trying, and anything else.
constexpr AudioUnitPropertyID kProperties[] = {
    0,  1,  2,  3,  4,  5,  6,  8,  11, 12, 13, 14, 15, 16, 18, 19,
    20, 21, 22, 23, 24, 25, 26, 27, 29, 30, 32, 35, 36, 39, 51, kAudioUnitProperty_LastRenderedSampleTime};

// Properties whose value hands the caller references to release.
bool ReturnsReferences(AudioUnitPropertyID id) {
  switch (id) {
    case kAudioUnitProperty_ClassInfo:
    case kAudioUnitProperty_ParameterValueStrings:
    case kAudioUnitProperty_FactoryPresets:
    case kAudioUnitProperty_ContextName:
    case kAudioUnitProperty_ElementName:
    case kAudioUnitProperty_ParameterClumpName:
    case kAudioUnitProperty_PresentPreset:
    case kAudioUnitProperty_IconLocation:
    case kAudioUnitProperty_ParameterInfo:
      return true;
    default:
      return false;
  }
}

void ReleaseReturnedReferences(AudioUnitPropertyID id, const Byte* data) {
  const auto release = [](CFTypeRef value) {
    if (value != nullptr) CFRelease(value);
  };
  switch (id) {
    case kAudioUnitProperty_ClassInfo:
    case kAudioUnitProperty_ParameterValueStrings:
    case kAudioUnitProperty_FactoryPresets:
    case kAudioUnitProperty_ContextName:
    case kAudioUnitProperty_ElementName:
    case kAudioUnitProperty_IconLocation: {
      CFTypeRef value;
      std::memcpy(&value, data, sizeof value);
      release(value);
      break;
    }
    case kAudioUnitProperty_ParameterClumpName: {
      AudioUnitParameterNameInfo info;
      std::memcpy(&info, data, sizeof info);
      release(info.outName);
      break;
    }
    case kAudioUnitProperty_PresentPreset: {
      AUPreset preset;
      std::memcpy(&preset, data, sizeof preset);
      release(preset.presetName);
      break;
    }
    case kAudioUnitProperty_ParameterInfo: {
      AudioUnitParameterInfo info;
      std::memcpy(&info, data, sizeof info);
      if (info.flags & kAudioUnitParameterFlag_CFNameRelease) release(info.cfNameString);
      break;
    }
    default:
      break;
  }
}

class Session {
 public:
  // The blocks outlive the instance: it may hold host memory until closed.
  Session(FuzzedDataProvider& in, AudioUnit unit, HostBlocks& blocks)
      : mIn(in), mUnit(unit), mBlocks(blocks) {}

  void Start() {
    switch (mIn.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:  // as opened
        break;
      case 1:  // formats and an input, not initialized
        Configure(false);
        break;
      case 2:  // formats, an input, initialized
        Configure(false);
        Call(kAudioUnitInitializeSelect);
        break;
      default:  // an upstream unit, initialized
        Configure(true);
        Call(kAudioUnitInitializeSelect);
        break;
    }
  }

  void Step() {
    switch (mIn.ConsumeIntegralInRange<int>(0, 18)) {
      case 0:
        Call(kAudioUnitInitializeSelect);
        break;
      case 1:
        Call(kAudioUnitUninitializeSelect);
        break;
      case 2:
        GetPropertyInfo();
        break;
      case 3:
      case 4:
        GetProperty();
        break;
      case 5:
      case 6:
        SetProperty();
        break;
      case 7:
        GetParameter();
        break;
      case 8:
        SetParameter();
        break;
      case 9:
        Call(kAudioUnitResetSelect, Scope(), Element());
        break;
      case 10:
        Listeners();
        break;
      case 11:
      case 12:
        Render();
        break;
      case 13:
        Notifications();
        break;
      case 14:
        Schedule();
        break;
      case 15:
        OtherSelector();
        break;
      case 16:
        gSource.status = mIn.ConsumeBool() ? noErr : mIn.ConsumeIntegral<SInt32>();
        break;
      case 17:
        SourceSamples();
        break;
      default:
        gSourceOffersFastRender = mIn.ConsumeBool();
        break;
    }
  }

 private:
  template <class... Words>
  OSStatus Call(SInt16 selector, Words... words) {
    ComponentParameters params{};
    params.what = selector;
    params.params[0] =
        static_cast<long>(mIn.ConsumeIntegral<std::uint64_t>() & 0xFFFF);  // word 0 is not read
    int k = 1;
    ((params.params[k++] = Word(words)), ...);
    return CallComponentDispatch(mUnit, &params);
  }

  template <class T>
  static long Word(T value) {
    if constexpr (std::is_pointer_v<T>) {
      return reinterpret_cast<long>(value);
    } else if constexpr (std::is_same_v<T, Float32>) {
      UInt32 bits;
      std::memcpy(&bits, &value, sizeof bits);
      return static_cast<long>(bits);
    } else {
      return static_cast<long>(static_cast<std::uint64_t>(value));
    }
  }

  AudioUnitPropertyID Property() {
    if (mIn.ConsumeIntegralInRange<int>(0, 15) == 0) return mIn.ConsumeIntegral<UInt32>();
    return kProperties[mIn.ConsumeIntegralInRange<std::size_t>(0, std::size(kProperties) - 1)];
  }
  AudioUnitScope Scope() {
    if (mIn.ConsumeIntegralInRange<int>(0, 15) == 0) return mIn.ConsumeIntegral<UInt32>();
    return mIn.ConsumeIntegralInRange<UInt32>(0, 5);
  }
  AudioUnitElement Element() {
    if (mIn.ConsumeIntegralInRange<int>(0, 15) == 0) return mIn.ConsumeIntegral<UInt32>();
    return mIn.ConsumeIntegralInRange<UInt32>(0, 24);
  }
  Float32 AnyFloat() {
    switch (mIn.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:
        return mIn.ConsumeFloatingPointInRange<Float32>(-10.0f, 500.0f);
      case 1: {
        const UInt32 bits = mIn.ConsumeIntegral<UInt32>();
        Float32 v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
      }
      case 2:
        return static_cast<Float32>(mIn.ConsumeIntegralInRange<int>(0, 100));
      default: {
        static constexpr Float32 kEdges[] = {0.0f,  -0.0f,    1e-45f,    -1.0f, 100.0f,
                                             1e38f, INFINITY, -INFINITY, NAN};
        return kEdges[mIn.ConsumeIntegralInRange<std::size_t>(0, std::size(kEdges) - 1)];
      }
    }
  }

  // A word that is either null or a block the host owns, sized as declared.
  template <class T>
  T* MaybeBlock(const T& value) {
    return mIn.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : mBlocks.Make(value);
  }

  void Configure(bool upstream) {
    const UInt32 channels = mIn.ConsumeIntegralInRange<UInt32>(1, 4);
    AudioStreamBasicDescription f{};
    f.mSampleRate = mIn.ConsumeBool() ? 48000.0 : mIn.ConsumeFloatingPointInRange<Float64>(1.0, 400000.0);
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    f.mBytesPerPacket = f.mBytesPerFrame = 4;
    f.mFramesPerPacket = 1;
    f.mChannelsPerFrame = channels;
    f.mBitsPerChannel = 32;
    for (const AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
      AudioUnitSetProperty(mUnit, kAudioUnitProperty_StreamFormat, scope, 0, &f, sizeof f);
    }
    const UInt32 maxFrames = mIn.ConsumeIntegralInRange<UInt32>(1, 4096);
    AudioUnitSetProperty(mUnit, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0,
                         &maxFrames, sizeof maxFrames);
    if (upstream) {
      const AudioUnitConnection c{SourceUnit(), 0, 0};
      AudioUnitSetProperty(mUnit, kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0, &c, sizeof c);
    } else {
      const AURenderCallbackStruct cb{InputCallback, nullptr};
      AudioUnitSetProperty(mUnit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &cb,
                           sizeof cb);
    }
  }

  void GetPropertyInfo() {
    UInt32* size = MaybeBlock(UInt32{0xDEADBEEF});
    Boolean* writable = MaybeBlock(Boolean{7});
    Call(kAudioUnitGetPropertyInfoSelect, Property(), Scope(), Element(), size, writable);
  }

  void GetProperty() {
    const AudioUnitPropertyID id = Property();
    const AudioUnitScope scope = Scope();
    const AudioUnitElement element = Element();
    // A size query first, as hosts do; its answer guides the buffer.
    UInt32 reported = 0;
    Boolean writable = 0;
    const bool known =
        AudioUnitGetPropertyInfo(mUnit, id, scope, element, &reported, &writable) == noErr && reported > 0;
    const bool references = ReturnsReferences(id);
    std::size_t length = 0;
    switch (mIn.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:
        length = mIn.ConsumeIntegralInRange<std::size_t>(0, kMaxDataBytes);
        break;
      case 1:
        length = mIn.ConsumeIntegralInRange<std::size_t>(0, 64);
        break;
      default:
        length = known ? reported : mIn.ConsumeIntegralInRange<std::size_t>(0, 64);
        break;
    }
    // A truncated copy of a value that carries references would lose them;
    // a host asks for the whole value there.
    if (references && known && length < reported) length = reported;
    if (references && !known) length = std::max<std::size_t>(length, sizeof(AudioUnitParameterInfo));
    const bool nullData = mIn.ConsumeIntegralInRange<int>(0, 9) == 0;
    Byte* data = nullData ? nullptr : mBlocks.Make(length);
    if (data != nullptr) {
      // In-and-out records (the clump name) carry the host's question.
      const std::vector<Byte> question = mIn.ConsumeBytes<Byte>(length);
      if (!question.empty()) std::memcpy(data, question.data(), question.size());
      // No stale pointer where a reference will be handed back.
      if (references && id != kAudioUnitProperty_ParameterClumpName) std::memset(data, 0, length);
      if (id == kAudioUnitProperty_ParameterClumpName && length >= sizeof(AudioUnitParameterNameInfo)) {
        std::memset(data + offsetof(AudioUnitParameterNameInfo, outName), 0, sizeof(CFStringRef));
      }
    }
    UInt32* ioSize =
        mIn.ConsumeIntegralInRange<int>(0, 9) == 0 ? nullptr : mBlocks.Make(static_cast<UInt32>(length));
    const OSStatus status = Call(kAudioUnitGetPropertySelect, id, scope, element, data, ioSize);
    if (status == noErr && data != nullptr && references && length >= reported) {
      ReleaseReturnedReferences(id, data);
    }
  }

  void SetProperty() {
    const AudioUnitPropertyID id = Property();
    const AudioUnitScope scope = Scope();
    const AudioUnitElement element = Element();
    // The value, by what the property carries.
    std::vector<Byte> value;
    CFHeld held;  // a property-list value the host keeps until the call returns
    const auto put = [&value](const auto& record) {
      value.resize(sizeof record);
      std::memcpy(value.data(), &record, sizeof record);
    };
    switch (id) {
      case kAudioUnitProperty_ClassInfo: {
        CFTypeRef v = nullptr;
        if (mIn.ConsumeBool()) {
          UInt32 size = sizeof v;
          AudioUnitGetProperty(mUnit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &v, &size);
        } else {
          v = MakeValue(mIn, 3);
        }
        held = CFHeld(v);
        put(v);
        break;
      }
      case kAudioUnitProperty_MakeConnection:
        put(AudioUnitConnection{mIn.ConsumeBool() ? SourceUnit() : nullptr,
                                mIn.ConsumeIntegralInRange<UInt32>(0, 2),
                                mIn.ConsumeIntegralInRange<UInt32>(0, 2)});
        break;
      case kAudioUnitProperty_SetRenderCallback:
        put(AURenderCallbackStruct{mIn.ConsumeBool() ? InputCallback : nullptr, nullptr});
        break;
      case kAudioUnitProperty_SetExternalBuffer: {
        const UInt32 size = mIn.ConsumeIntegralInRange<UInt32>(0, 1u << 18);
        put(AudioUnitExternalBuffer{
            mIn.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : mBlocks.Make(size, 16), size});
        break;
      }
      case kAudioUnitProperty_ContextName:
      case kAudioUnitProperty_ElementName: {
        CFStringRef name = mIn.ConsumeIntegralInRange<int>(0, 4) == 0
                               ? nullptr
                               : MakeString(mIn.ConsumeRandomLengthString(40));
        held = CFHeld(name);
        put(name);
        break;
      }
      case kAudioUnitProperty_PresentPreset: {
        CFStringRef name = mIn.ConsumeIntegralInRange<int>(0, 4) == 0
                               ? nullptr
                               : MakeString(mIn.ConsumeRandomLengthString(40));
        held = CFHeld(name);
        put(AUPreset{mIn.ConsumeIntegralInRange<SInt32>(-3, 3), name});
        break;
      }
      case kAudioUnitProperty_HostCallbacks:
        put(HostCallbackInfo{nullptr, mIn.ConsumeBool() ? HostBeatAndTempo : nullptr, nullptr, nullptr});
        break;
      case kAudioUnitProperty_StreamFormat: {
        std::vector<Byte> raw = mIn.ConsumeBytes<Byte>(sizeof(AudioStreamBasicDescription));
        raw.resize(sizeof(AudioStreamBasicDescription));
        AudioStreamBasicDescription f;
        std::memcpy(&f, raw.data(), sizeof f);
        if (mIn.ConsumeBool()) {  // mostly canonical, to get past the format check
          f.mFormatID = kAudioFormatLinearPCM;
          f.mFormatFlags =
              kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
          f.mBytesPerPacket = f.mBytesPerFrame = 4;
          f.mFramesPerPacket = 1;
          f.mBitsPerChannel = 32;
        }
        f.mChannelsPerFrame %= kMaxChannels + 1;
        put(f);
        break;
      }
      case kAudioUnitProperty_MaximumFramesPerSlice:
        put(mIn.ConsumeIntegralInRange<UInt32>(0, kMaxSliceFrames));
        break;
      default:
        value = mIn.ConsumeBytes<Byte>(mIn.ConsumeIntegralInRange<std::size_t>(0, 64));
        break;
    }
    // Now and then a size that does not match the value; never more than the host owns.
    std::size_t size = value.size();
    if (mIn.ConsumeIntegralInRange<int>(0, 7) == 0) size = mIn.ConsumeIntegralInRange<std::size_t>(0, size);
    Byte* data = nullptr;
    if (mIn.ConsumeIntegralInRange<int>(0, 9) != 0) {
      data = mBlocks.Make(size);
      if (size != 0) std::memcpy(data, value.data(), size);
    }
    Call(kAudioUnitSetPropertySelect, id, scope, element, data, static_cast<UInt32>(size));
  }

  void GetParameter() {
    Call(kAudioUnitGetParameterSelect, Element(), Scope(), Element(), MaybeBlock(Float32{-1.0f}));
  }

  void SetParameter() {
    Call(kAudioUnitSetParameterSelect, Element(), Scope(), Element(), AnyFloat(),
         mIn.ConsumeIntegral<UInt32>());
  }

  void Listeners() {
    const AudioUnitPropertyID id = Property();
    const auto proc = mIn.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : Listener;
    const auto refCon = reinterpret_cast<void*>(std::uintptr_t{mIn.ConsumeIntegralInRange<unsigned>(0, 5)});
    Call(mIn.ConsumeBool() ? kAudioUnitAddPropertyListenerSelect
                           : kAudioUnitRemovePropertyListenerWithUserDataSelect,
         id, proc, refCon);
  }

  void Notifications() {
    const auto proc = mIn.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : Notification;
    const auto refCon = reinterpret_cast<void*>(std::uintptr_t{mIn.ConsumeIntegralInRange<unsigned>(0, 5)});
    Call(mIn.ConsumeBool() ? kAudioUnitAddRenderNotifySelect : kAudioUnitRemoveRenderNotifySelect, proc,
         refCon);
  }

  void Schedule() {
    const auto count = mIn.ConsumeIntegralInRange<UInt32>(0, 40);
    AudioUnitParameterEvent* events = nullptr;
    if (mIn.ConsumeIntegralInRange<int>(0, 9) != 0) {
      events = reinterpret_cast<AudioUnitParameterEvent*>(
          mBlocks.Make(count * sizeof(AudioUnitParameterEvent), alignof(AudioUnitParameterEvent)));
      for (UInt32 i = 0; i < count; ++i) {
        AudioUnitParameterEvent& e = events[i];
        e = AudioUnitParameterEvent{};
        e.scope = mIn.ConsumeIntegralInRange<int>(0, 7) == 0 ? mIn.ConsumeIntegral<UInt32>() : 0;
        e.element = mIn.ConsumeIntegralInRange<int>(0, 7) == 0 ? mIn.ConsumeIntegral<UInt32>() : 0;
        e.parameter = mIn.ConsumeIntegralInRange<UInt32>(0, 24);
        e.eventType = static_cast<AUParameterEventType>(mIn.ConsumeIntegralInRange<UInt32>(0, 3));
        e.eventValues.ramp.startBufferOffset = mIn.ConsumeBool()
                                                   ? mIn.ConsumeIntegralInRange<SInt32>(-600, 1200)
                                                   : mIn.ConsumeIntegral<SInt32>();
        e.eventValues.ramp.durationInFrames =
            mIn.ConsumeBool() ? mIn.ConsumeIntegralInRange<UInt32>(0, 1200) : mIn.ConsumeIntegral<UInt32>();
        e.eventValues.ramp.startValue = AnyFloat();
        e.eventValues.ramp.endValue = AnyFloat();
      }
    }
    Call(kAudioUnitScheduleParametersSelect, events, count);
  }

  void Render() {
    const UInt32 frames = mIn.ConsumeBool() ? mIn.ConsumeIntegralInRange<UInt32>(0, 1200)
                                            : mIn.ConsumeIntegralInRange<UInt32>(0, kMaxSliceFrames + 1);
    const UInt32 buffers = mIn.ConsumeIntegralInRange<UInt32>(0, kMaxListBuffers);
    AudioBufferList* list = nullptr;
    if (mIn.ConsumeIntegralInRange<int>(0, 15) != 0) {
      const std::size_t bytes =
          offsetof(AudioBufferList, mBuffers) + std::max<UInt32>(buffers, 1) * sizeof(AudioBuffer);
      list = reinterpret_cast<AudioBufferList*>(mBlocks.Make(bytes, alignof(AudioBufferList)));
      list->mNumberBuffers = buffers;
      const bool ownMemory = mIn.ConsumeIntegralInRange<int>(0, 3) != 0;
      for (UInt32 b = 0; b < buffers; ++b) {
        AudioBuffer& buffer = list->mBuffers[b];
        buffer.mNumberChannels = mIn.ConsumeIntegralInRange<UInt32>(0, 2);
        const UInt32 size = mIn.ConsumeBool() ? frames * 4 : mIn.ConsumeIntegralInRange<UInt32>(0, 8192);
        buffer.mDataByteSize = size;
        buffer.mData =
            (ownMemory || mIn.ConsumeIntegralInRange<int>(0, 7) == 0) ? mBlocks.Make(size, 16) : nullptr;
      }
    }
    AudioTimeStamp stamp{};
    stamp.mSampleTime = mIn.ConsumeBool() ? mSampleTime : mIn.ConsumeFloatingPoint<Float64>();
    stamp.mFlags = kAudioTimeStampSampleTimeValid;
    mSampleTime += frames;
    const AudioTimeStamp* time = mIn.ConsumeIntegralInRange<int>(0, 15) == 0 ? nullptr : mBlocks.Make(stamp);
    AudioUnitRenderActionFlags* flags = MaybeBlock(AudioUnitRenderActionFlags{0});
    const UInt32 bus = mIn.ConsumeIntegralInRange<int>(0, 7) == 0 ? mIn.ConsumeIntegral<UInt32>() : 0;
    const OSStatus status = Call(kAudioUnitRenderSelect, flags, time, bus, frames, list);
    // Whatever the unit hands back must hold what it says it holds.
    if (status == noErr && list != nullptr) {
      volatile Float32 sum = 0.0f;
      for (UInt32 b = 0; b < list->mNumberBuffers; ++b) {
        const auto* p = static_cast<const Float32*>(list->mBuffers[b].mData);
        if (p == nullptr) continue;
        const UInt32 n = list->mBuffers[b].mDataByteSize / sizeof(Float32);
        for (UInt32 i = 0; i < n; ++i) sum = sum + p[i];
      }
    }
  }

  void OtherSelector() {
    switch (mIn.ConsumeIntegralInRange<int>(0, 3)) {
      case 0: {  // can-do: word 0 is the selector asked about
        ComponentParameters params{};
        params.what = kComponentCanDoSelect;
        params.params[0] = static_cast<long>(mIn.ConsumeIntegral<std::uint64_t>());
        CallComponentDispatch(mUnit, &params);
        break;
      }
      case 1:
        Call(kComponentVersionSelect);
        break;
      default: {
        // A selector the dispatcher does not serve, with any words: none of
        // them may be read as a pointer.
        static constexpr SInt16 kServed[] = {-2, -1, 1, 2, 3, 4, 5, 6, 7, 9, 10, 14, 15, 16, 17, 18};
        SInt16 selector = mIn.ConsumeIntegral<SInt16>();
        for (const SInt16 served : kServed) {
          if (selector == served) selector = 11;
        }
        ComponentParameters params{};
        params.what = selector;
        for (long& word : params.params) word = static_cast<long>(mIn.ConsumeIntegral<std::uint64_t>());
        CallComponentDispatch(mUnit, &params);
        break;
      }
    }
  }

  void SourceSamples() {
    static constexpr Float32 kSamples[] = {0.25f, 0.0f, 1e-40f, -1e-38f, 1e30f, INFINITY, -INFINITY, NAN};
    gSource.sample = kSamples[mIn.ConsumeIntegralInRange<std::size_t>(0, std::size(kSamples) - 1)];
    gSource.step = mIn.ConsumeBool() ? 0.0f : AnyFloat();
  }

  FuzzedDataProvider& mIn;
  AudioUnit mUnit;
  HostBlocks& mBlocks;
  Float64 mSampleTime = 0.0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool warmed = [] {
    const OpenedGate gate;
    WarmIntervalNames(gate.Unit());
    SourceUnit();
    return true;
  }();
  (void)warmed;

  FuzzedDataProvider in(data, size);
  gSource = SourceState{};
  gSourceOffersFastRender = false;
  {
    const CFBalance balance;
    HostBlocks blocks;
    const OpenedGate gate;
    gUnit = gate.Unit();
    Session session(in, gate.Unit(), blocks);
    session.Start();
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) session.Step();
  }
  gUnit = nullptr;
  return 0;
}
