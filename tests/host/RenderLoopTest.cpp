#include <Varsile/CoreTypes.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "HostTestSupport.h"
#include "RenderLoop.h"

namespace {

using varsile::CanonicalFormat;
using varsile::host::AudioUnitHandle;
using varsile::host::HostError;
using varsile::host::RenderLoop;

constexpr UInt32 kChannels = 2;
constexpr UInt32 kFrames = 8192;
constexpr UInt32 kBlock = 300;  // not a divisor of the analysis hop

std::vector<std::vector<Float32>> TestSignal() {
  std::vector<std::vector<Float32>> channels(kChannels, std::vector<Float32>(kFrames));
  for (UInt32 c = 0; c < kChannels; ++c) {
    for (UInt32 i = 0; i < kFrames; ++i) {
      const double t = i / 44100.0;
      channels[c][i] = static_cast<Float32>(0.3 * std::sin(2 * std::numbers::pi * (277.18 + 50 * c) * t) +
                                            0.1 * std::sin(2 * std::numbers::pi * 554.37 * t));
    }
  }
  return channels;
}

void Configure(AudioUnitHandle& unit) {
  unit.SetParameter(3, 0.0f);  // the minor second: C# is silenced
  unit.SetParameter(15, 0.01f);
}

// The reference: the same unit driven with nothing but the platform's calls.
struct DirectFeed {
  const std::vector<std::vector<Float32>>* signal;
  UInt32 position;
};

OSStatus Feed(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32 frames,
              AudioBufferList* data) {
  auto* feed = static_cast<DirectFeed*>(refCon);
  for (UInt32 c = 0; c < data->mNumberBuffers; ++c) {
    std::memcpy(data->mBuffers[c].mData, (*feed->signal)[c].data() + feed->position,
                frames * sizeof(Float32));
  }
  return noErr;
}

std::vector<std::vector<Float32>> RenderDirectly(const std::vector<std::vector<Float32>>& signal) {
  AudioUnitHandle unit = hosttest::OpenGate();
  Configure(unit);
  AudioUnit au = unit.Get();
  const AudioStreamBasicDescription format = CanonicalFormat(44100.0, kChannels);
  EXPECT_EQ(AudioUnitSetProperty(au, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &format, 40),
            noErr);
  EXPECT_EQ(AudioUnitSetProperty(au, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &format, 40),
            noErr);
  const UInt32 block = kBlock;
  EXPECT_EQ(AudioUnitSetProperty(au, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0,
                                 &block, 4),
            noErr);
  DirectFeed feed{&signal, 0};
  const AURenderCallbackStruct callback{Feed, &feed};
  EXPECT_EQ(
      AudioUnitSetProperty(au, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &callback, 16),
      noErr);
  EXPECT_EQ(AudioUnitInitialize(au), noErr);

  std::vector<std::vector<Float32>> out(kChannels, std::vector<Float32>(kFrames));
  std::vector<std::byte> listMemory(sizeof(AudioBufferList) + sizeof(AudioBuffer));
  auto* list = reinterpret_cast<AudioBufferList*>(listMemory.data());
  for (UInt32 done = 0; done < kFrames;) {
    const UInt32 frames = std::min(kBlock, kFrames - done);
    list->mNumberBuffers = kChannels;
    for (UInt32 c = 0; c < kChannels; ++c) list->mBuffers[c] = {1, frames * 4, out[c].data() + done};
    AudioTimeStamp time{};
    time.mSampleTime = done;
    time.mFlags = kAudioTimeStampSampleTimeValid;
    AudioUnitRenderActionFlags flags = 0;
    feed.position = done;
    EXPECT_EQ(AudioUnitRender(au, &flags, &time, 0, frames, list), noErr);
    done += frames;
  }
  AudioUnitUninitialize(au);
  return out;
}

TEST(RenderLoop, RendersWhatTheUnitRendersWhenDrivenDirectly) {
  const auto signal = TestSignal();
  const auto expected = RenderDirectly(signal);

  AudioUnitHandle unit = hosttest::OpenGate();
  Configure(unit);
  std::vector<std::vector<Float32>> out(kChannels, std::vector<Float32>(kFrames));
  {
    RenderLoop loop(unit, 44100.0, kChannels, kBlock);
    unit.Initialize();
    for (UInt32 done = 0; done < kFrames;) {
      const UInt32 frames = std::min(kBlock, kFrames - done);
      const Float32* in[kChannels] = {signal[0].data() + done, signal[1].data() + done};
      Float32* o[kChannels] = {out[0].data() + done, out[1].data() + done};
      loop.Render(in, o, frames);
      done += frames;
      EXPECT_EQ(loop.SampleTime(), done);
    }
  }
  for (UInt32 c = 0; c < kChannels; ++c) {
    EXPECT_EQ(std::memcmp(out[c].data(), expected[c].data(), kFrames * sizeof(Float32)), 0)
        << "channel " << c;
  }
  // The gate did something: C# was silenced after the release.
  EXPECT_LT(std::abs(out[0][kFrames - 1]), 1e-6f);
}

TEST(RenderLoop, SplitAtTheHopsTheOutputIsTheSameForAnyBlockSize) {
  const auto signal = TestSignal();
  const auto render = [&](const auto& nextBlock) {
    AudioUnitHandle unit = hosttest::OpenGate();
    Configure(unit);
    unit.SetParameter(3, 30.0f);  // a partial volume, reached by a 10 ms ramp
    std::vector<std::vector<Float32>> out(kChannels, std::vector<Float32>(kFrames));
    RenderLoop loop(unit, 44100.0, kChannels, 4096);
    loop.SplitAtHops(256);
    unit.Initialize();
    for (UInt32 done = 0; done < kFrames;) {
      const UInt32 frames = std::min(nextBlock(), kFrames - done);
      const Float32* in[kChannels] = {signal[0].data() + done, signal[1].data() + done};
      Float32* o[kChannels] = {out[0].data() + done, out[1].data() + done};
      loop.Render(in, o, frames);
      done += frames;
    }
    return out;
  };
  const auto expected = render([] { return 512u; });
  for (const UInt32 block : {1u, 7u, 64u, 256u, 4096u})
    EXPECT_EQ(render([=] { return block; }), expected) << block << " frames";
  std::mt19937 random(18);
  EXPECT_EQ(render([&] { return static_cast<UInt32>(1 + random() % 1500); }), expected) << "random blocks";
  EXPECT_NE(expected, signal) << "the gate moved";
}

TEST(RenderLoop, InputAndOutputMayShareMemory) {
  const auto signal = TestSignal();
  const auto expected = RenderDirectly(signal);
  AudioUnitHandle unit = hosttest::OpenGate();
  Configure(unit);
  auto buffers = signal;
  RenderLoop loop(unit, 44100.0, kChannels, kBlock);
  unit.Initialize();
  for (UInt32 done = 0; done < kFrames;) {
    const UInt32 frames = std::min(kBlock, kFrames - done);
    Float32* io[kChannels] = {buffers[0].data() + done, buffers[1].data() + done};
    loop.Render(io, io, frames);
    done += frames;
  }
  EXPECT_EQ(buffers, expected);
}

TEST(RenderLoop, ConfiguresTheUnitAndRefusesTooManyFrames) {
  AudioUnitHandle unit = hosttest::OpenGate();
  RenderLoop loop(unit, 22050.0, 1, 64);
  EXPECT_EQ(unit.GetProperty<UInt32>(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0),
            64u);
  const auto format = unit.GetProperty<AudioStreamBasicDescription>(kAudioUnitProperty_StreamFormat,
                                                                    kAudioUnitScope_Output, 0);
  EXPECT_EQ(format.mSampleRate, 22050.0);
  EXPECT_EQ(format.mChannelsPerFrame, 1u);
  unit.Initialize();
  std::vector<Float32> samples(65, 0.0f);
  const Float32* in[] = {samples.data()};
  Float32* out[] = {samples.data()};
  try {
    loop.Render(in, out, 65);
    FAIL() << "no throw";
  } catch (const HostError& error) {
    EXPECT_EQ(error.Status(), kAudioUnitErr_TooManyFramesToProcess);
  }
  EXPECT_NO_THROW(loop.Render(in, out, 64));
}

TEST(RenderLoop, AnUninitializedUnitFailsWithItsStatus) {
  AudioUnitHandle unit = hosttest::OpenGate();
  RenderLoop loop(unit, 44100.0, 1, 64);
  std::vector<Float32> samples(64, 0.0f);
  const Float32* in[] = {samples.data()};
  Float32* out[] = {samples.data()};
  try {
    loop.Render(in, out, 64);
    FAIL() << "no throw";
  } catch (const HostError& error) {
    EXPECT_EQ(error.Status(), kAudioUnitErr_Uninitialized);
    EXPECT_STREQ(error.what(), "rendering: kAudioUnitErr_Uninitialized (-10867)");
  }
}

TEST(RenderLoop, NoChannelsIsRefused) {
  AudioUnitHandle unit = hosttest::OpenGate();
  EXPECT_THROW(RenderLoop(unit, 44100.0, 0, 64), HostError);
}

}  // namespace
