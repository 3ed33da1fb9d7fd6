// An element of the input or output scope: a stream format and the buffer
// list that carries its audio.
#pragma once

#include "AUBufferList.h"
#include "AUElement.h"
#include "CAStreamBasicDescription.h"

class AUIOElement : public AUElement {
 public:
  // Starts as float stereo at 44.1 kHz: non-interleaved for API version 2,
  // interleaved for version 1.
  explicit AUIOElement(AUBase* audioUnit);
  ~AUIOElement() override;

  virtual OSStatus SetStreamFormat(const AudioStreamBasicDescription& format);
  // Frames 0 means the component's maximum frames per slice. Does nothing
  // until the component has begun initializing.
  virtual void AllocateBuffer(UInt32 frames = 0);
  virtual bool NeedsBufferSpace() const = 0;
  virtual UInt32 GetChannelLayoutTags(AudioChannelLayoutTag* outLayoutTags);
  virtual UInt32 GetAudioChannelLayout(AudioChannelLayout* outLayout, bool& outWritable);
  virtual OSStatus SetAudioChannelLayout(const AudioChannelLayout& layout);
  virtual OSStatus RemoveAudioChannelLayout();

  const CAStreamBasicDescription& GetStreamFormat() const noexcept { return mFormat; }

  // The own block laid out for `frames`; an element that does not allocate
  // throws kAudioUnitErr_InvalidPropertyValue.
  AudioBufferList& PrepareBuffer(UInt32 frames);
  AudioBufferList& PrepareNullBuffer(UInt32 frames) { return mBuffers.PrepareNullBuffer(mFormat, frames); }
  AudioBufferList& SetBufferList(const AudioBufferList& list) { return mBuffers.SetBufferList(list); }
  AudioBufferList& GetBufferList() const { return mBuffers.GetBufferList(); }
  void CopyBufferListTo(AudioBufferList& destination) const { mBuffers.CopyBufferListTo(destination); }
  void CopyBufferContentsTo(AudioBufferList& destination) const {
    mBuffers.CopyBufferContentsTo(destination);
  }
  void InvalidateBufferList() noexcept { mBuffers.InvalidateBufferList(); }
  void UseExternalBuffer(const AudioUnitExternalBuffer& external) {
    mBuffers.UseExternalBuffer(mFormat, external);
  }
  AUBufferList& GetBuffers() noexcept { return mBuffers; }
  const AUBufferList& GetBuffers() const noexcept { return mBuffers; }

  bool WillAllocateBuffer() const noexcept { return mAllocatesBuffer; }
  void SetWillAllocateBuffer(bool allocates) noexcept { mAllocatesBuffer = allocates; }

 protected:
  CAStreamBasicDescription mFormat;
  AUBufferList mBuffers;
  bool mAllocatesBuffer = true;
};
