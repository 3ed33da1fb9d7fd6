// Renders the component from the LV2 input ports into the LV2 output ports:
// the component pulls its input through a render callback that copies from
// the input ports, and writes into a buffer list that points at the output
// ports. Blocks longer than the component's maximum are rendered in pieces.
// Nothing in Render allocates, locks or throws.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace varsile::lv2 {

class PortRenderer {
 public:
  // Sets the stream formats, the maximum frames per slice and the render
  // callback of the (uninitialized) unit. Throws host::HostError.
  PortRenderer(AudioUnit unit, Float64 sampleRate, UInt32 channels, UInt32 maxFrames);
  // Unhooks the render callback.
  ~PortRenderer();
  PortRenderer(const PortRenderer&) = delete;
  PortRenderer& operator=(const PortRenderer&) = delete;

  UInt32 MaxFrames() const noexcept { return mMaxFrames; }

  // Ports are connected by channel; null means not connected (read as
  // silence, or not written).
  void ConnectInput(UInt32 channel, const Float32* data) noexcept { mInputs[channel] = data; }
  void ConnectOutput(UInt32 channel, Float32* data) noexcept { mOutputs[channel] = data; }

  // Renders frames from the inputs into the outputs. Input and output ports
  // may share memory. A failed piece is written as silence.
  void Render(UInt32 frames) noexcept;

  // Splits every render so that each call to the unit starts at, and never
  // runs past, a frame hop - 1, 2 hop - 1, ... after the unit's analysis
  // last started over (RestartGrid): where the gate's tracker decides. The
  // output is then the same for any block length. 0 splits only at MaxFrames.
  void SplitAtHops(UInt32 hop) noexcept { mHop = hop; }
  // The unit's analysis starts over with the next frame (it was initialized,
  // or resumed from bypass).
  void RestartGrid() noexcept { mGridOrigin = mSampleTime; }

 private:
  static OSStatus SupplyInput(void* refCon, AudioUnitRenderActionFlags* flags,
                              const AudioTimeStamp* timeStamp, UInt32 bus, UInt32 frames,
                              AudioBufferList* ioData) noexcept;
  bool RenderPiece(UInt32 offset, UInt32 frames) noexcept;

  AudioUnit mUnit;
  UInt32 mChannels;
  UInt32 mMaxFrames;
  // Never reset: the component renders once per time stamp, so a time it
  // has seen before would hand back the old samples.
  Float64 mSampleTime = 0.0;
  Float64 mGridOrigin = 0.0;
  UInt32 mHop = 0;
  std::vector<const Float32*> mInputs;
  std::vector<Float32*> mOutputs;
  // The piece being rendered, for the callback.
  UInt32 mPieceOffset = 0;
  UInt32 mPieceFrames = 0;
  // Where the output of a piece goes when a port is not connected, and
  // input memory for a unit that asks without offering its own.
  std::vector<Float32> mDiscard;
  std::vector<Float32> mScratch;
  std::unique_ptr<std::byte[]> mOutputListMemory;
  AudioBufferList* mOutputList = nullptr;
};

}  // namespace varsile::lv2
