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

  void Rewind() noexcept { mSampleTime = 0.0; }

 private:
  static OSStatus SupplyInput(void* refCon, AudioUnitRenderActionFlags* flags,
                              const AudioTimeStamp* timeStamp, UInt32 bus, UInt32 frames,
                              AudioBufferList* ioData) noexcept;

  AudioUnitHandle& mUnit;
  UInt32 mChannels;
  UInt32 mMaxFrames;
  Float64 mSampleTime = 0.0;
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
