// The property table: size and writability, get, set and remove for the
// properties the frame answers itself; every other id goes to the virtual
// operations that descendants override.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "AUBase.h"

namespace {

// Property data comes from the host as raw bytes with no alignment promise.
template <class T>
T Load(const void* source) noexcept {
  T value;
  std::memcpy(&value, source, sizeof value);
  return value;
}

template <class T>
void Store(void* destination, const T& value) noexcept {
  std::memcpy(destination, &value, sizeof value);
}

// The checks every stream-format set runs, in this order, once the
// candidate is built (sample-rate and stream-format properties alike).
OSStatus SetStreamFormatFromProperty(AUBase& au, AudioUnitScope scope, AudioUnitElement element,
                                     const CAStreamBasicDescription& candidate) {
  if (!au.ValidFormat(scope, element, candidate)) return kAudioUnitErr_FormatNotSupported;
  // A copy: the change overwrites the element's format that this refers to.
  const CAStreamBasicDescription current = au.GetStreamFormat(scope, element);
  // Re-setting the present format is always allowed, initialized or not.
  if (current.IsEqual(candidate, false)) return noErr;
  if (!au.IsStreamFormatWritable(scope, element)) return kAudioUnitErr_PropertyNotWritable;
  return au.ChangeStreamFormat(scope, element, current, candidate);
}

// The properties whose size and writability never change: id, size, writable,
// global scope only, and whether the element must exist.
struct FixedInfo {
  AudioUnitPropertyID id;
  UInt32 size;
  bool writable;
  bool globalOnly;
  bool checkElement = true;
};

constexpr FixedInfo kFixedInfo[] = {
    {kAudioUnitProperty_ClassInfo, sizeof(CFPropertyListRef), true, true},
    {kAudioUnitProperty_ParameterInfo, sizeof(AudioUnitParameterInfo), false, false, false},
    {kAudioUnitProperty_FastDispatch, sizeof(void*), false, true, false},
    {kAudioUnitProperty_Latency, sizeof(Float64), false, true},
    {kAudioUnitProperty_MaximumFramesPerSlice, sizeof(UInt32), true, true},
    {kAudioUnitProperty_LastRenderError, sizeof(OSStatus), false, true},
    {kAudioUnitProperty_ContextName, sizeof(CFStringRef), true, true},
    {kAudioUnitProperty_HostCallbacks, sizeof(HostCallbackInfo), true, true},
    {kAudioUnitProperty_ElementName, sizeof(CFStringRef), true, false},
    {kAudioUnitProperty_ParameterClumpName, sizeof(AudioUnitParameterNameInfo), false, false},
    {kAudioUnitProperty_PresentPreset, sizeof(AUPreset), true, true},
    {kAudioUnitProperty_LastRenderedSampleTime, sizeof(Float64), false, false},
};

}  // namespace

