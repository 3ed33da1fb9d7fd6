// One instance of the gate for the Python module, opened through the host
// calls like the command-line program's, and fed from planar float memory.
//
// The gate picks its target volume once per render call, from the pitch it
// heard over the whole call, so where the calls begin and end changes the
// sound. To give the same samples however the caller cuts the stream, the
// streaming path renders fixed blocks counted from the start of the stream
// and hands the samples out Latency() frames late; RenderWhole renders one
// array from the start in the same blocks without delay, as
// `varsile process --block N` does. A unit with a latency of its own (the
// lookahead variant) adds it to the stream's, and RenderWhole undoes it as
// the program does: it drops that much output and feeds as much silence.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "GateSession.h"

namespace varsile::python {

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
  UInt32 Latency() const noexcept { return mBlock - 1 + mUnitLatency; }

  const host::ParameterCatalogue& Catalogue() const noexcept { return mSession.Catalogue(); }
  void Apply(const cli::GateOptions& options) { mSession.Apply(options); }
  // A parameter by its name stem ("attack time", "minor third") or full name, or null.
  const host::ParameterDescription* FindParameter(const std::string& name) const noexcept;
  // Sets one, checked against its range. Throws cli::UsageError.
  void SetParameter(const std::string& name, double value);
  Float32 Parameter(AudioUnitParameterID id) const { return mSession.Unit().GetParameter(id); }
  cli::MeterReading ReadMeters(double timeSeconds = 0.0) { return mSession.ReadMeters(timeSeconds); }
  void SavePreset(const std::string& path) { mSession.SavePreset(path); }

  // Streams frames from input[c] into output[c], Latency() frames late.
  void Stream(const Float32* const* input, Float32* const* output, std::size_t frames);
  // The frames still held back (Latency() of them), rendering the partial
  // last block and the unit's latency in silence; the stream then starts
  // again, as after Reset.
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
  void RenderBlock(const Float32* const* input, Float32* const* output, UInt32 frames) {
    mSession.Render(input, output, frames);
  }
  // Channel c of the stream's buffers.
  Float32* Pending(UInt32 c) noexcept { return &mPending[c * std::size_t{mBlock}]; }
  Float32* Ready(UInt32 c) noexcept { return &mReady[c * 2 * std::size_t{mBlock}]; }
  // Renders frames of silence in blocks into output[c].
  void RenderSilence(Float32* const* output, std::size_t frames);
  void RestartStream();

  double mSampleRate;
  UInt32 mChannels;
  UInt32 mBlock;
  UInt32 mUnitLatency = 0;  // frames
  cli::GateSession mSession;

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
  // Output lags input by the unit's latency, so each block's output lands
  // where input has already been read, even when both are the same memory.
  std::vector<const Float32*> in(mChannels);
  std::vector<Float32*> rendered(mChannels);
  const std::size_t total = frames + mUnitLatency;
  for (std::size_t done = 0; done < total;) {
    const bool silent = done >= frames;
    const auto count = static_cast<UInt32>(std::min<std::size_t>(mBlock, (silent ? total : frames) - done));
    const bool direct = mUnitLatency == 0;
    for (UInt32 c = 0; c < mChannels; ++c) {
      in[c] = silent ? Pending(c) : input[c] + done;
      rendered[c] = direct ? output[c] + done : Ready(c);
    }
    if (silent) std::fill(mPending.begin(), mPending.end(), 0.0f);
    RenderBlock(in.data(), rendered.data(), count);
    done += count;
    if (!direct && done > mUnitLatency) {
      const std::size_t kept = std::min<std::size_t>(count, done - mUnitLatency);
      for (UInt32 c = 0; c < mChannels; ++c) {
        std::copy(rendered[c] + (count - kept), rendered[c] + count,
                  output[c] + (done - mUnitLatency - kept));
      }
    }
    afterBlock(std::min(done, frames));
  }
}

}  // namespace varsile::python
