// Buffer-list geometry, preparation, copies and external memory, including
// sizes chosen by a host to overflow 32-bit arithmetic.
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "AUBufferList.h"
#include "FrameTestSupport.h"

using namespace frametest;

namespace {

class AUBufferListTest : public CFLeakCheck {};

AudioStreamBasicDescription FloatFormat(UInt32 channels, bool interleaved) {
  AudioStreamBasicDescription f{};
  f.mSampleRate = 44100.0;
  f.mFormatID = kAudioFormatLinearPCM;
  f.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
  if (!interleaved) f.mFormatFlags |= kAudioFormatFlagIsNonInterleaved;
  f.mFramesPerPacket = 1;
  f.mChannelsPerFrame = channels;
  f.mBitsPerChannel = 32;
  f.mBytesPerFrame = f.mBytesPerPacket = interleaved ? 4 * channels : 4;
  return f;
}

std::uintptr_t Address(const void* p) {
  return reinterpret_cast<std::uintptr_t>(p);
}

}  // namespace

TEST_F(AUBufferListTest, StereoNonInterleavedGeometry) {
  AUBufferList buffers;
  const auto format = FloatFormat(2, false);
  buffers.Allocate(format, 1156);
  EXPECT_EQ(buffers.GetStreamCapacity(), 2u);
  EXPECT_EQ(buffers.GetFrameCapacity(), 1156u);
  EXPECT_EQ(buffers.GetByteCapacity(), 9248u);
  EXPECT_EQ(buffers.GetState(), AUBufferList::kPtrsInvalid);

  AudioBufferList& list = buffers.PrepareBuffer(format, 1156);
  EXPECT_EQ(buffers.GetState(), AUBufferList::kPtrsToOwnMemory);
  ASSERT_EQ(list.mNumberBuffers, 2u);
  for (UInt32 i = 0; i < 2; ++i) {
    EXPECT_EQ(list.mBuffers[i].mNumberChannels, 1u);
    EXPECT_EQ(list.mBuffers[i].mDataByteSize, 4624u);
    EXPECT_EQ(Address(list.mBuffers[i].mData) % 16, Address(buffers.GetBlock()) % 16);
  }
  EXPECT_EQ(Address(list.mBuffers[1].mData) - Address(list.mBuffers[0].mData), 4624u);
  EXPECT_EQ(&buffers.GetBufferList(), &list);
}

TEST_F(AUBufferListTest, StreamsStartOnSixteenByteStrides) {
  AUBufferList buffers;
  const auto format = FloatFormat(3, false);
  buffers.Allocate(format, 5);  // 20 bytes a stream, rounded up to 32
  EXPECT_EQ(buffers.GetByteCapacity(), 96u);
  AudioBufferList& list = buffers.PrepareBuffer(format, 3);
  for (UInt32 i = 0; i < 3; ++i) {
    EXPECT_EQ(Address(list.mBuffers[i].mData) - Address(buffers.GetBlock()), 32u * i);
    EXPECT_EQ(list.mBuffers[i].mDataByteSize, 12u);
  }
}

TEST_F(AUBufferListTest, InterleavedFormatsHaveOneBufferOfAllChannels) {
  AUBufferList buffers;
  const auto format = FloatFormat(2, true);
  buffers.Allocate(format, 1156);
  EXPECT_EQ(buffers.GetStreamCapacity(), 1u);
  EXPECT_EQ(buffers.GetByteCapacity(), 9248u);
  AudioBufferList& list = buffers.PrepareBuffer(format, 100);
  ASSERT_EQ(list.mNumberBuffers, 1u);
  EXPECT_EQ(list.mBuffers[0].mNumberChannels, 2u);
  EXPECT_EQ(list.mBuffers[0].mDataByteSize, 800u);
}

