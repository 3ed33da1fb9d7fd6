// The audio-unit selector dispatcher: unpacks the argument words, checks the
// pointers it must dereference and calls the instance's operation. Nothing is
// caught here; the entry function's guard converts what is thrown.
#include <bit>
#include <cstring>
#include <memory>

#include "AUBase.h"

namespace {

// Word k of the record; the audio-unit arguments start at word 1.
class Arguments {
 public:
  explicit Arguments(const ComponentParameters& params) noexcept : mParams(params) {}

  UInt32 U32(int k) const noexcept { return static_cast<UInt32>(static_cast<UInt64>(mParams.params[k])); }
  // A Float32 travels as the low four bytes of its word.
  Float32 F32(int k) const noexcept { return std::bit_cast<Float32>(U32(k)); }
  template <class Pointer>
  Pointer Ptr(int k) const noexcept {
    return reinterpret_cast<Pointer>(mParams.params[k]);
  }

 private:
  const ComponentParameters& mParams;
};

// Selectors at or below 18 that an instance of API version 2 answers.
bool AudioUnitCanDo(UInt64 selector) noexcept {
  switch (selector) {
    case kAudioUnitInitializeSelect:
    case kAudioUnitUninitializeSelect:
    case kAudioUnitGetPropertyInfoSelect:
    case kAudioUnitGetPropertySelect:
    case kAudioUnitSetPropertySelect:
    case kAudioUnitGetParameterSelect:
    case kAudioUnitSetParameterSelect:
    case kAudioUnitResetSelect:
    case kAudioUnitAddPropertyListenerSelect:
    case kAudioUnitRenderSelect:
    case kAudioUnitAddRenderNotifySelect:
    case kAudioUnitRemoveRenderNotifySelect:
    case kAudioUnitScheduleParametersSelect:
    case kAudioUnitRemovePropertyListenerWithUserDataSelect:
      return true;
    default:
      return false;
  }
}

// Properties whose value is, or holds, a reference the caller must release:
// a truncated copy would leak it and hand back part of a pointer.
bool ValueHoldsReference(AudioUnitPropertyID id) noexcept {
  switch (id) {
    case kAudioUnitProperty_ClassInfo:
    case kAudioUnitProperty_ParameterValueStrings:
    case kAudioUnitProperty_FactoryPresets:
    case kAudioUnitProperty_ContextName:
    case kAudioUnitProperty_ElementName:
    case kAudioUnitProperty_ParameterClumpName:
    case kAudioUnitProperty_PresentPreset:
    case kAudioUnitProperty_IconLocation:
      return true;
    default:
      return false;
  }
}

}  // namespace

