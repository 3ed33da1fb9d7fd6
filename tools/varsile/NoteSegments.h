// The note timeline that analyze prints: consecutive meter readings with
// the same current note joined into one segment.
#pragma once

#include <string>
#include <vector>

#include "MeterLog.h"

namespace varsile::cli {

struct NoteSegment {
  double start = 0.0;  // seconds
  double end = 0.0;
  int note = 0;  // the current-note meter's value
  double meanAccuracy = 0.0;
  int readings = 0;
};

class NoteSegments {
 public:
  // Readings in time order; each covers the time since the one before.
  void Add(const MeterReading& reading);
  const std::vector<NoteSegment>& Segments() const noexcept { return mSegments; }
  // Joins every segment shorter than seconds to the one before it (the first
  // to the one after), then neighbours that name the same note.
  void MergeShorterThan(double seconds);
  // The printed table; notes named by the meter's value strings.
  std::string Table(const std::vector<std::string>& noteNames) const;

 private:
  std::vector<NoteSegment> mSegments;
  double mLastTime = 0.0;
};

}  // namespace varsile::cli
