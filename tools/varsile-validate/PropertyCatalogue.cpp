#include "PropertyCatalogue.h"

#include <array>

namespace varsile::validate {

namespace {

using enum ScopeRule;
using enum Access;
using enum Payload;
using enum ElementMeaning;

constexpr std::array<PropertyTraits, 32> kProperties{{
    {kAudioUnitProperty_ClassInfo, 8, 0, GlobalOnly, Writable, Reference, Element},
    {kAudioUnitProperty_MakeConnection, 16, 0, GlobalOrInput, Writable, Plain, Element},
    {kAudioUnitProperty_SampleRate, 8, 0, Any, Varies, Plain, Element},
    {kAudioUnitProperty_ParameterList, 0, 4, Any, ReadOnly, Plain, Element},
    {kAudioUnitProperty_ParameterInfo, 104, 0, Any, ReadOnly, ParameterInfo, ParameterId},
    {kAudioUnitProperty_FastDispatch, 8, 0, GlobalOnly, ReadOnly, Plain, Selector},
    {kAudioUnitProperty_CPULoad, 4, 0, GlobalOnly, Varies, Plain, Element},
    {kAudioUnitProperty_StreamFormat, 40, 0, Any, Varies, Plain, Element},
    {kAudioUnitProperty_ElementCount, 4, 0, Any, Varies, Plain, Element},
    {kAudioUnitProperty_Latency, 8, 0, GlobalOnly, ReadOnly, Plain, Element},
    {kAudioUnitProperty_SupportedNumChannels, 0, 4, GlobalOnly, ReadOnly, Plain, Element},
    {kAudioUnitProperty_MaximumFramesPerSlice, 4, 0, GlobalOnly, Writable, Plain, Element},
    {kAudioUnitProperty_SetExternalBuffer, 16, 0, Any, Writable, SetOnly, Element},
    {kAudioUnitProperty_ParameterValueStrings, 8, 0, Any, ReadOnly, Reference, ParameterId},
    {kAudioUnitProperty_GetUIComponentList, 0, 20, GlobalOnly, ReadOnly, Plain, Element},
    {kAudioUnitProperty_AudioChannelLayout, 0, 0, Any, Varies, Plain, Element},
    {kAudioUnitProperty_TailTime, 8, 0, GlobalOnly, ReadOnly, Plain, Element},
    {kAudioUnitProperty_BypassEffect, 4, 0, GlobalOnly, Writable, Plain, Element},
    {kAudioUnitProperty_LastRenderError, 4, 0, GlobalOnly, ReadOnly, Plain, Element},
    {kAudioUnitProperty_SetRenderCallback, 16, 0, GlobalOrInput, Writable, Plain, Element},
    {kAudioUnitProperty_FactoryPresets, 8, 0, GlobalOnly, ReadOnly, Reference, Element},
    {kAudioUnitProperty_ContextName, 8, 0, GlobalOnly, Writable, Reference, Element},
    {kAudioUnitProperty_RenderQuality, 4, 0, GlobalOnly, Varies, Plain, Element},
    {kAudioUnitProperty_HostCallbacks, 32, 0, GlobalOnly, Writable, Plain, Element},
    {kAudioUnitProperty_InPlaceProcessing, 4, 0, GlobalOnly, Writable, Plain, Element},
    {kAudioUnitProperty_ElementName, 8, 0, Any, Writable, Reference, Element},
    {kAudioUnitProperty_SupportedChannelLayoutTags, 0, 4, Any, ReadOnly, Plain, Element},
    {kAudioUnitProperty_ParameterClumpName, 16, 0, Any, ReadOnly, ClumpName, Element},
    {kAudioUnitProperty_PresentPreset, 16, 0, GlobalOnly, Writable, Preset, Element},
    {kAudioUnitProperty_IconLocation, 8, 0, GlobalOnly, ReadOnly, Reference, Element},
    {kAudioUnitProperty_ShouldAllocateBuffer, 4, 0, InputOrOutput, Writable, Plain, Element},
    {kAudioUnitProperty_LastRenderedSampleTime, 8, 0, Any, ReadOnly, Plain, Element},
}};

}  // namespace

std::span<const PropertyTraits> KnownProperties() {
  return kProperties;
}

const PropertyTraits* FindProperty(AudioUnitPropertyID id) {
  for (const PropertyTraits& traits : KnownProperties()) {
    if (traits.id == id) return &traits;
  }
  return nullptr;
}

}  // namespace varsile::validate