TEST_F(AUBufferListTest, NonPcmFormatsCountAsOneBuffer) {
  AUBufferList buffers;
  auto format = FloatFormat(4, false);
  format.mFormatID = 0x61616320;  // not linear PCM: the non-interleaved flag means nothing
  buffers.Allocate(format, 8);
  EXPECT_EQ(buffers.GetStreamCapacity(), 1u);
  EXPECT_EQ(buffers.PrepareBuffer(format, 8).mBuffers[0].mNumberChannels, 4u);
}

TEST_F(AUBufferListTest, PreparingBeyondCapacityIsRefused) {
  AUBufferList buffers;
  const auto format = FloatFormat(2, false);
  buffers.Allocate(format, 512);
  EXPECT_EQ(Thrown([&] { buffers.PrepareBuffer(format, 513); }), kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_EQ(buffers.GetState(), AUBufferList::kPtrsInvalid);
  EXPECT_EQ(Thrown([&] { buffers.PrepareBuffer(FloatFormat(3, false), 16); }),
            kAudioUnitErr_FormatNotSupported);
  // Wider frames than allocated for: the streams no longer fit the block.
  EXPECT_EQ(Thrown([&] { buffers.PrepareBuffer(FloatFormat(2, true), 16); }), noErr);  // 1 stream of 8 bytes
  auto wide = FloatFormat(2, false);
  wide.mBytesPerFrame = 8;
  EXPECT_EQ(Thrown([&] { buffers.PrepareBuffer(wide, 16); }), kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_NO_THROW(buffers.PrepareBuffer(format, 512));
}

TEST_F(AUBufferListTest, AnUnallocatedListRefusesEveryUse) {
  AUBufferList buffers;
  const auto format = FloatFormat(2, true);
  EXPECT_EQ(Thrown([&] { buffers.PrepareBuffer(format, 0); }), kAudioUnitErr_FormatNotSupported);
  EXPECT_EQ(Thrown([&] { buffers.PrepareNullBuffer(format, 0); }), kAudioUnitErr_FormatNotSupported);
  EXPECT_EQ(Thrown([&] { buffers.GetBufferList(); }), -1);
  HostList host(1, 0, false);
  EXPECT_EQ(Thrown([&] { buffers.SetBufferList(host.list()); }), -1);
  EXPECT_EQ(Thrown([&] { buffers.CopyBufferListTo(host.list()); }), -1);
  EXPECT_EQ(Thrown([&] { buffers.CopyBufferContentsTo(host.list()); }), -1);
}

TEST_F(AUBufferListTest, MemoryGrowsButNeverShrinksUntilDeallocated) {
  AUBufferList buffers;
  const auto format = FloatFormat(2, false);
  buffers.Allocate(format, 1024);
  const Byte* block = buffers.GetBlock();
  buffers.Allocate(format, 256);
  EXPECT_EQ(buffers.GetBlock(), block);
  EXPECT_EQ(buffers.GetByteCapacity(), 8192u);
  EXPECT_EQ(buffers.GetFrameCapacity(), 256u);
  EXPECT_EQ(Thrown([&] { buffers.PrepareBuffer(format, 257); }), kAudioUnitErr_TooManyFramesToProcess);
  buffers.Deallocate();
  EXPECT_EQ(buffers.GetBlock(), nullptr);
  EXPECT_EQ(buffers.GetByteCapacity(), 0u);
  EXPECT_EQ(buffers.GetStreamCapacity(), 0u);
  EXPECT_EQ(buffers.GetFrameCapacity(), 0u);
  EXPECT_EQ(Thrown([&] { buffers.GetBufferList(); }), -1);
}

TEST_F(AUBufferListTest, SizesThatOverflowThirtyTwoBitsAreRefusedBeforeAnyChange) {
  AUBufferList buffers;
  const auto stereo = FloatFormat(2, false);
  buffers.Allocate(stereo, 64);
  const Byte* block = buffers.GetBlock();
  const UInt32 huge = std::numeric_limits<UInt32>::max();
  // frames x bytes per frame, rounded up, beyond 32 bits.
  EXPECT_EQ(Thrown([&] { buffers.Allocate(stereo, huge); }), kAudioUnitErr_TooManyFramesToProcess);
  // Fits per stream, but not times the streams: 2^30 frames x 4 bytes x 2.
  EXPECT_EQ(Thrown([&] { buffers.Allocate(stereo, 1u << 30); }), kAudioUnitErr_TooManyFramesToProcess);
  // Many channels of a modest size: 65536 streams x 65536 bytes.
  EXPECT_EQ(Thrown([&] { buffers.Allocate(FloatFormat(65536, false), 16384); }),
            kAudioUnitErr_TooManyFramesToProcess);
  auto wide = FloatFormat(1, true);
  wide.mBytesPerFrame = 0x80000000u;
  EXPECT_EQ(Thrown([&] { buffers.Allocate(wide, 2); }), kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_EQ(buffers.GetBlock(), block);
  EXPECT_EQ(buffers.GetFrameCapacity(), 64u);
  EXPECT_EQ(buffers.GetStreamCapacity(), 2u);
  // A null list of an enormous byte size cannot be described either.
  EXPECT_EQ(Thrown([&] { buffers.PrepareNullBuffer(wide, 2); }), kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_NO_THROW(buffers.PrepareBuffer(stereo, 64));
}

TEST_F(AUBufferListTest, TheLargestSizeThatFitsIsAccepted) {
  AUBufferList buffers;
  // 2^28 frames of 16 bytes is 2^32 bytes: one byte more than the fields hold.
  auto format = FloatFormat(1, true);
  format.mBytesPerFrame = 16;
  EXPECT_EQ(Thrown([&] { buffers.Allocate(format, 0x10000000u); }), kAudioUnitErr_TooManyFramesToProcess);
  EXPECT_NO_THROW(buffers.Allocate(format, 1024));
  EXPECT_EQ(buffers.GetByteCapacity(), 16384u);
}

TEST_F(AUBufferListTest, NullBuffersHaveShapeButNoMemory) {
  AUBufferList buffers;
  const auto format = FloatFormat(2, false);
  buffers.Allocate(format, 0);  // a connection needs no sample memory
  EXPECT_EQ(buffers.GetByteCapacity(), 0u);
  AudioBufferList& list = buffers.PrepareNullBuffer(format, 300);
  EXPECT_EQ(buffers.GetState(), AUBufferList::kPtrsToExternal);
  ASSERT_EQ(list.mNumberBuffers, 2u);
  EXPECT_EQ(list.mBuffers[1].mData, nullptr);
  EXPECT_EQ(list.mBuffers[1].mDataByteSize, 1200u);
  EXPECT_EQ(Thrown([&] { buffers.PrepareNullBuffer(FloatFormat(3, false), 1); }),
            kAudioUnitErr_FormatNotSupported);
}

TEST_F(AUBufferListTest, SetBufferListCopiesTheCallersRecord) {
  AUBufferList buffers;
  buffers.Allocate(FloatFormat(2, false), 16);
  float left[16], right[16];
  HostList host(2, 0, false);
  host.list().mBuffers[0] = {1, 64, left};
  host.list().mBuffers[1] = {1, 64, right};
  AudioBufferList& list = buffers.SetBufferList(host.list());
  EXPECT_NE(&list, &host.list());
  EXPECT_EQ(list.mBuffers[1].mData, right);
  EXPECT_EQ(buffers.GetState(), AUBufferList::kPtrsToExternal);
  HostList three(3, 0, false);
  EXPECT_EQ(Thrown([&] { buffers.SetBufferList(three.list()); }), -1);
}

TEST_F(AUBufferListTest, CopyBufferListToHandsOutOwnPointers) {
  AUBufferList buffers;
  const auto format = FloatFormat(2, false);
  buffers.Allocate(format, 32);
  AudioBufferList& own = buffers.PrepareBuffer(format, 32);
  HostList host(2, 0, false);
  buffers.CopyBufferListTo(host.list());
  EXPECT_EQ(host.list().mNumberBuffers, 2u);
  EXPECT_EQ(host.list().mBuffers[0].mData, own.mBuffers[0].mData);
  EXPECT_EQ(host.list().mBuffers[1].mData, own.mBuffers[1].mData);
  EXPECT_EQ(host.list().mBuffers[1].mDataByteSize, 128u);
  // A destination with fewer buffers gets that many and keeps its count.
  HostList one(1, 0, false);
  buffers.CopyBufferListTo(one.list());
  EXPECT_EQ(one.list().mNumberBuffers, 1u);
  EXPECT_EQ(one.list().mBuffers[0].mData, own.mBuffers[0].mData);
  // One with more than this list holds would read beyond its record.
  HostList three(3, 0, false);
  EXPECT_EQ(Thrown([&] { buffers.CopyBufferListTo(three.list()); }), -1);
}

TEST_F(AUBufferListTest, CopyBufferContentsRepeatsTheLastSourceBuffer) {
  AUBufferList buffers;
  const auto mono = FloatFormat(1, false);
  buffers.Allocate(mono, 8);
  AudioBufferList& own = buffers.PrepareBuffer(mono, 8);
  auto* samples = static_cast<float*>(own.mBuffers[0].mData);
  for (int i = 0; i < 8; ++i) samples[i] = static_cast<float>(i) + 0.5f;

  float left[8] = {}, right[8] = {};
  HostList host(2, 0, false);
  host.list().mBuffers[0] = {1, 32, left};
  host.list().mBuffers[1] = {1, 32, right};
  buffers.CopyBufferContentsTo(host.list());
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(left[i], static_cast<float>(i) + 0.5f);
    EXPECT_EQ(right[i], static_cast<float>(i) + 0.5f);
  }
  EXPECT_EQ(host.list().mBuffers[1].mDataByteSize, 32u);
}

TEST_F(AUBufferListTest, CopyBufferContentsToFewerBuffersAndToItself) {
  AUBufferList buffers;
  const auto stereo = FloatFormat(2, false);
  buffers.Allocate(stereo, 4);
  AudioBufferList& own = buffers.PrepareBuffer(stereo, 4);
  std::memset(own.mBuffers[0].mData, 0x11, 16);
  std::memset(own.mBuffers[1].mData, 0x22, 16);
  unsigned char first[16] = {};
  HostList one(1, 0, false);
  one.list().mBuffers[0] = {1, 16, first};
  buffers.CopyBufferContentsTo(one.list());
  EXPECT_EQ(first[15], 0x11);

  // Same pointers: nothing moves, the size follows the source.
  HostList same(2, 0, false);
  buffers.CopyBufferListTo(same.list());
  same.list().mBuffers[0].mDataByteSize = 999;
  buffers.CopyBufferContentsTo(same.list());
  EXPECT_EQ(same.list().mBuffers[0].mDataByteSize, 16u);
  EXPECT_EQ(static_cast<unsigned char*>(own.mBuffers[1].mData)[0], 0x22);
}

TEST_F(AUBufferListTest, CopyBufferContentsNeverWritesBeyondTheDestination) {
  AUBufferList buffers;
  const auto mono = FloatFormat(1, false);
  buffers.Allocate(mono, 64);
  AudioBufferList& own = buffers.PrepareBuffer(mono, 64);
  std::memset(own.mBuffers[0].mData, 0x33, 256);
  std::vector<unsigned char> small(40, 0);
  HostList host(2, 0, false);
  host.list().mBuffers[0] = {1, 32, small.data()};
  host.list().mBuffers[1] = {1, 0, nullptr};  // no memory: nothing is copied into it
  buffers.CopyBufferContentsTo(host.list());
  EXPECT_EQ(small[31], 0x33);
  EXPECT_EQ(small[32], 0);
  EXPECT_EQ(host.list().mBuffers[0].mDataByteSize, 32u);
  EXPECT_EQ(host.list().mBuffers[1].mData, nullptr);
}

TEST_F(AUBufferListTest, ExternalBuffersSmallerThanTheBlockAreIgnored) {
  AUBufferList buffers;
  const auto stereo = FloatFormat(2, false);
  alignas(16) static Byte external[16384];
  buffers.UseExternalBuffer(stereo, {external, sizeof(external)});  // no block yet: ignored
  EXPECT_FALSE(buffers.BlockIsExternal());

  buffers.Allocate(stereo, 1156);
  buffers.UseExternalBuffer(stereo, {external, 9247});  // counts as 9232 < 9248
  EXPECT_FALSE(buffers.BlockIsExternal());
  EXPECT_NE(buffers.GetBlock(), external);
}

TEST_F(AUBufferListTest, AnExternalBufferIsAdoptedWithItsSizeRoundedDown) {
  AUBufferList buffers;
  const auto stereo = FloatFormat(2, false);
  alignas(16) static Byte external[1000];
  buffers.Allocate(stereo, 8);  // 64 bytes of own memory
  buffers.PrepareBuffer(stereo, 8);
  buffers.UseExternalBuffer(stereo, {external, 1000});
  EXPECT_TRUE(buffers.BlockIsExternal());
  EXPECT_EQ(buffers.GetBlock(), external);
  EXPECT_EQ(buffers.GetByteCapacity(), 992u);
  EXPECT_EQ(buffers.GetFrameCapacity(), 124u);
  // The pointers prepared into the freed block are gone.
  EXPECT_EQ(buffers.GetState(), AUBufferList::kPtrsInvalid);
  AudioBufferList& list = buffers.PrepareBuffer(stereo, 124);
  EXPECT_EQ(list.mBuffers[0].mData, external);
  EXPECT_EQ(Address(list.mBuffers[1].mData) - Address(external), 496u);
}

TEST_F(AUBufferListTest, ExternalFrameCapacityLeavesRoomForEveryRoundedStream) {
  AUBufferList buffers;
  const auto stereo = FloatFormat(2, false);
  alignas(16) static Byte external[1008];
  buffers.Allocate(stereo, 8);
  buffers.UseExternalBuffer(stereo, {external, 1008});
  // 1008 / 8 would be 126 frames, but two streams of 504 bytes round up to 1024.
  EXPECT_EQ(buffers.GetFrameCapacity(), 124u);
  EXPECT_NO_THROW(buffers.PrepareBuffer(stereo, buffers.GetFrameCapacity()));
}

TEST_F(AUBufferListTest, AnExternalBlockIsForgottenNotFreed) {
  AUBufferList buffers;
  const auto stereo = FloatFormat(2, false);
  alignas(16) static Byte external[256];
  buffers.Allocate(stereo, 8);
  buffers.UseExternalBuffer(stereo, {external, sizeof(external)});
  ASSERT_TRUE(buffers.BlockIsExternal());
  buffers.Allocate(stereo, 1024);  // too large for it: own memory again
  EXPECT_FALSE(buffers.BlockIsExternal());
  EXPECT_NE(buffers.GetBlock(), external);
  buffers.UseExternalBuffer(stereo, {external, sizeof(external)});  // smaller: ignored
  buffers.Deallocate();
  buffers.Allocate(stereo, 8);
  buffers.UseExternalBuffer(stereo, {external, sizeof(external)});
  buffers.Deallocate();  // ASan would see a free of static memory
  EXPECT_FALSE(buffers.BlockIsExternal());
}

TEST_F(AUBufferListTest, AZeroByteFormatCannotAdoptExternalMemory) {
  AUBufferList buffers;
  auto format = FloatFormat(2, false);
  buffers.Allocate(format, 8);
  format.mBytesPerFrame = 0;
  alignas(16) static Byte external[128];
  buffers.UseExternalBuffer(format, {external, sizeof(external)});
  EXPECT_FALSE(buffers.BlockIsExternal());
}
