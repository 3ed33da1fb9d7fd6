// I/O elements: default formats, when they allocate, and how an input pulls
// from a host callback or an upstream unit.
#include <vector>

#include "FrameTestSupport.h"

using namespace frametest;

namespace {

class AUIOElementTest : public OpenedAU {
 protected:
  AUInputElement& Input() { return *au->GetInput(0); }
  AUOutputElement& Output() { return *au->GetOutput(0); }
};

// A host callback that fills every buffer with its bus number plus a frame ramp.
struct CallbackSource {
  int calls = 0;
  AUInputElement* disconnectDuringCall = nullptr;
  static OSStatus Proc(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32 bus,
                       UInt32 frames, AudioBufferList* list) {
    auto* self = static_cast<CallbackSource*>(refCon);
    ++self->calls;
    for (UInt32 b = 0; b < list->mNumberBuffers; ++b) {
      auto* samples = static_cast<float*>(list->mBuffers[b].mData);
      for (UInt32 i = 0; i < frames; ++i) samples[i] = static_cast<float>(bus * 1000 + b * 100 + i);
    }
    if (self->disconnectDuringCall != nullptr) self->disconnectDuringCall->SetInputCallback(nullptr, nullptr);
    return noErr;
  }
};

// An upstream unit registered with the platform, with or without a fast render entry.
struct Upstream {
  bool offersFastRender = true;
  int fastCalls = 0;
  int dispatchedCalls = 0;
  UInt32 lastBus = 99;
  std::vector<float> memory = std::vector<float>(4096, 0.25f);

  OSStatus Fill(UInt32 bus, UInt32 frames, AudioBufferList* list) {
    lastBus = bus;
    for (UInt32 b = 0; b < list->mNumberBuffers; ++b) {
      list->mBuffers[b].mData = memory.data() + b * 1024;
      list->mBuffers[b].mDataByteSize = frames * 4;
    }
    return noErr;
  }
  static OSStatus FastRender(void* storage, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32 bus,
                             UInt32 frames, AudioBufferList* list) {
    auto* self = static_cast<Upstream*>(storage);
    ++self->fastCalls;
    return self->Fill(bus, frames, list);
  }
  static OSStatus Entry(ComponentParameters* p, void* storage) {
    auto* self = static_cast<Upstream*>(storage);
    switch (p->what) {
      case kComponentOpenSelect:
      case kComponentCloseSelect:
        return noErr;
      case kAudioUnitGetPropertySelect:
        if (self->offersFastRender && p->params[1] == kAudioUnitProperty_FastDispatch &&
            p->params[3] == kAudioUnitRenderSelect) {
          *reinterpret_cast<AudioUnitRenderProc*>(p->params[4]) = FastRender;
          *reinterpret_cast<UInt32*>(p->params[5]) = sizeof(AudioUnitRenderProc);
          return noErr;
        }
        return kAudioUnitErr_InvalidProperty;
      case kAudioUnitRenderSelect:
        ++self->dispatchedCalls;
        return self->Fill(static_cast<UInt32>(p->params[3]), static_cast<UInt32>(p->params[4]),
                          reinterpret_cast<AudioBufferList*>(p->params[5]));
      default:
        return badComponentSelector;
    }
  }
  static AudioComponent Component() {
    static const AudioComponentDescription description{kAudioUnitType_Effect, 0x75707331 /* 'ups1' */,
                                                       0x56727354 /* 'VrsT' */, 0, 0};
    static AudioComponent component = AudioComponentRegister(&description, CFSTR("upstream"), 1, Entry);
    return component;
  }
};

AudioTimeStamp Stamp(Float64 sampleTime) {
  AudioTimeStamp t{};
  t.mSampleTime = sampleTime;
  t.mFlags = kAudioTimeStampSampleTimeValid;
  return t;
}

}  // namespace

TEST_F(AUIOElementTest, ElementsStartAsNonInterleavedStereoFloat) {
  const CAStreamBasicDescription& f = Output().GetStreamFormat();
  EXPECT_EQ(f.mSampleRate, 44100.0);
  EXPECT_EQ(f.mFormatID, kAudioFormatLinearPCM);
  EXPECT_EQ(f.mFormatFlags, 41u);
  EXPECT_EQ(f.mBytesPerPacket, 4u);
  EXPECT_EQ(f.mBytesPerFrame, 4u);
  EXPECT_EQ(f.mFramesPerPacket, 1u);
  EXPECT_EQ(f.mChannelsPerFrame, 2u);
  EXPECT_EQ(f.mBitsPerChannel, 32u);
  EXPECT_EQ(f.mReserved, 0u);
  EXPECT_TRUE(Output().WillAllocateBuffer());
}