OSStatus AUBase::DispatchGetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope,
                                         AudioUnitElement element, UInt32& outDataSize,
                                         Boolean& outWritable) {
  const bool global = scope == kAudioUnitScope_Global;
  bool checkElement = true;
  switch (id) {
    case kAudioUnitProperty_MakeConnection:
    case kAudioUnitProperty_SetRenderCallback:
      if (!global && scope != kAudioUnitScope_Input) return kAudioUnitErr_InvalidScope;
      outDataSize = id == kAudioUnitProperty_MakeConnection ? sizeof(AudioUnitConnection)
                                                            : sizeof(AURenderCallbackStruct);
      outWritable = true;
      break;

    case kAudioUnitProperty_SampleRate:
      outDataSize = sizeof(Float64);
      outWritable = IsStreamFormatWritable(scope, element);
      break;

    case kAudioUnitProperty_StreamFormat:
      outDataSize = sizeof(AudioStreamBasicDescription);
      outWritable = IsStreamFormatWritable(scope, element);
      break;

    case kAudioUnitProperty_ParameterList: {
      UInt32 count = 0;
      const OSStatus status = GetParameterList(scope, nullptr, count);
      outDataSize = count * sizeof(AudioUnitParameterID);
      outWritable = false;
      return status;
    }

    case kAudioUnitProperty_ElementCount:
      outDataSize = sizeof(UInt32);
      outWritable = BusCountWritable(scope);
      checkElement = false;
      break;

    case kAudioUnitProperty_SupportedNumChannels: {
      if (!global) return kAudioUnitErr_InvalidScope;
      const UInt32 count = SupportedNumChannels(nullptr);
      if (count == 0) return kAudioUnitErr_InvalidProperty;
      outDataSize = count * sizeof(AUChannelInfo);
      outWritable = false;
      break;
    }

    case kAudioUnitProperty_ParameterValueStrings: {
      // The element word carries the parameter id.
      const OSStatus status = GetParameterValueStrings(scope, element, nullptr);
      if (status != noErr) return status;
      outDataSize = sizeof(CFArrayRef);
      outWritable = false;
      checkElement = false;
      break;
    }

    case kAudioUnitProperty_GetUIComponentList: {
      if (!global) return kAudioUnitErr_InvalidScope;
      const UInt32 count = GetNumCustomUIComponents();
      if (count == 0) return kAudioUnitErr_InvalidProperty;
      outDataSize = count * sizeof(ComponentDescription);
      outWritable = false;
      break;
    }

    case kAudioUnitProperty_AudioChannelLayout: {
      bool writable = false;
      const UInt32 size = GetAudioChannelLayout(scope, element, nullptr, writable);
      if (size == 0) {
        return GetChannelLayoutTags(scope, element, nullptr) != 0
                   ? OSStatus{kAudioUnitErr_InvalidPropertyValue}
                   : OSStatus{kAudioUnitErr_InvalidProperty};
      }
      outDataSize = size;
      outWritable = writable;
      checkElement = false;
      break;
    }

    case kAudioUnitProperty_TailTime:
      if (!global) return kAudioUnitErr_InvalidScope;
      if (!SupportsTail()) return kAudioUnitErr_InvalidProperty;
      outDataSize = sizeof(Float64);
      outWritable = false;
      break;

    case kAudioUnitProperty_FactoryPresets: {
      if (!global) return kAudioUnitErr_InvalidScope;
      const OSStatus status = GetPresets(nullptr);
      if (status != noErr) return status;
      outDataSize = sizeof(CFArrayRef);
      outWritable = false;
      break;
    }

    case kAudioUnitProperty_SupportedChannelLayoutTags: {
      const UInt32 count = GetChannelLayoutTags(scope, element, nullptr);
      if (count == 0) return kAudioUnitErr_InvalidProperty;
      outDataSize = count * sizeof(AudioChannelLayoutTag);
      outWritable = false;
      checkElement = false;
      break;
    }

    case kAudioUnitProperty_IconLocation:
      if (!global) return kAudioUnitErr_InvalidScope;
      if (!HasIcon()) return kAudioUnitErr_InvalidProperty;
      outDataSize = sizeof(CFURLRef);
      outWritable = false;
      break;

    case kAudioUnitProperty_ShouldAllocateBuffer:
      if (scope != kAudioUnitScope_Input && scope != kAudioUnitScope_Output)
        return kAudioUnitErr_InvalidScope;
      outDataSize = sizeof(UInt32);
      outWritable = true;
      break;

    default: {
      const FixedInfo* fixed = std::ranges::find(kFixedInfo, id, &FixedInfo::id);
      if (fixed == std::end(kFixedInfo)) return GetPropertyInfo(id, scope, element, outDataSize, outWritable);
      if (fixed->globalOnly && !global) return kAudioUnitErr_InvalidScope;
      outDataSize = fixed->size;
      outWritable = fixed->writable;
      checkElement = fixed->checkElement;
    }
  }
  if (checkElement && GetElement(scope, element) == nullptr) return kAudioUnitErr_InvalidElement;
  return noErr;
}

