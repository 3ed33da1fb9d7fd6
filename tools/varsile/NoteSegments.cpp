#include "NoteSegments.h"

#include <algorithm>
#include <cstdio>

namespace varsile::cli {

void NoteSegments::Add(const MeterReading& reading) {
  if (mSegments.empty() || mSegments.back().note != reading.currentNote) {
    mSegments.push_back(NoteSegment{mLastTime, mLastTime, reading.currentNote, 0.0, 0});
  }
  NoteSegment& segment = mSegments.back();
  segment.end = reading.timeSeconds;
  // A running mean, so long segments lose no precision to a large sum.
  ++segment.readings;
  segment.meanAccuracy += (reading.accuracy - segment.meanAccuracy) / segment.readings;
  mLastTime = reading.timeSeconds;
}

std::string NoteSegments::Table(const std::vector<std::string>& noteNames) const {
  const auto name = [&](int note) {
    return note >= 0 && static_cast<std::size_t>(note) < noteNames.size()
               ? noteNames[static_cast<std::size_t>(note)]
               : std::to_string(note);
  };
  std::size_t width = 4;
  for (const NoteSegment& segment : mSegments) width = std::max(width, name(segment.note).size());

  std::string table;
  char line[256];
  std::snprintf(line, sizeof(line), "%9s %9s  %-*s  %12s\n", "start (s)", "end (s)", static_cast<int>(width),
                "note", "accuracy (%)");
  table += line;
  for (const NoteSegment& segment : mSegments) {
    std::snprintf(line, sizeof(line), "%9.3f %9.3f  %-*s  %12.1f\n", segment.start, segment.end,
                  static_cast<int>(width), name(segment.note).c_str(), segment.meanAccuracy);
    table += line;
  }
  if (mSegments.empty()) table += "(no audio)\n";
  return table;
}

}  // namespace varsile::cli
