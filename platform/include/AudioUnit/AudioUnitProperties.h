// Property ids, parameter units and flags, and the records properties carry.
#pragma once

#include <AudioUnit/AUComponent.h>

enum : AudioUnitPropertyID {
  kAudioUnitProperty_ClassInfo = 0,
  kAudioUnitProperty_MakeConnection = 1,
  kAudioUnitProperty_SampleRate = 2,
  kAudioUnitProperty_ParameterList = 3,
  kAudioUnitProperty_ParameterInfo = 4,
  kAudioUnitProperty_FastDispatch = 5,
  kAudioUnitProperty_CPULoad = 6,
  kAudioUnitProperty_StreamFormat = 8,
  kAudioUnitProperty_ElementCount = 11,
  kAudioUnitProperty_Latency = 12,
  kAudioUnitProperty_SupportedNumChannels = 13,
  kAudioUnitProperty_MaximumFramesPerSlice = 14,
  kAudioUnitProperty_SetExternalBuffer = 15,
  kAudioUnitProperty_ParameterValueStrings = 16,
  kAudioUnitProperty_GetUIComponentList = 18,
  kAudioUnitProperty_AudioChannelLayout = 19,
  kAudioUnitProperty_TailTime = 20,
  kAudioUnitProperty_BypassEffect = 21,
  kAudioUnitProperty_LastRenderError = 22,
  kAudioUnitProperty_SetRenderCallback = 23,
  kAudioUnitProperty_FactoryPresets = 24,
  kAudioUnitProperty_ContextName = 25,
  kAudioUnitProperty_RenderQuality = 26,
  kAudioUnitProperty_HostCallbacks = 27,
  kAudioUnitProperty_InPlaceProcessing = 29,
  kAudioUnitProperty_ElementName = 30,
  kAudioUnitProperty_SupportedChannelLayoutTags = 32,
  kAudioUnitProperty_ParameterClumpName = 35,
  kAudioUnitProperty_PresentPreset = 36,
  kAudioUnitProperty_IconLocation = 39,
  kAudioUnitProperty_ShouldAllocateBuffer = 51,
  kAudioUnitProperty_LastRenderedSampleTime = 0x6C727374,  // 'lrst'
};

enum : AudioUnitParameterID { kAudioUnitClumpID_System = 0 };

enum AudioUnitParameterUnit : UInt32 {
  kAudioUnitParameterUnit_Generic = 0,
  kAudioUnitParameterUnit_Indexed = 1,
  kAudioUnitParameterUnit_Boolean = 2,
  kAudioUnitParameterUnit_Percent = 3,
  kAudioUnitParameterUnit_Seconds = 4,
  kAudioUnitParameterUnit_SampleFrames = 5,
  kAudioUnitParameterUnit_Hertz = 8,
};

using AudioUnitParameterOptions = UInt32;
enum : AudioUnitParameterOptions {
  kAudioUnitParameterFlag_MeterReadOnly = 1u << 15,
  kAudioUnitParameterFlag_CFNameRelease = 1u << 16,
  kAudioUnitParameterFlag_HasClump = 1u << 20,
  kAudioUnitParameterFlag_ValuesHaveStrings = 1u << 21,
  kAudioUnitParameterFlag_IsHighResolution = 1u << 23,
  kAudioUnitParameterFlag_HasCFNameString = 1u << 27,
  kAudioUnitParameterFlag_IsReadable = 1u << 30,
  kAudioUnitParameterFlag_IsWritable = 1u << 31,
};

struct AudioUnitParameterInfo {
  char name[52];
  CFStringRef unitName;
  UInt32 clumpID;
  CFStringRef cfNameString;
  AudioUnitParameterUnit unit;
  AudioUnitParameterValue minValue;
  AudioUnitParameterValue maxValue;
  AudioUnitParameterValue defaultValue;
  AudioUnitParameterOptions flags;
};
static_assert(sizeof(AudioUnitParameterInfo) == 104);
static_assert(offsetof(AudioUnitParameterInfo, unitName) == 56);
static_assert(offsetof(AudioUnitParameterInfo, clumpID) == 64);
static_assert(offsetof(AudioUnitParameterInfo, cfNameString) == 72);
static_assert(offsetof(AudioUnitParameterInfo, unit) == 80);
static_assert(offsetof(AudioUnitParameterInfo, flags) == 96);

struct AudioUnitConnection {
  AudioUnit sourceAudioUnit;
  UInt32 sourceOutputNumber;
  UInt32 destInputNumber;
};
static_assert(sizeof(AudioUnitConnection) == 16);

struct AURenderCallbackStruct {
  AURenderCallback inputProc;
  void* inputProcRefCon;
};
static_assert(sizeof(AURenderCallbackStruct) == 16);

struct AudioUnitExternalBuffer {
  Byte* buffer;
  UInt32 size;
};
static_assert(sizeof(AudioUnitExternalBuffer) == 16);

using HostCallback_GetBeatAndTempo = OSStatus (*)(void* inHostUserData, Float64* outCurrentBeat,
                                                  Float64* outCurrentTempo);
using HostCallback_GetMusicalTimeLocation = OSStatus (*)(void* inHostUserData, UInt32* outDeltaSampleOffsetToNextBeat,
                                                         Float32* outTimeSigNumerator,
                                                         UInt32* outTimeSigDenominator,
                                                         Float64* outCurrentMeasureDownBeat);
using HostCallback_GetTransportState = OSStatus (*)(void* inHostUserData, Boolean* outIsPlaying,
                                                    Boolean* outTransportStateChanged,
                                                    Float64* outCurrentSampleInTimeLine, Boolean* outIsCycling,
                                                    Float64* outCycleStartBeat, Float64* outCycleEndBeat);

struct HostCallbackInfo {
  void* hostUserData;
  HostCallback_GetBeatAndTempo beatAndTempoProc;
  HostCallback_GetMusicalTimeLocation musicalTimeLocationProc;
  HostCallback_GetTransportState transportStateProc;
};
static_assert(sizeof(HostCallbackInfo) == 32);

struct AUPreset {
  SInt32 presetNumber;
  CFStringRef presetName;
};
static_assert(sizeof(AUPreset) == 16);
static_assert(offsetof(AUPreset, presetName) == 8);

struct AudioUnitParameterNameInfo {
  UInt32 inID;
  SInt32 inDesiredLength;
  CFStringRef outName;
};
static_assert(sizeof(AudioUnitParameterNameInfo) == 16);
using AudioUnitParameterIDName = AudioUnitParameterNameInfo;

struct AUChannelInfo {
  SInt16 inChannels;
  SInt16 outChannels;
};
static_assert(sizeof(AUChannelInfo) == 4);

inline constexpr Float64 kNoLastRenderedSampleTime = -1.0;