OSStatus AUBase::DispatchGetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                     void* outData) {
  switch (id) {
    case kAudioUnitProperty_ClassInfo: {
      CFPropertyListRef state = nullptr;
      const OSStatus status = SaveState(&state);
      Store(outData, state);
      return status;
    }

    case kAudioUnitProperty_SampleRate:
      Store(outData, GetStreamFormat(scope, element).mSampleRate);
      return noErr;

    case kAudioUnitProperty_ParameterList: {
      UInt32 count = 0;
      return GetParameterList(scope, static_cast<AudioUnitParameterID*>(outData), count);
    }

    case kAudioUnitProperty_ParameterInfo: {
      // The element word carries the parameter id.
      // The caller's record: what the descendant does not fill (unitName) stays as given.
      auto info = Load<AudioUnitParameterInfo>(outData);
      const OSStatus status = GetParameterInfo(scope, element, info);
      if (status == noErr) Store(outData, info);
      return status;
    }

    case kAudioUnitProperty_FastDispatch:
      // The element word carries the selector whose fast entry is asked for.
      switch (element) {
        case kAudioUnitGetParameterSelect:
          Store(outData, &AudioUnitBaseGetParameter);
          return noErr;
        case kAudioUnitSetParameterSelect:
          Store(outData, &AudioUnitBaseSetParameter);
          return noErr;
        case kAudioUnitRenderSelect:
          Store(outData, &AudioUnitBaseRender);
          return noErr;
        default:
          return GetProperty(id, scope, element, outData);
      }

    case kAudioUnitProperty_StreamFormat:
      Store(outData, static_cast<const AudioStreamBasicDescription&>(GetStreamFormat(scope, element)));
      return noErr;

    case kAudioUnitProperty_ElementCount:
      Store(outData, GetScope(scope).GetNumberOfElements());
      return noErr;

    case kAudioUnitProperty_Latency:
      Store(outData, GetLatency());
      return noErr;

    case kAudioUnitProperty_SupportedNumChannels: {
      const AUChannelInfo* table = nullptr;
      const UInt32 count = SupportedNumChannels(&table);
      if (count != 0 && table != nullptr) std::memcpy(outData, table, count * sizeof(AUChannelInfo));
      return noErr;
    }

    case kAudioUnitProperty_MaximumFramesPerSlice:
      Store(outData, mMaxFramesPerSlice);
      return noErr;

    case kAudioUnitProperty_ParameterValueStrings: {
      CFArrayRef strings = nullptr;
      const OSStatus status = GetParameterValueStrings(scope, element, &strings);
      Store(outData, strings);
      return status;
    }

    case kAudioUnitProperty_GetUIComponentList:
      GetUIComponentDescs(static_cast<ComponentDescription*>(outData));
      return noErr;

    case kAudioUnitProperty_AudioChannelLayout: {
      bool writable = false;
      return GetAudioChannelLayout(scope, element, static_cast<AudioChannelLayout*>(outData), writable) != 0
                 ? OSStatus{noErr}
                 : OSStatus{kAudioUnitErr_InvalidProperty};
    }

    case kAudioUnitProperty_TailTime:
      if (!SupportsTail()) return kAudioUnitErr_InvalidProperty;
      Store(outData, GetTailTime());
      return noErr;

    case kAudioUnitProperty_LastRenderError:
      // Reading consumes the error. One exchange, so that an error the render
      // thread records meanwhile is not wiped unread.
      Store(outData, mRenderError.exchange(noErr));
      return noErr;

    case kAudioUnitProperty_FactoryPresets: {
      CFArrayRef presets = nullptr;
      const OSStatus status = GetPresets(&presets);
      Store(outData, presets);
      return status;
    }

    case kAudioUnitProperty_ContextName:
      Store(outData, mContextName);
      if (mContextName == nullptr) return kAudioUnitErr_InvalidPropertyValue;
      CFRetain(mContextName);
      return noErr;

    case kAudioUnitProperty_HostCallbacks:
      Store(outData, mHostCallbackInfo);
      return noErr;

    case kAudioUnitProperty_ElementName: {
      const CFStringRef name = SafeGetElement(scope, element)->GetName();
      if (name == nullptr) return kAudioUnitErr_InvalidPropertyValue;
      CFRetain(name);
      Store(outData, name);
      return noErr;
    }

    case kAudioUnitProperty_SupportedChannelLayoutTags:
      return GetChannelLayoutTags(scope, element, static_cast<AudioChannelLayoutTag*>(outData)) != 0
                 ? OSStatus{noErr}
                 : OSStatus{kAudioUnitErr_InvalidProperty};

    case kAudioUnitProperty_ParameterClumpName: {
      auto record = Load<AudioUnitParameterNameInfo>(outData);
      if (record.inID == kAudioUnitClumpID_System) return kAudioUnitErr_InvalidPropertyValue;
      const OSStatus status = CopyClumpName(scope, record.inID, record.inDesiredLength, &record.outName);
      // The frame knows no clump: the descendant may.
      if (status == kAudioUnitErr_InvalidProperty) return GetProperty(id, scope, element, outData);
      Store(outData, record);
      return status;
    }

    case kAudioUnitProperty_PresentPreset: {
      if (mCurrentPreset.presetName != nullptr) CFRetain(mCurrentPreset.presetName);
      Store(outData, mCurrentPreset);
      return noErr;
    }

    case kAudioUnitProperty_IconLocation: {
      const CFURLRef url = CopyIconLocation();
      if (url == nullptr) return kAudioUnitErr_InvalidProperty;
      Store(outData, url);
      return noErr;
    }

    case kAudioUnitProperty_ShouldAllocateBuffer:
      Store(outData, UInt32{GetIOElement(scope, element)->WillAllocateBuffer() ? 1u : 0u});
      return noErr;

    case kAudioUnitProperty_LastRenderedSampleTime:
      Store(outData, mLastSampleTime.load(std::memory_order_relaxed));
      return noErr;

    default:
      return GetProperty(id, scope, element, outData);
  }
}

