// What the pitch tracker hears in every channel of a file: one instance of
// the gate per channel, with every volume at 100 % so nothing is changed,
// and each channel's meters joined into a timeline.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AudioFile.h"
#include "ComponentLocator.h"
#include "GateSettings.h"
#include "NoteSegments.h"
#include "Progress.h"

namespace varsile::cli {

class GateSession;

struct NoteAnalysisOptions {
  GateOptions tracker;  // only the tracker's settings count
  UInt32 blockSize = 512;
  double minNoteSeconds = 0.05;
  std::function<void(const MeterReading&, int channel)> meters;  // every block of every channel
  Progress* progress = nullptr;
};

struct NoteAnalysis {
  std::vector<NoteSegment> segments;   // channel 1's, then channel 2's, ...
  std::vector<std::string> noteNames;  // the note meter's value strings
  SInt64 framesRead = 0;
};

class NoteAnalyzer {
 public:
  // Opens an instance for each of the input's channels. Throws CliError or
  // HostError.
  NoteAnalyzer(const host::ComponentSearch& search, const AudioFileReader& input,
               NoteAnalysisOptions options);
  ~NoteAnalyzer();
  NoteAnalyzer(const NoteAnalyzer&) = delete;
  NoteAnalyzer& operator=(const NoteAnalyzer&) = delete;

  // The note meter's value strings.
  const std::vector<std::string>& NoteNames() const noexcept { return mNoteNames; }
  // Reads the input to its end.
  NoteAnalysis Run(AudioFileReader& input);

 private:
  NoteAnalysisOptions mOptions;
  std::vector<std::unique_ptr<GateSession>> mSessions;
  std::vector<std::string> mNoteNames;
};

}  // namespace varsile::cli