TEST_F(AUIOElementTest, VersionOneComponentsStartInterleaved) {
  struct VersionOne : TestAU {
    VersionOne() { mAudioUnitAPIVersion = 1; }
  };
  auto old = Open<VersionOne>();
  const CAStreamBasicDescription& f = old->GetOutput(0)->GetStreamFormat();
  EXPECT_EQ(f.mFormatFlags, 9u);
  EXPECT_EQ(f.mBytesPerFrame, 8u);
  EXPECT_EQ(f.mBytesPerPacket, 8u);
  Close(old);
}

TEST_F(AUIOElementTest, NothingIsAllocatedBeforeInitializeBegins) {
  Output().AllocateBuffer(0);
  Output().AllocateBuffer(64);
  EXPECT_EQ(Output().GetBuffers().GetByteCapacity(), 0u);
  ASSERT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(Output().GetBuffers().GetFrameCapacity(), 1156u);
  Output().AllocateBuffer(2000);
  EXPECT_EQ(Output().GetBuffers().GetFrameCapacity(), 2000u);
}

TEST_F(AUIOElementTest, AFormatChangeReallocatesOnceInitializing) {
  ASSERT_EQ(au->DoInitialize(), noErr);
  auto format = Output().GetStreamFormat();
  format.mChannelsPerFrame = 6;
  EXPECT_EQ(Output().SetStreamFormat(format), noErr);
  EXPECT_EQ(Output().GetBuffers().GetStreamCapacity(), 6u);
  EXPECT_EQ(Output().PrepareBuffer(1156).mNumberBuffers, 6u);
}

TEST_F(AUIOElementTest, AnElementThatDoesNotAllocateHasNoOwnBuffer) {
  Output().SetWillAllocateBuffer(false);
  ASSERT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(Output().GetBuffers().GetFrameCapacity(), 0u);
  EXPECT_EQ(Thrown([&] { Output().PrepareBuffer(16); }), kAudioUnitErr_InvalidPropertyValue);
}

TEST_F(AUIOElementTest, IOElementsHaveNoChannelLayouts) {
  bool writable = true;
  EXPECT_EQ(Output().GetChannelLayoutTags(nullptr), 0u);
  EXPECT_EQ(Output().GetAudioChannelLayout(nullptr, writable), 0u);
  EXPECT_TRUE(writable);
  AudioChannelLayout layout{};
  EXPECT_EQ(Output().SetAudioChannelLayout(layout), kAudioUnitErr_InvalidProperty);
  EXPECT_EQ(Output().RemoveAudioChannelLayout(), kAudioUnitErr_InvalidPropertyValue);
}

TEST_F(AUIOElementTest, PullingWithNoSourceTouchesNoBuffer) {
  ASSERT_EQ(au->DoInitialize(), noErr);
  EXPECT_FALSE(Input().IsActive());
  EXPECT_FALSE(Input().NeedsBufferSpace());
  AudioUnitRenderActionFlags flags = 0;
  EXPECT_EQ(Input().PullInput(flags, Stamp(0), 0, 64), kAudioUnitErr_NoConnection);
  EXPECT_EQ(Input().GetBuffers().GetState(), AUBufferList::kPtrsInvalid);
  // Not even a request beyond every capacity gets as far as the buffers.
  EXPECT_EQ(Input().PullInput(flags, Stamp(0), 0, 1u << 31), kAudioUnitErr_NoConnection);
}

TEST_F(AUIOElementTest, ACallbackRendersIntoTheElementsOwnMemory) {
  CallbackSource source;
  Input().SetInputCallback(CallbackSource::Proc, &source);
  EXPECT_TRUE(Input().IsCallback());
  EXPECT_TRUE(Input().NeedsBufferSpace());
  EXPECT_EQ(Input().GetBuffers().GetByteCapacity(), 0u);  // not initializing yet
  ASSERT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(Input().GetBuffers().GetFrameCapacity(), 1156u);

  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(Input().PullInput(flags, Stamp(0), 0, 64), noErr);
  EXPECT_EQ(source.calls, 1);
  AudioBufferList& list = Input().GetBufferList();
  ASSERT_EQ(list.mNumberBuffers, 2u);
  EXPECT_EQ(static_cast<const Byte*>(list.mBuffers[0].mData), Input().GetBuffers().GetBlock());
  EXPECT_EQ(static_cast<float*>(list.mBuffers[1].mData)[63], 163.0f);
  EXPECT_EQ(Thrown([&] { Input().PullInput(flags, Stamp(64), 0, 1157); }),
            kAudioUnitErr_TooManyFramesToProcess);
}

