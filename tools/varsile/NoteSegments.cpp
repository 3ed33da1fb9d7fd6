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

void NoteSegments::MergeShorterThan(double seconds) {
  const auto shorter = [seconds](const NoteSegment& s) { return s.end - s.start < seconds; };
  // The note of `into` stays; the accuracy is the mean over both.
  const auto absorb = [](NoteSegment& into, const NoteSegment& from) {
    into.start = std::min(into.start, from.start);
    into.end = std::max(into.end, from.end);
    const int readings = into.readings + from.readings;
    if (readings > 0) {
      into.meanAccuracy = (into.meanAccuracy * into.readings + from.meanAccuracy * from.readings) / readings;
    }
    into.readings = readings;
  };
  std::vector<NoteSegment> kept;
  for (NoteSegment segment : mSegments) {
    if (!kept.empty() && (shorter(segment) || segment.note == kept.back().note)) {
      absorb(kept.back(), segment);
      continue;
    }
    // Only the first kept segment can be short: it has none before it.
    if (kept.size() == 1 && shorter(kept.back())) {
      absorb(segment, kept.back());
      kept.pop_back();
    }
    kept.push_back(segment);
  }
  mSegments = std::move(kept);
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
