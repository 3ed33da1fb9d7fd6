// Drives an effect unit buffer by buffer from planar float memory: the unit
// pulls its input through an input callback that copies from the caller's
// channels, and renders into the caller's output channels.
//
// The loop configures the unit (stream formats on input and output, maximum
// frames per slice, the input callback) but leaves initializing to the
// caller. It must go before the unit it drives; it then unhooks itself.
#pragma once

#include <AudioUnit/AudioUnit.h>

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

  // One render of frames (at most MaxFrames) from input[c] into output[c],
  // for every channel c. Input and output may be the same memory. Throws
  // HostError with the unit's status.
  void Render(const Float32* const* input, Float32* const* output, UInt32 frames);

  // From now on each Render is split so that every call to the unit starts
  // at, and never runs past, a frame hop - 1, 2 hop - 1, ... after Rewind.
  // A unit that decides once per hop (the gate's tracker completes an
  // analysis on those frames, counted from its reset) then gives the same
  // output for any block size. 0 renders whole blocks.
  void SplitAtHops(UInt32 hop) noexcept { mHop = hop; }

  void Rewind() noexcept { mSampleTime = 0.0; }

 private:
  void RenderCall(const Float32* const* input, Float32* const* output, UInt32 frames);
  static OSStatus SupplyInput(void* refCon, AudioUnitRenderActionFlags* flags,
                              const AudioTimeStamp* timeStamp, UInt32 bus, UInt32 frames,
                              AudioBufferList* ioData) noexcept;

  AudioUnitHandle& mUnit;
  UInt32 mChannels;
  UInt32 mMaxFrames;
  UInt32 mHop = 0;
  Float64 mSampleTime = 0.0;
  // The channels' pointers at the start of a split call.
  std::vector<const Float32*> mInputAt;
  std::vector<Float32*> mOutputAt;
  // What the callback reads from during the current render.
  const Float32* const* mInput = nullptr;
  UInt32 mInputFrames = 0;
  // For a unit that asks for input without memory of its own.
  std::vector<Float32> mScratch;
  // The output buffer list: a header and one AudioBuffer per channel.
  std::unique_ptr<std::byte[]> mOutputListMemory;
  AudioBufferList* mOutputList = nullptr;
};

}  // namespace varsile::host