TEST_F(AUIOElementTest, RemovingTheCallbackFreesTheMemory) {
  CallbackSource source;
  Input().SetInputCallback(CallbackSource::Proc, &source);
  ASSERT_EQ(au->DoInitialize(), noErr);
  ASSERT_NE(Input().GetBuffers().GetBlock(), nullptr);
  Input().SetInputCallback(nullptr, nullptr);
  EXPECT_FALSE(Input().IsActive());
  EXPECT_EQ(Input().GetBuffers().GetBlock(), nullptr);
}

TEST_F(AUIOElementTest, ASourceThatGoesAwayDuringThePullReportsNoConnection) {
  CallbackSource source;
  source.disconnectDuringCall = &Input();
  Input().SetInputCallback(CallbackSource::Proc, &source);
  ASSERT_EQ(au->DoInitialize(), noErr);
  AudioUnitRenderActionFlags flags = 0;
  EXPECT_EQ(Input().PullInput(flags, Stamp(0), 0, 32), kAudioUnitErr_NoConnection);
  EXPECT_EQ(source.calls, 1);
}

TEST_F(AUIOElementTest, ACallbackWithoutOwnMemoryGetsNullPointers) {
  struct Supplier {
    float memory[2][64];
    static OSStatus Proc(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                         AudioBufferList* list) {
      auto* self = static_cast<Supplier*>(refCon);
      for (UInt32 b = 0; b < list->mNumberBuffers; ++b) {
        if (list->mBuffers[b].mData != nullptr) return -1;
        list->mBuffers[b].mData = self->memory[b];
      }
      return noErr;
    }
  } supplier{};
  Input().SetWillAllocateBuffer(false);
  Input().SetInputCallback(Supplier::Proc, &supplier);
  ASSERT_EQ(au->DoInitialize(), noErr);
  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(Input().PullInput(flags, Stamp(0), 0, 64), noErr);
  EXPECT_EQ(Input().GetBufferList().mBuffers[1].mData, supplier.memory[1]);
}

TEST_F(AUIOElementTest, AConnectionPullsThroughTheUpstreamsFastEntry) {
  Upstream upstream;
  HostHandle handle(Upstream::Component());
  ASSERT_NE(handle.get(), nullptr);
  SetComponentInstanceStorage(handle, &upstream);
  ASSERT_EQ(au->DoInitialize(), noErr);
  Input().SetConnection(AudioUnitConnection{handle, 3, 0});
  EXPECT_TRUE(Input().HasConnection());
  EXPECT_FALSE(Input().NeedsBufferSpace());
  EXPECT_EQ(Input().GetBuffers().GetByteCapacity(), 0u);  // the upstream supplies the memory

  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(Input().PullInput(flags, Stamp(0), 0, 256), noErr);
  EXPECT_EQ(upstream.fastCalls, 1);
  EXPECT_EQ(upstream.dispatchedCalls, 0);
  EXPECT_EQ(upstream.lastBus, 3u);
  AudioBufferList& list = Input().GetBufferList();
  EXPECT_EQ(list.mBuffers[1].mData, upstream.memory.data() + 1024);
  EXPECT_EQ(list.mBuffers[1].mDataByteSize, 1024u);

  Input().SetConnection(AudioUnitConnection{nullptr, 0, 0});
  EXPECT_FALSE(Input().IsActive());
  EXPECT_EQ(Input().PullInput(flags, Stamp(256), 0, 256), kAudioUnitErr_NoConnection);
}

TEST_F(AUIOElementTest, AConnectionWithoutAFastEntryRendersThroughThePlatform) {
  Upstream upstream;
  upstream.offersFastRender = false;
  HostHandle handle(Upstream::Component());
  ASSERT_NE(handle.get(), nullptr);
  SetComponentInstanceStorage(handle, &upstream);
  ASSERT_EQ(au->DoInitialize(), noErr);
  Input().SetConnection(AudioUnitConnection{handle, 1, 0});
  AudioUnitRenderActionFlags flags = 0;
  ASSERT_EQ(Input().PullInput(flags, Stamp(0), 0, 128), noErr);
  EXPECT_EQ(upstream.fastCalls, 0);
  EXPECT_EQ(upstream.dispatchedCalls, 1);
  EXPECT_EQ(upstream.lastBus, 1u);
  EXPECT_EQ(static_cast<float*>(Input().GetBufferList().mBuffers[0].mData)[127], 0.25f);
}
