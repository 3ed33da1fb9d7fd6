// One instance of the gate, opened through the host calls, with the
// parameter catalogue read from it, and the loop that runs an audio file
// through it block by block.
#pragma once

#include <functional>
#include <string>

#include "AudioFile.h"
#include "AudioUnitHandle.h"
#include "ComponentLocator.h"
#include "GateSettings.h"
#include "MeterLog.h"
#include "ParameterCatalogue.h"
#include "Progress.h"

namespace varsile::cli {

// Where to find the gate's lookahead variant, which comes with the gate.
host::ComponentSearch LookaheadSearch(const host::ComponentSearch& gate);

class GateSession {
 public:
  // Finds the component and opens an instance. Throws CliError.
  explicit GateSession(const host::ComponentSearch& search);

  host::AudioUnitHandle& Unit() noexcept { return mUnit; }
  const host::ParameterCatalogue& Catalogue() const noexcept { return mCatalogue; }

  // Loads a preset; the catalogue is read again, since names follow the key.
  void LoadPreset(const std::string& path);
  void SavePreset(const std::string& path);
  void Apply(const GateOptions& options);

  struct RunOptions {
    UInt32 blockSize = 512;
    AudioFileWriter* output = nullptr;                // none: the audio is not kept
    std::function<void(const MeterReading&)> meters;  // called after every block, if set
    Progress* progress = nullptr;
  };
  // Renders the whole input. A unit that reports a latency is run that much
  // further, and its first frames dropped, so the output lines up with the
  // input and has its length. Throws CliError (a channel count the
  // component refuses) or HostError.
  void Run(AudioFileReader& input, const RunOptions& options);

 private:
  struct MeterIDs {
    AudioUnitParameterID accuracy;
    AudioUnitParameterID currentNote;
    AudioUnitParameterID currentVolume;
  };
  MeterReading ReadMeters(const MeterIDs& meters, double timeSeconds) const;

  host::AudioUnitHandle mUnit;
  host::ParameterCatalogue mCatalogue;
};

}  // namespace varsile::cli
