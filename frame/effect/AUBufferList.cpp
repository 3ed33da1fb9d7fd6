#include "AUBufferList.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "CAMemory.h"
#include "CAStreamBasicDescription.h"

// Sizes come from host-chosen frame counts, channel counts and bytes per
// frame; they are computed in 64 bits and refused when they do not fit the
// 32-bit fields of the list.

namespace {

constexpr UInt64 kMaxUInt32 = std::numeric_limits<UInt32>::max();

[[noreturn]] void Fail(OSStatus status) {
  throw status;
}

// Bytes per stream: a whole number of 16-byte blocks.
constexpr UInt64 StreamStride(UInt64 frames, UInt64 bytesPerFrame) noexcept {
  return (frames * bytesPerFrame + 15) & ~UInt64{15};
}

constexpr std::size_t ListBytes(UInt32 buffers) noexcept {
  return offsetof(AudioBufferList, mBuffers) + sizeof(AudioBuffer) * std::size_t{buffers};
}

template <std::size_t kBytes>
void MoveFixed(void* to, const void* from) noexcept {
  unsigned char staged[kBytes];
  std::memcpy(staged, from, kBytes);
  std::memcpy(to, staged, kBytes);
}

// memmove, with the one to four samples of a short render moved without the call.
void MoveBytes(void* to, const void* from, std::size_t bytes) noexcept {
  switch (bytes) {
    case 4:
      return MoveFixed<4>(to, from);
    case 8:
      return MoveFixed<8>(to, from);
    case 12:
      return MoveFixed<12>(to, from);
    case 16:
      return MoveFixed<16>(to, from);
    default:
      std::memmove(to, from, bytes);
  }
}

// The buffer count and the channels per buffer that a format needs.
struct Shape {
  UInt32 buffers;
  UInt32 channelsPerBuffer;
};

Shape ShapeOf(const AudioStreamBasicDescription& format) noexcept {
  const CAStreamBasicDescription f(format);
  return {f.NumberChannelStreams(), f.NumberInterleavedChannels()};
}

}  // namespace

AUBufferList::~AUBufferList() {
  Deallocate();
  std::free(mList);
}

void AUBufferList::Allocate(const AudioStreamBasicDescription& format, UInt32 frames) {
  const UInt32 streams = ShapeOf(format).buffers;
  const UInt64 perStream = StreamStride(frames, format.mBytesPerFrame);
  // perStream is below 2^33 once it passed the first test, so the product cannot wrap.
  if (perStream > kMaxUInt32 || streams * perStream > kMaxUInt32) Fail(kAudioUnitErr_TooManyFramesToProcess);
  const auto total = static_cast<UInt32>(streams * perStream);

  if (streams > mStreamCapacity || mList == nullptr) {
    void* grown = nullptr;
    try {
      grown = CA_realloc(mList, ListBytes(streams));
    } catch (...) {
      // CA_realloc freed the old record.
      mList = nullptr;
      mStreamCapacity = 0;
      mState = kPtrsInvalid;
      throw;
    }
    mList = static_cast<AudioBufferList*>(grown);
    mList->mNumberBuffers = 0;
    mStreamCapacity = streams;
  }

  if (total > mByteCapacity) {
    if (mBlockIsExternal) {
      // The host's memory is too small now; forget it, it is not ours to free.
      mBlock = nullptr;
      mBlockIsExternal = false;
    }
    try {
      mBlock = static_cast<Byte*>(CA_realloc(mBlock, total));
    } catch (...) {
      mBlock = nullptr;
      mByteCapacity = 0;
      mFrameCapacity = 0;
      mState = kPtrsInvalid;
      throw;
    }
    mByteCapacity = total;
  }
  mFrameCapacity = frames;
  mState = kPtrsInvalid;
}

void AUBufferList::Deallocate() noexcept {
  mStreamCapacity = 0;
  mFrameCapacity = 0;
  mByteCapacity = 0;
  if (mBlock != nullptr) {
    if (!mBlockIsExternal) std::free(mBlock);
    mBlockIsExternal = false;
    mBlock = nullptr;
  }
  mState = kPtrsInvalid;
}

AudioBufferList& AUBufferList::PrepareBuffer(const AudioStreamBasicDescription& format, UInt32 frames) {
  if (frames > mFrameCapacity) Fail(kAudioUnitErr_TooManyFramesToProcess);
  const Shape shape = ShapeOf(format);
  if (mList == nullptr || shape.buffers > mStreamCapacity) Fail(kAudioUnitErr_FormatNotSupported);
  const UInt64 stride = StreamStride(mFrameCapacity, format.mBytesPerFrame);
  // Checked before the record is touched, so a refusal leaves it as it was.
  if (shape.buffers != 0 && (stride > mByteCapacity || shape.buffers * stride > mByteCapacity)) {
    Fail(kAudioUnitErr_TooManyFramesToProcess);
  }
  // frames * bytes per frame <= stride <= mByteCapacity: it fits in 32 bits.
  const auto bytes = static_cast<UInt32>(UInt64{frames} * format.mBytesPerFrame);
  mList->mNumberBuffers = shape.buffers;
  for (UInt32 i = 0; i < shape.buffers; ++i) {
    AudioBuffer& b = mList->mBuffers[i];
    b.mNumberChannels = shape.channelsPerBuffer;
    b.mDataByteSize = bytes;
    b.mData = mBlock + i * stride;
  }
  mState = kPtrsToOwnMemory;
  return *mList;
}