OSStatus AUBase::DispatchSetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                     const void* inData, UInt32 inDataSize) {
  const bool global = scope == kAudioUnitScope_Global;
  switch (id) {
    case kAudioUnitProperty_ClassInfo:
      if (inDataSize != sizeof(CFPropertyListRef)) return kAudioUnitErr_InvalidPropertyValue;
      if (!global) return kAudioUnitErr_InvalidScope;
      return RestoreState(Load<CFPropertyListRef>(inData));

    case kAudioUnitProperty_MakeConnection:
      if (inDataSize < sizeof(AudioUnitConnection)) return kAudioUnitErr_InvalidPropertyValue;
      return SetConnection(Load<AudioUnitConnection>(inData));

    case kAudioUnitProperty_SampleRate: {
      if (inDataSize != sizeof(Float64)) return kAudioUnitErr_InvalidPropertyValue;
      if (GetElement(scope, element) == nullptr) return kAudioUnitErr_InvalidElement;
      CAStreamBasicDescription candidate = GetStreamFormat(scope, element);
      candidate.mSampleRate = Load<Float64>(inData);
      return SetStreamFormatFromProperty(*this, scope, element, candidate);
    }

    case kAudioUnitProperty_StreamFormat: {
      // Hosts may omit the reserved word: 36 bytes are a whole format.
      constexpr UInt32 kFormatBytes = offsetof(AudioStreamBasicDescription, mReserved);
      if (inDataSize < kFormatBytes) return kAudioUnitErr_InvalidPropertyValue;
      if (GetElement(scope, element) == nullptr) return kAudioUnitErr_InvalidElement;
      CAStreamBasicDescription candidate;
      std::memcpy(static_cast<AudioStreamBasicDescription*>(&candidate), inData, kFormatBytes);
      candidate.mReserved = 0;
      return SetStreamFormatFromProperty(*this, scope, element, candidate);
    }

    case kAudioUnitProperty_ElementCount: {
      if (inDataSize != sizeof(UInt32)) return kAudioUnitErr_InvalidPropertyValue;
      if (!BusCountWritable(scope)) return kAudioUnitErr_PropertyNotWritable;
      const OSStatus status = SetBusCount(scope, Load<UInt32>(inData));
      if (status != noErr) return status;
      PropertyChanged(id, scope, element);
      return noErr;
    }

    case kAudioUnitProperty_MaximumFramesPerSlice: {
      if (inDataSize != sizeof(UInt32)) return kAudioUnitErr_InvalidPropertyValue;
      if (const OSStatus status = CanSetMaxFrames(); status != noErr) return status;
      SetMaxFramesPerSlice(Load<UInt32>(inData));  // notifies by itself
      return noErr;
    }

    case kAudioUnitProperty_SetExternalBuffer: {
      if (inDataSize < sizeof(AudioUnitExternalBuffer)) return kAudioUnitErr_InvalidPropertyValue;
      if (!IsInitialized()) return kAudioUnitErr_Uninitialized;
      const auto external = Load<AudioUnitExternalBuffer>(inData);
      // A null buffer would be adopted like any other and rendered into.
      if (external.buffer == nullptr || reinterpret_cast<std::uintptr_t>(external.buffer) % 16 != 0) {
        return kAudio_ParamError;
      }
      AUIOElement* io = scope == kAudioUnitScope_Input ? static_cast<AUIOElement*>(GetInput(element))
                                                       : static_cast<AUIOElement*>(GetOutput(element));
      io->UseExternalBuffer(external);
      return noErr;
    }

    case kAudioUnitProperty_AudioChannelLayout: {
      // The description count must be read before it can size the record.
      constexpr UInt32 kHeaderBytes = offsetof(AudioChannelLayout, mChannelDescriptions);
      if (inDataSize < kHeaderBytes) return kAudioUnitErr_InvalidPropertyValue;
      const auto count = Load<UInt32>(static_cast<const UInt8*>(inData) +
                                      offsetof(AudioChannelLayout, mNumberChannelDescriptions));
      const UInt64 needed = kHeaderBytes + UInt64{count} * sizeof(AudioChannelDescription);
      if (inDataSize < needed) return kAudioUnitErr_InvalidPropertyValue;
      const OSStatus status =
          SetAudioChannelLayout(scope, element, static_cast<const AudioChannelLayout*>(inData));
      if (status != noErr) return status;
      PropertyChanged(id, scope, element);
      return noErr;
    }

    case kAudioUnitProperty_SetRenderCallback: {
      if (inDataSize < sizeof(AURenderCallbackStruct)) return kAudioUnitErr_InvalidPropertyValue;
      const auto callback = Load<AURenderCallbackStruct>(inData);
      return SetInputCallback(id, element, callback.inputProc, callback.inputProcRefCon);
    }

    case kAudioUnitProperty_ContextName: {
      if (inDataSize != sizeof(CFStringRef)) return kAudioUnitErr_InvalidPropertyValue;
      if (!global) return kAudioUnitErr_InvalidScope;
      const auto name = Load<CFStringRef>(inData);
      if (name != nullptr) CFRetain(name);  // first: it may be the name we hold
      if (mContextName != nullptr) CFRelease(mContextName);
      mContextName = name;
      PropertyChanged(id, kAudioUnitScope_Global, element);
      return noErr;
    }

    case kAudioUnitProperty_HostCallbacks: {
      if (!global) return kAudioUnitErr_InvalidScope;
      // Hosts built against older records pass fewer bytes; the rest is zero.
      const UInt32 count = std::min<UInt32>(inDataSize, sizeof(HostCallbackInfo));
      const bool changed = std::memcmp(&mHostCallbackInfo, inData, count) != 0;
      mHostCallbackInfo = HostCallbackInfo{};
      std::memcpy(&mHostCallbackInfo, inData, count);
      if (changed) PropertyChanged(id, kAudioUnitScope_Global, element);
      return noErr;
    }

    case kAudioUnitProperty_ElementName: {
      AUElement* target = GetElement(scope, element);
      if (target == nullptr) return kAudioUnitErr_InvalidElement;
      if (inDataSize != sizeof(CFStringRef)) return kAudioUnitErr_InvalidPropertyValue;
      // Anything but a string would be saved, and then refused by the restore.
      const auto name = Load<CFStringRef>(inData);
      if (name != nullptr && CFGetTypeID(name) != CFStringGetTypeID())
        return kAudioUnitErr_InvalidPropertyValue;
      target->SetName(name);
      PropertyChanged(id, scope, element);
      return noErr;
    }

    case kAudioUnitProperty_PresentPreset: {
      if (inDataSize != sizeof(AUPreset)) return kAudioUnitErr_InvalidPropertyValue;
      if (!global) return kAudioUnitErr_InvalidScope;
      const auto preset = Load<AUPreset>(inData);
      if (preset.presetNumber >= 0) {
        if (const OSStatus status = NewFactoryPresetSet(preset); status != noErr) return status;
      } else {
        // A user preset is known only by its name.
        if (preset.presetName == nullptr || CFGetTypeID(preset.presetName) != CFStringGetTypeID()) {
          return kAudioUnitErr_InvalidPropertyValue;
        }
        CFRetain(preset.presetName);
        if (mCurrentPreset.presetName != nullptr) CFRelease(mCurrentPreset.presetName);
        mCurrentPreset = preset;
      }
      PropertyChanged(id, kAudioUnitScope_Global, element);
      return noErr;
    }

    case kAudioUnitProperty_ShouldAllocateBuffer: {
      if (scope != kAudioUnitScope_Input && scope != kAudioUnitScope_Output)
        return kAudioUnitErr_InvalidScope;
      if (GetElement(scope, element) == nullptr) return kAudioUnitErr_InvalidElement;
      if (inDataSize != sizeof(UInt32)) return kAudioUnitErr_InvalidPropertyValue;
      if (IsInitialized()) return kAudioUnitErr_Initialized;
      GetIOElement(scope, element)->SetWillAllocateBuffer(Load<UInt32>(inData) != 0);
      return noErr;
    }

    default: {
      const OSStatus status = SetProperty(id, scope, element, inData, inDataSize);
      if (status == noErr) PropertyChanged(id, scope, element);
      return status;
    }
  }
}

OSStatus AUBase::DispatchRemovePropertyValue(AudioUnitPropertyID id, AudioUnitScope scope,
                                             AudioUnitElement element) {
  switch (id) {
    case kAudioUnitProperty_AudioChannelLayout: {
      const OSStatus status = RemoveAudioChannelLayout(scope, element);
      if (status == noErr) PropertyChanged(id, scope, element);
      return status;
    }

    case kAudioUnitProperty_ContextName:
      if (mContextName != nullptr) CFRelease(mContextName);
      mContextName = nullptr;
      return noErr;

    case kAudioUnitProperty_HostCallbacks: {
      if (scope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
      static constexpr HostCallbackInfo kNone{};
      if (std::memcmp(&mHostCallbackInfo, &kNone, sizeof kNone) != 0) {
        mHostCallbackInfo = kNone;
        PropertyChanged(id, kAudioUnitScope_Global, element);
      }
      return noErr;
    }

    default:
      return RemovePropertyValue(id, scope, element);
  }
}
