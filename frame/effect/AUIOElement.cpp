#include "AUIOElement.h"

#include "AUBase.h"

AUIOElement::AUIOElement(AUBase* audioUnit) : AUElement(audioUnit) {
  mFormat.mSampleRate = 44100.0;
  mFormat.mFormatID = kAudioFormatLinearPCM;
  mFormat.mFramesPerPacket = 1;
  mFormat.mChannelsPerFrame = 2;
  mFormat.mBitsPerChannel = 32;
  mFormat.mReserved = 0;
  if (audioUnit->AudioUnitAPIVersion() == 1) {
    mFormat.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    mFormat.mBytesPerPacket = mFormat.mBytesPerFrame = 8;
  } else {
    mFormat.mFormatFlags =
        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    mFormat.mBytesPerPacket = mFormat.mBytesPerFrame = 4;
  }
}

AUIOElement::~AUIOElement() = default;

OSStatus AUIOElement::SetStreamFormat(const AudioStreamBasicDescription& format) {
  mFormat = format;
  return noErr;
}

void AUIOElement::AllocateBuffer(UInt32 frames) {
  if (!mOwner->HasBegunInitializing()) return;
  if (frames == 0) frames = mOwner->GetMaxFramesPerSlice();
  if (!mAllocatesBuffer || !NeedsBufferSpace()) frames = 0;
  mBuffers.Allocate(mFormat, frames);
}

AudioBufferList& AUIOElement::PrepareBuffer(UInt32 frames) {
  if (!mAllocatesBuffer) throw static_cast<OSStatus>(kAudioUnitErr_InvalidPropertyValue);
  return mBuffers.PrepareBuffer(mFormat, frames);
}

UInt32 AUIOElement::GetChannelLayoutTags(AudioChannelLayoutTag*) {
  return 0;
}

UInt32 AUIOElement::GetAudioChannelLayout(AudioChannelLayout*, bool&) {
  return 0;
}

OSStatus AUIOElement::SetAudioChannelLayout(const AudioChannelLayout&) {
  return kAudioUnitErr_InvalidProperty;
}

OSStatus AUIOElement::RemoveAudioChannelLayout() {
  return kAudioUnitErr_InvalidPropertyValue;
}
