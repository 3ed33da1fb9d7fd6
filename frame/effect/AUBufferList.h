// The buffer list of an I/O element: an AudioBufferList record it always
// owns, and sample memory it owns unless the host supplied it. Every stream
// starts on a 16-byte boundary of the block.
#pragma once

#include <AudioUnit/AudioUnit.h>

class AUBufferList {
 public:
  enum EPtrState : UInt32 {
    kPtrsInvalid = 0,
    kPtrsToOwnMemory = 1,
    kPtrsToExternal = 2,
  };

  AUBufferList() = default;
  ~AUBufferList();

  AUBufferList(const AUBufferList&) = delete;
  AUBufferList& operator=(const AUBufferList&) = delete;

  // Makes room for `frames` frames of `format`; memory grows, never shrinks.
  // Sizes that do not fit in 32 bits throw kAudioUnitErr_TooManyFramesToProcess.
  void Allocate(const AudioStreamBasicDescription& format, UInt32 frames);
  void Deallocate() noexcept;

  // Points the list at the own block, one stride per stream.
  AudioBufferList& PrepareBuffer(const AudioStreamBasicDescription& format, UInt32 frames);
  // Same shape with null data pointers, for an upstream unit to fill in.
  AudioBufferList& PrepareNullBuffer(const AudioStreamBasicDescription& format, UInt32 frames);
  // Copies the caller's record; its pointers are used as they are.
  AudioBufferList& SetBufferList(const AudioBufferList& list);
  AudioBufferList& GetBufferList() const;
  // Hands the destination this list's pointers.
  void CopyBufferListTo(AudioBufferList& destination) const;
  // Copies the samples into the destination's memory.
  void CopyBufferContentsTo(AudioBufferList& destination) const;
  // Copies the samples the list points at into the own block, where
  // PrepareBuffer lays them out, unless they are there already.
  void KeepInOwnBlock(const AudioStreamBasicDescription& format, UInt32 frames) noexcept;
  // Adopts host memory when it is at least as large as the present block.
  void UseExternalBuffer(const AudioStreamBasicDescription& format, const AudioUnitExternalBuffer& external);

  void InvalidateBufferList() noexcept { mState = kPtrsInvalid; }
  EPtrState GetState() const noexcept { return mState; }
  bool BlockIsExternal() const noexcept { return mBlockIsExternal; }
  const Byte* GetBlock() const noexcept { return mBlock; }
  UInt32 GetStreamCapacity() const noexcept { return mStreamCapacity; }
  UInt32 GetFrameCapacity() const noexcept { return mFrameCapacity; }
  UInt32 GetByteCapacity() const noexcept { return mByteCapacity; }

 private:
  EPtrState mState = kPtrsInvalid;
  bool mBlockIsExternal = false;
  AudioBufferList* mList = nullptr;  // room for mStreamCapacity buffers
  Byte* mBlock = nullptr;
  UInt32 mStreamCapacity = 0;
  UInt32 mFrameCapacity = 0;
  UInt32 mByteCapacity = 0;
};