OSStatus AUBase::ComponentEntryDispatch(ComponentParameters* params, AUBase* instance) {
  if (params == nullptr || instance == nullptr) return kAudio_ParamError;
  const Arguments args(*params);

  switch (params->what) {
    case kAudioUnitInitializeSelect:
      return instance->DoInitialize();

    case kAudioUnitUninitializeSelect:
      instance->DoCleanup();
      return noErr;

    case kAudioUnitGetPropertyInfoSelect: {
      UInt32 size = 0;
      Boolean writable = false;
      const OSStatus status =
          instance->DispatchGetPropertyInfo(args.U32(1), args.U32(2), args.U32(3), size, writable);
      // Only a successful query defines the answers; otherwise the caller's words stay.
      if (status != noErr) return status;
      if (auto* outSize = args.Ptr<UInt32*>(4)) *outSize = size;
      if (auto* outWritable = args.Ptr<Boolean*>(5)) *outWritable = writable;
      return noErr;
    }

    case kAudioUnitGetPropertySelect: {
      const AudioUnitPropertyID id = args.U32(1);
      const AudioUnitScope scope = args.U32(2);
      const AudioUnitElement element = args.U32(3);
      void* const outData = args.Ptr<void*>(4);
      UInt32* const ioDataSize = args.Ptr<UInt32*>(5);
      if (ioDataSize == nullptr) return kAudio_ParamError;

      UInt32 size = 0;
      Boolean writable = false;
      if (outData == nullptr) {
        // A size query: the property itself is not read.
        const OSStatus status = instance->DispatchGetPropertyInfo(id, scope, element, size, writable);
        if (status == noErr) *ioDataSize = size;
        return status;
      }
      const UInt32 length = *ioDataSize;
      if (length == 0) return kAudio_ParamError;
      if (const OSStatus status = instance->DispatchGetPropertyInfo(id, scope, element, size, writable);
          status != noErr) {
        return status;
      }
      // A caller's buffer smaller than the property gets a truncated copy; the
      // full value goes to a temporary first, never past the caller's end.
      if (length < size && ValueHoldsReference(id)) return kAudio_ParamError;
      std::unique_ptr<Byte[]> temporary;
      if (length < size) temporary = std::make_unique<Byte[]>(size);
      void* const destination = temporary ? static_cast<void*>(temporary.get()) : outData;
      if (const OSStatus status = instance->DispatchGetProperty(id, scope, element, destination);
          status != noErr) {
        *ioDataSize = 0;
        return status;
      }
      if (temporary) {
        std::memcpy(outData, temporary.get(), length);
      } else {
        *ioDataSize = size;
      }
      return noErr;
    }

    case kAudioUnitSetPropertySelect: {
      const void* const inData = args.Ptr<const void*>(4);
      const UInt32 inDataSize = args.U32(5);
      if (inData != nullptr && inDataSize != 0) {
        return instance->DispatchSetProperty(args.U32(1), args.U32(2), args.U32(3), inData, inDataSize);
      }
      if (inData == nullptr && inDataSize == 0) {
        return instance->DispatchRemovePropertyValue(args.U32(1), args.U32(2), args.U32(3));
      }
      return kAudio_ParamError;
    }

    case kAudioUnitGetParameterSelect: {
      auto* const outValue = args.Ptr<AudioUnitParameterValue*>(4);
      if (outValue == nullptr) return kAudio_ParamError;
      return instance->GetParameter(args.U32(1), args.U32(2), args.U32(3), *outValue);
    }

    case kAudioUnitSetParameterSelect:
      return instance->SetParameter(args.U32(1), args.U32(2), args.U32(3), args.F32(4), args.U32(5));

    case kAudioUnitResetSelect:
      // Before the instance's own reset, so it holds even when that fails.
      instance->mLastSampleTime.store(kNoLastRenderedSampleTime);
      return instance->Reset(args.U32(1), args.U32(2));

    case kAudioUnitAddPropertyListenerSelect:
      return instance->AddPropertyListener(args.U32(1), args.Ptr<AudioUnitPropertyListenerProc>(2),
                                           args.Ptr<void*>(3));

    case kAudioUnitRenderSelect: {
      auto* ioActionFlags = args.Ptr<AudioUnitRenderActionFlags*>(1);
      const auto* const inTimeStamp = args.Ptr<const AudioTimeStamp*>(2);
      auto* const ioData = args.Ptr<AudioBufferList*>(5);
      if (inTimeStamp == nullptr || ioData == nullptr) return kAudio_ParamError;
      AudioUnitRenderActionFlags localFlags = 0;
      if (ioActionFlags == nullptr) ioActionFlags = &localFlags;
      return instance->DoRender(*ioActionFlags, *inTimeStamp, args.U32(3), args.U32(4), *ioData);
    }

    case kAudioUnitAddRenderNotifySelect:
      return instance->SetRenderNotification(args.Ptr<AURenderCallback>(1), args.Ptr<void*>(2));

    case kAudioUnitRemoveRenderNotifySelect:
      return instance->RemoveRenderNotification(args.Ptr<AURenderCallback>(1), args.Ptr<void*>(2));

    case kAudioUnitScheduleParametersSelect: {
      const auto* const events = args.Ptr<const AudioUnitParameterEvent*>(1);
      const UInt32 count = args.U32(2);
      // Events would be read through a null pointer.
      if (events == nullptr && count != 0) return kAudio_ParamError;
      return instance->ScheduleParameter(events, count);
    }

    case kAudioUnitRemovePropertyListenerWithUserDataSelect:
      return instance->RemovePropertyListener(args.U32(1), args.Ptr<AudioUnitPropertyListenerProc>(2),
                                              args.Ptr<void*>(3), true);

    case kComponentCanDoSelect: {
      const auto selector = static_cast<UInt64>(params->params[0]);
      if (selector <= kAudioUnitRemovePropertyListenerWithUserDataSelect && AudioUnitCanDo(selector))
        return 1;
      return ComponentBase::ComponentEntryDispatch(params, instance);
    }

    default:
      return ComponentBase::ComponentEntryDispatch(params, instance);
  }
}
