// The meters after every block, as CSV: time_s,current_note,accuracy,current_volume.
#pragma once

#include <string>

#include "PendingFile.h"

namespace varsile::cli {

struct MeterReading {
  double timeSeconds = 0.0;  // the end of the block
  int currentNote = 0;       // 0-11, or 12: no note yet
  float accuracy = 0.0f;     // percent
  float currentVolume = 0.0f;
};

class MeterLog {
 public:
  // Writes the header; the file appears at path on Commit.
  explicit MeterLog(const std::string& path);
  void Add(const MeterReading& reading);
  void Commit();

  static std::string Row(const MeterReading& reading);

 private:
  void Flush();

  PendingFile mFile;
  std::string mBuffer;
};

}  // namespace varsile::cli
