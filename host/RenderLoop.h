// Drives an effect unit from planar float memory: the unit pulls its input
// through an input callback that copies from the caller's channels, and
// renders into the caller's output channels. The one render driver of the
// file processor, the Python module and the LV2 wrapper.
//
// The loop configures the unit (stream formats on input and output, maximum
// frames per slice, the input callback) but leaves initializing to the
// caller. It must go before the unit it drives; it then unhooks itself.
// Setting up throws HostError; TryRender allocates nothing, locks nothing and
// throws nothing, so it may run on a realtime thread; Render is its throwing
// form.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <VarsileRealtime.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "AudioUnitHandle.h"

namespace varsile::host {

// The gate's tracker completes an analysis every 256 frames from its reset,
// on frames 255, 511, ...: the grid to split renders on (SplitAtHops).
inline constexpr UInt32 kGateHopFrames = 256;

class RenderLoop {
 public:
  RenderLoop(AudioUnitHandle& unit, Float64 sampleRate, UInt32 channels, UInt32 maxFrames);
  RenderLoop(const RenderLoop&) = delete;
  RenderLoop& operator=(const RenderLoop&) = delete;
  ~RenderLoop();

  UInt32 Channels() const noexcept { return mChannels; }
  UInt32 MaxFrames() const noexcept { return mMaxFrames; }
  // Frames rendered since construction or Rewind: the next time stamp.
  Float64 SampleTime() const noexcept { return mSampleTime; }

  // Renders frames from input[c] into output[c], for every channel c, in
  // calls of at most MaxFrames. Input and output may be the same memory; a
  // null input is silence, a null output is not written. A call that fails
  // is written as silence and time goes on, as a host's clock does; the
  // answer is the first failure's status.
  OSStatus TryRender(const Float32* const* input, Float32* const* output,
                     UInt32 frames) noexcept VARSILE_NONBLOCKING;
  // At most MaxFrames; throws HostError with the unit's status.
  void Render(const Float32* const* input, Float32* const* output, UInt32 frames);

  // From now on each render is split so that every call to the unit starts
  // at, and never runs past, a frame hop - 1, 2 hop - 1, ... after the
  // unit's analysis last started over. A unit that decides once per hop
  // (the gate's tracker completes an analysis on those frames, counted from
  // its reset) then gives the same output for any block size. 0 splits only
  // at MaxFrames.
  void SplitAtHops(UInt32 hop) noexcept { mHop = hop; }
  // The unit's analysis starts over with the next frame (it was
  // initialized, or resumed from bypass).
  void RestartGrid() noexcept { mGridOrigin = mSampleTime; }
  // Time and grid start over at 0, for a unit that was reset: it renders
  // once per time stamp, so a time it still remembered would hand back the
  // old samples.
  void Rewind() noexcept { mSampleTime = mGridOrigin = 0.0; }

 private:
  OSStatus RenderCall(UInt32 frames) noexcept;
  static OSStatus SupplyInput(void* refCon, AudioUnitRenderActionFlags* flags,
                              const AudioTimeStamp* timeStamp, UInt32 bus, UInt32 frames,
                              AudioBufferList* ioData) noexcept;

  AudioUnitHandle& mUnit;
  UInt32 mChannels;
  UInt32 mMaxFrames;
  UInt32 mHop = 0;
  Float64 mSampleTime = 0.0;
  Float64 mGridOrigin = 0.0;
  // The channels' memory for the current call, which the callback reads.
  std::vector<const Float32*> mInputAt;
  std::vector<Float32*> mOutputAt;
  UInt32 mCallFrames = 0;
  // Input memory for a unit that asks without offering its own, and where
  // unconnected outputs go: the unit needs memory for every channel.
  std::vector<Float32> mScratch;
  std::vector<Float32> mDiscard;
  // The output buffer list: a header and one AudioBuffer per channel.
  std::unique_ptr<std::byte[]> mOutputListMemory;
  AudioBufferList* mOutputList = nullptr;
};

}  // namespace varsile::host
