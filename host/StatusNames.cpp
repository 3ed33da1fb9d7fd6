#include "StatusNames.h"

#include <AudioToolbox/AudioComponentRegistry.h>

#include <array>
#include <cstdio>
#include <utility>

namespace varsile::host {

namespace {

constexpr std::array<std::pair<OSStatus, std::string_view>, 21> kStatusNames{{
    {noErr, "noErr"},
    {-1, "unspecified error"},
    {kAudio_ParamError, "kAudio_ParamError"},
    {memFullErr, "memFullErr"},
    {badComponentSelector, "badComponentSelector"},
    {invalidComponentID, "invalidComponentID"},
    {kAudioUnitErr_Initialized, "kAudioUnitErr_Initialized"},
    {kAudioUnitErr_InvalidPropertyValue, "kAudioUnitErr_InvalidPropertyValue"},
    {kAudioUnitErr_PropertyNotWritable, "kAudioUnitErr_PropertyNotWritable"},
    {kAudioUnitErr_InvalidScope, "kAudioUnitErr_InvalidScope"},
    {kAudioUnitErr_Uninitialized, "kAudioUnitErr_Uninitialized"},
    {kAudioUnitErr_FormatNotSupported, "kAudioUnitErr_FormatNotSupported"},
    {kAudioUnitErr_TooManyFramesToProcess, "kAudioUnitErr_TooManyFramesToProcess"},
    {kAudioUnitErr_NoConnection, "kAudioUnitErr_NoConnection"},
    {kAudioUnitErr_InvalidElement, "kAudioUnitErr_InvalidElement"},
    {kAudioUnitErr_InvalidParameter, "kAudioUnitErr_InvalidParameter"},
    {kAudioUnitErr_InvalidProperty, "kAudioUnitErr_InvalidProperty"},
    {kComponentLoadErr_ManifestUnreadable, "kComponentLoadErr_ManifestUnreadable"},
    {kComponentLoadErr_ManifestMalformed, "kComponentLoadErr_ManifestMalformed"},
    {kComponentLoadErr_LibraryNotLoaded, "kComponentLoadErr_LibraryNotLoaded"},
    {kComponentLoadErr_EntryNotFound, "kComponentLoadErr_EntryNotFound"},
}};

constexpr std::array<std::pair<AudioUnitPropertyID, std::string_view>, 32> kPropertyNames{{
    {kAudioUnitProperty_ClassInfo, "ClassInfo"},
    {kAudioUnitProperty_MakeConnection, "MakeConnection"},
    {kAudioUnitProperty_SampleRate, "SampleRate"},
    {kAudioUnitProperty_ParameterList, "ParameterList"},
    {kAudioUnitProperty_ParameterInfo, "ParameterInfo"},
    {kAudioUnitProperty_FastDispatch, "FastDispatch"},
    {kAudioUnitProperty_CPULoad, "CPULoad"},
    {kAudioUnitProperty_StreamFormat, "StreamFormat"},
    {kAudioUnitProperty_ElementCount, "ElementCount"},
    {kAudioUnitProperty_Latency, "Latency"},
    {kAudioUnitProperty_SupportedNumChannels, "SupportedNumChannels"},
    {kAudioUnitProperty_MaximumFramesPerSlice, "MaximumFramesPerSlice"},
    {kAudioUnitProperty_SetExternalBuffer, "SetExternalBuffer"},
    {kAudioUnitProperty_ParameterValueStrings, "ParameterValueStrings"},
    {kAudioUnitProperty_GetUIComponentList, "GetUIComponentList"},
    {kAudioUnitProperty_AudioChannelLayout, "AudioChannelLayout"},
    {kAudioUnitProperty_TailTime, "TailTime"},
    {kAudioUnitProperty_BypassEffect, "BypassEffect"},
    {kAudioUnitProperty_LastRenderError, "LastRenderError"},
    {kAudioUnitProperty_SetRenderCallback, "SetRenderCallback"},
    {kAudioUnitProperty_FactoryPresets, "FactoryPresets"},
    {kAudioUnitProperty_ContextName, "ContextName"},
    {kAudioUnitProperty_RenderQuality, "RenderQuality"},
    {kAudioUnitProperty_HostCallbacks, "HostCallbacks"},
    {kAudioUnitProperty_InPlaceProcessing, "InPlaceProcessing"},
    {kAudioUnitProperty_ElementName, "ElementName"},
    {kAudioUnitProperty_SupportedChannelLayoutTags, "SupportedChannelLayoutTags"},
    {kAudioUnitProperty_ParameterClumpName, "ParameterClumpName"},
    {kAudioUnitProperty_PresentPreset, "PresentPreset"},
    {kAudioUnitProperty_IconLocation, "IconLocation"},
    {kAudioUnitProperty_ShouldAllocateBuffer, "ShouldAllocateBuffer"},
    {kAudioUnitProperty_LastRenderedSampleTime, "LastRenderedSampleTime"},
}};

bool IsPrintableCode(UInt32 code) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto c = static_cast<unsigned char>((code >> shift) & 0xFF);
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

}  // namespace

std::string StatusName(OSStatus status) {
  for (const auto& [code, name] : kStatusNames) {
    if (code == status) return std::string(name) + " (" + std::to_string(status) + ")";
  }
  // Statuses that are four printable characters read as a big-endian code.
  if (IsPrintableCode(static_cast<UInt32>(status)))
    return FourCCText(static_cast<UInt32>(status)) + " (" + std::to_string(status) + ")";
  return "status " + std::to_string(status);
}

std::string PropertyName(AudioUnitPropertyID id) {
  for (const auto& [property, name] : kPropertyNames) {
    if (property == id) return std::string(name);
  }
  return "property " + std::to_string(id);
}

std::string FourCCText(UInt32 code) {
  if (!IsPrintableCode(code)) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(code));
    return hex;
  }
  std::string text = "'";
  for (int shift = 24; shift >= 0; shift -= 8) text += static_cast<char>((code >> shift) & 0xFF);
  return text + "'";
}

}  // namespace varsile::host
