// One instance of the gate, opened through the host calls, with the
// parameter catalogue read from it, and the loop that runs an audio file
// through it block by block.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>

#include "AudioFile.h"
#include "AudioUnitHandle.h"
#include "ComponentLocator.h"
#include "GateSettings.h"
#include "MeterLog.h"
#include "ParameterCatalogue.h"
#include "Progress.h"
#include "RenderLoop.h"

namespace varsile::cli {

// Where to find the gate's lookahead variant, which comes with the gate.
host::ComponentSearch LookaheadSearch(const host::ComponentSearch& gate);

class GateSession {
 public:
  // Finds the component and opens an instance. Throws CliError.
  explicit GateSession(const host::ComponentSearch& search);
  explicit GateSession(host::AudioUnitHandle unit);

  host::AudioUnitHandle& Unit() noexcept { return mUnit; }
  const host::AudioUnitHandle& Unit() const noexcept { return mUnit; }
  const host::ParameterCatalogue& Catalogue() const noexcept { return mCatalogue; }
  // After a change of key: the interval names follow it.
  void ReadCatalogue() { mCatalogue = host::ParameterCatalogue::Read(mUnit); }

  // Loads a preset, refusing one whose values are out of range.
  void LoadPreset(const std::string& path);
  void SavePreset(const std::string& path);
  void Apply(const GateOptions& options);
  // The unit's latency in frames at a sample rate (0 when it reports none).
  UInt32 LatencyFrames(Float64 sampleRate) const;

  struct RunOptions {
    UInt32 blockSize = 512;
    // Takes the rendered blocks in order; none: the audio is not kept.
    std::function<void(const Float32* const* channels, UInt32 frames)> write;
    std::function<void(const MeterReading&)> meters;  // called after every block, if set
    Progress* progress = nullptr;
  };
  // Renders the whole input. A unit that reports a latency is run that much
  // further, and its first frames dropped, so the output lines up with the
  // input and has its length. Throws CliError (a channel count the
  // component refuses) or HostError.
  void Run(AudioFileReader& input, const RunOptions& options);

  // The steps of a run, for runs that spread a file over several sessions:
  // formats for `channels` planar channels at the input's rate and `block`
  // frames per render, then initialization (throws as Run does); one render;
  // and the meters, which follow the session's first channel.
  void Prepare(const AudioFileReader& input, UInt32 channels, UInt32 block);
  // The same for planar memory; throws HostError.
  void Prepare(Float64 sampleRate, UInt32 channels, UInt32 block);
  void Render(const Float32* const* in, Float32* const* out, UInt32 frames) {
    mLoop->Render(in, out, frames);
  }
  // Back to the start of a stream, as if nothing had been rendered.
  void Rewind() {
    mUnit.Reset();
    mLoop->Rewind();
  }
  MeterReading ReadMeters(double timeSeconds);

 private:
  struct MeterIDs {
    AudioUnitParameterID accuracy;
    AudioUnitParameterID currentNote;
    AudioUnitParameterID currentVolume;
  };

  host::AudioUnitHandle mUnit;
  host::ParameterCatalogue mCatalogue;
  std::optional<MeterIDs> mMeterIDs;
  // After the unit, so that it is gone before the unit it drives.
  std::optional<host::RenderLoop> mLoop;
};

// Adds a block's levels to its meters: the peak and energy in, the energy
// out, of the channel the meters follow.
void AddLevels(MeterReading& reading, const Float32* in, const Float32* out, UInt32 frames) noexcept;

// Run for a unit without latency on several threads: one mono session
// per channel (sessions[c] renders channel c; none prepared yet), rendered
// by `workers` threads, while the calling thread reads ahead and another
// thread writes behind, through a few chunks of memory whatever the file's
// length. The output, the meters (from sessions[0]) and the progress are
// those of Run on one session for all channels. The first error of any
// thread stops them all and is thrown here.
void RunChannelsInParallel(AudioFileReader& input, std::span<GateSession* const> sessions, unsigned workers,
                           const GateSession::RunOptions& options);

}  // namespace varsile::cli
