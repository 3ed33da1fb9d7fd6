// Stream formats and channel layouts of the component.
#include <algorithm>
#include <vector>

#include "AUBase.h"
#include "CAAudioChannelLayout.h"

bool AUBase::FormatIsCanonical(const CAStreamBasicDescription& format) const noexcept {
  if (format.mFormatID != kAudioFormatLinearPCM) return false;
  if (format.mFramesPerPacket != 1) return false;
  if (format.mBytesPerPacket != format.mBytesPerFrame) return false;
  if ((format.mFormatFlags & kAudioFormatFlagIsFloat) == 0) return false;
  // Version 2 components work on one buffer per channel, version 1 on one
  // interleaved buffer.
  const bool nonInterleaved = (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
  if (nonInterleaved != (mAudioUnitAPIVersion >= 2)) return false;
  if ((format.mFormatFlags & kAudioFormatFlagIsBigEndian) != 0) return false;
  if (format.mBitsPerChannel != 32) return false;
  // One channel of 4 bytes per buffer; the sample rate and channel count are
  // left to initialization.
  return format.mBytesPerFrame == 4;
}

bool AUBase::ValidFormat(AudioUnitScope, AudioUnitElement, const CAStreamBasicDescription& format) {
  return FormatIsCanonical(format);
}

bool AUBase::IsStreamFormatWritable(AudioUnitScope scope, AudioUnitElement element) {
  switch (scope) {
    case kAudioUnitScope_Global:
      return StreamFormatWritable(kAudioUnitScope_Output, 0);
    case kAudioUnitScope_Input: {
      // A connected input takes its format from the upstream unit.
      const auto* input = dynamic_cast<const AUInputElement*>(Inputs().SafeGetElement(element));
      if (input != nullptr && input->HasConnection()) return false;
      return StreamFormatWritable(kAudioUnitScope_Input, element);
    }
    case kAudioUnitScope_Output:
      return StreamFormatWritable(kAudioUnitScope_Output, element);
    default:
      return false;
  }
}

namespace {

// The element a format request addresses: the global scope means output 0.
AUIOElement* FormatElement(AUBase& unit, AudioUnitScope scope, AudioUnitElement element) {
  switch (scope) {
    case kAudioUnitScope_Global:
      return unit.GetIOElement(kAudioUnitScope_Output, 0);
    case kAudioUnitScope_Input:
    case kAudioUnitScope_Output:
      return unit.GetIOElement(scope, element);
    default:
      throw static_cast<OSStatus>(kAudioUnitErr_InvalidScope);
  }
}

}  // namespace

const CAStreamBasicDescription& AUBase::GetStreamFormat(AudioUnitScope scope, AudioUnitElement element) {
  return FormatElement(*this, scope, element)->GetStreamFormat();
}

OSStatus AUBase::ChangeStreamFormat(AudioUnitScope scope, AudioUnitElement element,
                                    const CAStreamBasicDescription&,
                                    const CAStreamBasicDescription& newFormat) {
  AUIOElement* const io = FormatElement(*this, scope, element);
  if (const OSStatus status = io->SetStreamFormat(newFormat); status != noErr) return status;
  // Announced as addressed: a change through the global scope is heard there.
  PropertyChanged(kAudioUnitProperty_StreamFormat, scope, element);
  return noErr;
}

UInt32 AUBase::GetChannelLayoutTags(AudioUnitScope scope, AudioUnitElement element,
                                    AudioChannelLayoutTag* outLayoutTags) {
  return GetIOElement(scope, element)->GetChannelLayoutTags(outLayoutTags);
}

UInt32 AUBase::GetAudioChannelLayout(AudioUnitScope scope, AudioUnitElement element,
                                     AudioChannelLayout* outLayout, bool& outWritable) {
  return GetIOElement(scope, element)->GetAudioChannelLayout(outLayout, outWritable);
}

OSStatus AUBase::SetAudioChannelLayout(AudioUnitScope scope, AudioUnitElement element,
                                       const AudioChannelLayout* layout) {
  AUIOElement* const io = GetIOElement(scope, element);
  if (layout == nullptr) return kAudio_ParamError;
  if (io->GetStreamFormat().mChannelsPerFrame != CAAudioChannelLayout::NumberChannels(*layout)) {
    return kAudioUnitErr_InvalidPropertyValue;
  }
  const UInt32 count = GetChannelLayoutTags(scope, element, nullptr);
  if (count == 0) return kAudioUnitErr_InvalidProperty;
  std::vector<AudioChannelLayoutTag> tags(count);
  // Only the tags there was room for are looked at.
  const UInt32 written = std::min(count, GetChannelLayoutTags(scope, element, tags.data()));
  for (UInt32 i = 0; i < written; ++i) {
    // Descriptions accept any layout.
    if (tags[i] == layout->mChannelLayoutTag || tags[i] == kAudioChannelLayoutTag_UseChannelDescriptions) {
      return io->SetAudioChannelLayout(*layout);
    }
  }
  return kAudioUnitErr_InvalidPropertyValue;
}

OSStatus AUBase::RemoveAudioChannelLayout(AudioUnitScope scope, AudioUnitElement element) {
  AUIOElement* const io = GetIOElement(scope, element);
  bool writable = false;
  if (io->GetAudioChannelLayout(nullptr, writable) == 0) return noErr;
  return io->RemoveAudioChannelLayout();
}
