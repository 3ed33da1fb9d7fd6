// The meters after every block, as CSV:
// time_s,current_note,accuracy,current_volume,note,channel. The note is
// the pitch class by name ("-" for none, as analyze shows it); channel is
// the one the meters follow (from 1).
#pragma once

#include <MacTypes.h>

#include <string>
#include <vector>

#include "PendingFile.h"

namespace varsile::cli {

struct MeterReading {
  double timeSeconds = 0.0;  // the end of the block
  int currentNote = 0;       // 0-11, or 12: no note yet
  float accuracy = 0.0f;     // percent
  float currentVolume = 0.0f;
  float inputPeak = 0.0f;  // of the block, in the channel the meters follow
  // Sums of squares of that channel's samples in and out, and the frames.
  double energyIn = 0.0;
  double energyOut = 0.0;
  UInt32 frames = 0;
};

class MeterLog {
 public:
  // Writes the header; the file appears at path on Commit.
  MeterLog(const std::string& path, std::vector<std::string> noteNames);
  void Add(const MeterReading& reading, int channel = 1);
  void Commit();

  static std::string Row(const MeterReading& reading, int channel, const std::vector<std::string>& noteNames);

 private:
  void Flush();

  PendingFile mFile;
  std::string mBuffer;
  std::vector<std::string> mNoteNames;
};

}  // namespace varsile::cli
