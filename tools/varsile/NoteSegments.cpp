#include "NoteSegments.h"

#include <fmt/format.h>

#include <algorithm>
#include <iterator>

#include "Records.h"

namespace varsile::cli {

namespace {

// Below about -70 dBFS the tracker has nothing to hear.
constexpr float kSilentPeak = 3.2e-4f;

void Join(NoteSegment& into, const NoteSegment& other) {
  const int readings = into.readings + other.readings;
  if (readings > 0) {
    into.meanAccuracy = (into.meanAccuracy * into.readings + other.meanAccuracy * other.readings) / readings;
  }
  into.readings = readings;
  into.energyIn += other.energyIn;
  into.energyOut += other.energyOut;
  into.frames += other.frames;
  into.start = std::min(into.start, other.start);
  into.end = std::max(into.end, other.end);
}

}  // namespace

int HeardClass(const MeterReading& reading) noexcept {
  // Readings without levels (frames 0) are taken at their word.
  if (reading.currentNote < 0 || reading.currentNote > 11 ||
      (reading.frames > 0 && reading.inputPeak < kSilentPeak))
    return kNoClass;
  return reading.currentNote;
}

std::string ClassName(int pitchClass, const std::vector<std::string>& noteNames) {
  if (pitchClass < 0 || static_cast<std::size_t>(pitchClass) >= noteNames.size() || pitchClass > 11)
    return "-";
  return noteNames[static_cast<std::size_t>(pitchClass)];
}

void NoteSegments::Add(const MeterReading& reading) {
  const int pitchClass = HeardClass(reading);
  if (mSegments.empty() || mSegments.back().note != pitchClass) {
    mSegments.push_back(NoteSegment{mLastTime, mLastTime, mChannel, pitchClass});
  }
  NoteSegment& segment = mSegments.back();
  segment.energyIn += reading.energyIn;
  segment.energyOut += reading.energyOut;
  segment.frames += reading.frames;
  segment.end = reading.timeSeconds;
  // A running mean, so long segments lose no precision to a large sum.
  ++segment.readings;
  segment.meanAccuracy += (reading.accuracy - segment.meanAccuracy) / segment.readings;
  mLastTime = reading.timeSeconds;
}

std::vector<NoteSegment> MergeShortSegments(const std::vector<NoteSegment>& segments, double minSeconds) {
  std::vector<NoteSegment> merged;
  const auto isShort = [&](const NoteSegment& segment) { return segment.end - segment.start < minSeconds; };
  for (NoteSegment segment : segments) {
    if (!merged.empty() && merged.back().channel == segment.channel) {
      NoteSegment& last = merged.back();
      if (last.note == segment.note || isShort(segment)) {
        Join(last, segment);
        continue;
      }
      if (isShort(last)) {
        // A short start takes the class of what follows it.
        Join(segment, last);
        merged.pop_back();
        if (!merged.empty() && merged.back().channel == segment.channel &&
            merged.back().note == segment.note) {
          Join(merged.back(), segment);
          continue;
        }
      }
    }
    merged.push_back(segment);
  }
  return merged;
}

std::string FormatTimeline(const std::vector<NoteSegment>& segments,
                           const std::vector<std::string>& noteNames, TimelineFormat format) {
  const bool severalChannels =
      std::any_of(segments.begin(), segments.end(), [](const NoteSegment& s) { return s.channel != 1; });
  if (format == TimelineFormat::kText) {
    std::size_t width = 4;
    for (const NoteSegment& s : segments) width = std::max(width, ClassName(s.note, noteNames).size());
    std::string text = fmt::format("{}{:>9} {:>9}  {:<{}}  {:>12}\n", severalChannels ? "channel " : "",
                                   "start (s)", "end (s)", "note", width, "accuracy (%)");
    for (const NoteSegment& s : segments) {
      if (severalChannels) fmt::format_to(std::back_inserter(text), "{:7} ", s.channel);
      fmt::format_to(std::back_inserter(text), "{:9.3f} {:9.3f}  {:<{}}  {:12.1f}\n", s.start, s.end,
                     ClassName(s.note, noteNames), width, s.meanAccuracy);
    }
    return segments.empty() ? text + "(no audio)\n" : text;
  }
  // CSV's note column is one a spreadsheet reads: "-" for none.
  const bool csv = format == TimelineFormat::kCsv;
  std::vector<std::vector<Field>> rows;
  for (const NoteSegment& s : segments) {
    const bool none = s.note == kNoClass;
    rows.push_back({Field::Number(s.start, 6), Field::Number(s.end, 6), Field::Number(s.channel, 0),
                    none && !csv ? Field::None() : Field::Text(ClassName(s.note, noteNames)),
                    none ? Field::None() : Field::Number(s.note, 0), Field::Number(s.meanAccuracy, 2)});
  }
  return csv ? RecordsCsv({"start_s", "end_s", "channel", "note", "pitch_class", "accuracy"}, rows)
             : RecordsJson({"start", "end", "channel", "note", "pitch_class", "accuracy"}, rows);
}

}  // namespace varsile::cli
