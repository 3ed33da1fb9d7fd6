// The calls a host drives an audio unit with. Each packs its arguments into a
// call record, words 1, 2, 3, ... in the selector's argument order, and calls
// the unit's entry. Hosts make some of these calls on their render thread, so
// nothing here allocates or locks.
#include <AudioUnit/AUComponent.h>

#include <bit>
#include <cstring>
#include <type_traits>

static_assert(std::endian::native == std::endian::little,
              "the low bytes of an argument word are its first bytes only on a little-endian machine");

namespace {

long ToWord(UInt32 value) noexcept {
  return static_cast<long>(static_cast<UInt64>(value));
}

// A Float32 travels as its four bytes in the low half of the word.
long ToWord(Float32 value) noexcept {
  return ToWord(std::bit_cast<UInt32>(value));
}

template <typename Pointer>
requires std::is_pointer_v<Pointer>
long ToWord(Pointer value) noexcept {
  return reinterpret_cast<long>(value);
}

template <typename... Args>
OSStatus Dispatch(AudioUnit unit, SInt16 selector, Args... args) {
  static_assert(sizeof...(Args) < sizeof(ComponentParameters::params) / sizeof(long));
  if (unit == nullptr) return kAudio_ParamError;
  ComponentParameters params{};
  params.what = selector;
  params.paramSize = static_cast<UInt8>(sizeof...(Args) * sizeof(long));
  // Word 0 is not an audio-unit argument; the arguments start at word 1.
  std::size_t word = 1;
  ((params.params[word++] = ToWord(args)), ...);
  return CallComponentDispatch(unit, &params);
}

}  // namespace

extern "C" {

OSStatus AudioUnitInitialize(AudioUnit inUnit) {
  return Dispatch(inUnit, kAudioUnitInitializeSelect);
}

OSStatus AudioUnitUninitialize(AudioUnit inUnit) {
  return Dispatch(inUnit, kAudioUnitUninitializeSelect);
}

OSStatus AudioUnitGetPropertyInfo(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                                  AudioUnitElement inElement, UInt32* outDataSize, Boolean* outWritable) {
  return Dispatch(inUnit, kAudioUnitGetPropertyInfoSelect, inID, inScope, inElement, outDataSize,
                  outWritable);
}

OSStatus AudioUnitGetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, void* outData, UInt32* ioDataSize) {
  return Dispatch(inUnit, kAudioUnitGetPropertySelect, inID, inScope, inElement, outData, ioDataSize);
}

OSStatus AudioUnitSetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, const void* inData, UInt32 inDataSize) {
  return Dispatch(inUnit, kAudioUnitSetPropertySelect, inID, inScope, inElement, inData, inDataSize);
}

OSStatus AudioUnitAddPropertyListener(AudioUnit inUnit, AudioUnitPropertyID inID,
                                      AudioUnitPropertyListenerProc inProc, void* inProcUserData) {
  return Dispatch(inUnit, kAudioUnitAddPropertyListenerSelect, inID, inProc, inProcUserData);
}

OSStatus AudioUnitRemovePropertyListenerWithUserData(AudioUnit inUnit, AudioUnitPropertyID inID,
                                                     AudioUnitPropertyListenerProc inProc,
                                                     void* inProcUserData) {
  return Dispatch(inUnit, kAudioUnitRemovePropertyListenerWithUserDataSelect, inID, inProc, inProcUserData);
}

OSStatus AudioUnitAddRenderNotify(AudioUnit inUnit, AURenderCallback inProc, void* inProcUserData) {
  return Dispatch(inUnit, kAudioUnitAddRenderNotifySelect, inProc, inProcUserData);
}

OSStatus AudioUnitRemoveRenderNotify(AudioUnit inUnit, AURenderCallback inProc, void* inProcUserData) {
  return Dispatch(inUnit, kAudioUnitRemoveRenderNotifySelect, inProc, inProcUserData);
}

OSStatus AudioUnitGetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, AudioUnitParameterValue* outValue) {
  return Dispatch(inUnit, kAudioUnitGetParameterSelect, inID, inScope, inElement, outValue);
}

OSStatus AudioUnitSetParameter(AudioUnit inUnit, AudioUnitParameterID inID, AudioUnitScope inScope,
                               AudioUnitElement inElement, AudioUnitParameterValue inValue,
                               UInt32 inBufferOffsetInFrames) {
  return Dispatch(inUnit, kAudioUnitSetParameterSelect, inID, inScope, inElement, inValue,
                  inBufferOffsetInFrames);
}

OSStatus AudioUnitScheduleParameters(AudioUnit inUnit, const AudioUnitParameterEvent* inParameterEvent,
                                     UInt32 inNumParamEvents) {
  return Dispatch(inUnit, kAudioUnitScheduleParametersSelect, inParameterEvent, inNumParamEvents);
}

OSStatus AudioUnitRender(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber, UInt32 inNumberFrames,
                         AudioBufferList* ioData) {
  return Dispatch(inUnit, kAudioUnitRenderSelect, ioActionFlags, inTimeStamp, inOutputBusNumber,
                  inNumberFrames, ioData);
}

OSStatus AudioUnitReset(AudioUnit inUnit, AudioUnitScope inScope, AudioUnitElement inElement) {
  return Dispatch(inUnit, kAudioUnitResetSelect, inScope, inElement);
}

}  // extern "C"