AudioBufferList& AUBufferList::PrepareNullBuffer(const AudioStreamBasicDescription& format, UInt32 frames) {
  const Shape shape = ShapeOf(format);
  if (mList == nullptr || shape.buffers > mStreamCapacity) Fail(kAudioUnitErr_FormatNotSupported);
  const UInt64 bytes = UInt64{frames} * format.mBytesPerFrame;
  if (bytes > kMaxUInt32) Fail(kAudioUnitErr_TooManyFramesToProcess);
  mList->mNumberBuffers = shape.buffers;
  for (UInt32 i = 0; i < shape.buffers; ++i) {
    AudioBuffer& b = mList->mBuffers[i];
    b.mNumberChannels = shape.channelsPerBuffer;
    b.mDataByteSize = static_cast<UInt32>(bytes);
    b.mData = nullptr;
  }
  mState = kPtrsToExternal;
  return *mList;
}

AudioBufferList& AUBufferList::SetBufferList(const AudioBufferList& list) {
  if (mList == nullptr || list.mNumberBuffers > mStreamCapacity) Fail(-1);
  // Field by field rather than a library call: a render of a few frames sets
  // two lists like this.
  mList->mNumberBuffers = list.mNumberBuffers;
  for (UInt32 i = 0; i < list.mNumberBuffers; ++i) mList->mBuffers[i] = list.mBuffers[i];
  mState = kPtrsToExternal;
  return *mList;
}

AudioBufferList& AUBufferList::GetBufferList() const {
  if (mState == kPtrsInvalid) Fail(-1);
  return *mList;
}

void AUBufferList::CopyBufferListTo(AudioBufferList& destination) const {
  if (mState == kPtrsInvalid) Fail(-1);
  // Never read entries this list does not hold, and never make the
  // destination claim more buffers than it has room for.
  const UInt32 n = destination.mNumberBuffers;
  if (n > mList->mNumberBuffers) Fail(-1);
  std::memcpy(destination.mBuffers, mList->mBuffers, sizeof(AudioBuffer) * std::size_t{n});
}

void AUBufferList::CopyBufferContentsTo(AudioBufferList& destination) const {
  if (mState == kPtrsInvalid) Fail(-1);
  const UInt32 own = mList->mNumberBuffers;
  if (own == 0) return;
  for (UInt32 i = 0; i < destination.mNumberBuffers; ++i) {
    // Extra destination buffers get a copy of the last source buffer.
    const AudioBuffer& source = mList->mBuffers[std::min(i, own - 1)];
    AudioBuffer& dest = destination.mBuffers[i];
    UInt32 bytes = source.mDataByteSize;
    if (source.mData != dest.mData && source.mData != nullptr && dest.mData != nullptr) {
      // Never write beyond what the destination says it holds.
      bytes = std::min(bytes, dest.mDataByteSize);
      MoveBytes(dest.mData, source.mData, bytes);
    }
    dest.mDataByteSize = bytes;
  }
}

void AUBufferList::KeepInOwnBlock(const AudioStreamBasicDescription& format, UInt32 frames) noexcept {
  if (mState == kPtrsInvalid || mBlock == nullptr || frames > mFrameCapacity) return;
  const Shape shape = ShapeOf(format);
  const UInt64 stride = StreamStride(mFrameCapacity, format.mBytesPerFrame);
  if (UInt64{shape.buffers} * stride > mByteCapacity) return;
  const UInt64 bytes = UInt64{frames} * format.mBytesPerFrame;
  for (UInt32 i = 0; i < shape.buffers && i < mList->mNumberBuffers; ++i) {
    const AudioBuffer& source = mList->mBuffers[i];
    Byte* const own = mBlock + i * stride;
    if (source.mData == nullptr || source.mData == own) continue;
    MoveBytes(own, source.mData, static_cast<std::size_t>(std::min<UInt64>(bytes, source.mDataByteSize)));
  }
}

void AUBufferList::UseExternalBuffer(const AudioStreamBasicDescription& format,
                                     const AudioUnitExternalBuffer& external) {
  if (mBlock == nullptr) return;
  const UInt32 alignedSize = external.size & ~UInt32{15};
  if (alignedSize < mByteCapacity) return;
  const Shape shape = ShapeOf(format);
  if (shape.buffers == 0 || format.mBytesPerFrame == 0) return;  // no frame count follows from the size
  // Frames such that every stream, rounded up to 16 bytes, still fits.
  const UInt32 perStream = (alignedSize / shape.buffers) & ~UInt32{15};
  const UInt32 frames = perStream / format.mBytesPerFrame;

  if (!mBlockIsExternal) std::free(mBlock);
  mBlock = external.buffer;
  mBlockIsExternal = true;
  mByteCapacity = alignedSize;
  mFrameCapacity = frames;
  // Prepared pointers pointed into the old block.
  mState = kPtrsInvalid;
}
