// One instance of the gate for the Python module, opened through the host
// calls like the command-line program's, and fed from planar float memory.
//
// The gate picks its target volume once per render call, from the pitch it
// heard over the whole call, so where the calls begin and end changes the
// sound. To give the same samples however the caller cuts the stream, the
// streaming path renders fixed blocks counted from the start of the stream
// and hands the samples out Latency() frames late; RenderWhole renders one
// array from the start in the same blocks without delay, as
// `varsile process --block N` does.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "AudioUnitHandle.h"
#include "GateSettings.h"
#include "ParameterCatalogue.h"
#include "RenderLoop.h"

namespace varsile::python {

struct Meters {
  std::optional<int> note;  // pitch class 0-11; none before the tracker hears one
  float accuracy = 0.0f;    // percent
  float volume = 0.0f;      // percent
};

class GateHost {
 public:
  // Opens an instance of the gate, or of its lookahead variant, gives it the
  // preset (if any) and then the options, and initializes it. Throws
  // cli::UsageError for bad options, cli::CliError and host::HostError.
  GateHost(double sampleRate, UInt32 channels, UInt32 block, const cli::GateOptions& options,
           const std::string& presetPath = {}, bool lookahead = false);

  double SampleRate() const noexcept { return mSampleRate; }
  UInt32 Channels() const noexcept { return mChannels; }
  UInt32 Block() const noexcept { return mBlock; }
  UInt32 Latency() const noexcept { return mBlock - 1; }

  const host::ParameterCatalogue& Catalogue() const noexcept { return mCatalogue; }
  void Apply(const cli::GateOptions& options);
  // Sets a parameter by its name stem ("attack time", "minor third"),
  // checked against its range. Throws cli::UsageError.
  void SetParameter(const std::string& name, double value);
  Float32 Parameter(AudioUnitParameterID id) const { return mUnit.GetParameter(id); }
  Meters ReadMeters() const;
  void SavePreset(const std::string& path);

  // Streams frames from input[c] into output[c], Latency() frames late.
  void Stream(const Float32* const* input, Float32* const* output, std::size_t frames);
  // The frames still held back (Latency() of them), rendering the partial
  // last block; the stream then starts again, as after Reset.
  void Flush(Float32* const* output);
  // Renders a whole array without delay, block by block, on a gate that has
  // rendered nothing yet; afterBlock gets the frames done after each block.
  template <typename AfterBlock>
  void RenderWhole(const Float32* const* input, Float32* const* output, std::size_t frames,
                   AfterBlock&& afterBlock);
  void Reset();

  // Guards against two threads using one gate at once, which the component
  // does not allow; the holder must release it.
  bool TryAcquire() noexcept { return !mBusy.exchange(true, std::memory_order_acquire); }
  void Release() noexcept { mBusy.store(false, std::memory_order_release); }

 private:
  void RenderBlock(const Float32* const* input, Float32* const* output, UInt32 frames);
  void RestartStream();

  double mSampleRate;
  UInt32 mChannels;
  UInt32 mBlock;
  host::AudioUnitHandle mUnit;
  host::ParameterCatalogue mCatalogue;
  std::optional<host::RenderLoop> mLoop;
  AudioUnitParameterID mAccuracyID = 0;
  AudioUnitParameterID mNoteID = 0;
  AudioUnitParameterID mVolumeID = 0;

  // The stream: input gathered until a block is full, and rendered frames
  // not yet handed out, channel after channel.
  std::vector<Float32> mPending;  // mChannels x mBlock
  UInt32 mPendingFrames = 0;
  std::vector<Float32> mReady;  // mChannels x 2 mBlock
  UInt32 mReadyStart = 0;
  UInt32 mReadyEnd = 0;
  std::atomic<bool> mBusy{false};
};

template <typename AfterBlock>
void GateHost::RenderWhole(const Float32* const* input, Float32* const* output, std::size_t frames,
                           AfterBlock&& afterBlock) {
  std::vector<const Float32*> in(input, input + mChannels);
  std::vector<Float32*> out(output, output + mChannels);
  for (std::size_t done = 0; done < frames;) {
    const auto count = static_cast<UInt32>(std::min<std::size_t>(mBlock, frames - done));
    RenderBlock(in.data(), out.data(), count);
    for (UInt32 c = 0; c < mChannels; ++c) {
      in[c] += count;
      out[c] += count;
    }
    done += count;
    afterBlock(done);
  }
}

}  // namespace varsile::python
