#include "NoteReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Records.h"

namespace varsile::cli {

namespace {

// The mean square as dB, -120 for silence.
double EnergyDb(double energy, SInt64 frames) {
  if (frames <= 0 || !(energy > 0.0)) return -120.0;
  return std::max(-120.0, 10.0 * std::log10(energy / static_cast<double>(frames)));
}

}  // namespace

std::string FormatNoteReport(const std::vector<NoteSegment>& segments,
                             const std::vector<std::string>& noteNames,
                             const std::function<bool(int)>& inScale, TimelineFormat format) {
  std::string text;
  char line[256];
  const auto scaleWord = [&](int pitchClass) {
    return pitchClass == kNoClass ? "-" : inScale(pitchClass) ? "yes" : "no";
  };
  switch (format) {
    case TimelineFormat::kText:
      text += "start (s)   end (s)  note  in scale  in (dB)  out (dB)\n";
      for (const NoteSegment& s : segments) {
        std::snprintf(line, sizeof(line), "%9.3f %9.3f  %-4s  %-8s  %7.1f  %8.1f\n", s.start, s.end,
                      ClassName(s.note, noteNames).c_str(), scaleWord(s.note), EnergyDb(s.energyIn, s.frames),
                      EnergyDb(s.energyOut, s.frames));
        text += line;
      }
      break;
    case TimelineFormat::kCsv:
    case TimelineFormat::kJson: {
      std::vector<std::vector<Field>> rows;
      for (const NoteSegment& s : segments) {
        const bool none = s.note == kNoClass;
        const bool passes = !none && inScale(s.note);
        rows.push_back({Field::Number(s.start, 6), Field::Number(s.end, 6),
                        Field::Text(ClassName(s.note, noteNames)),
                        none ? Field::None() : Field::Number(s.note, 0),
                        none ? Field::None()
                             : Field{format == TimelineFormat::kJson ? (passes ? "true" : "false")
                                                                     : (passes ? "yes" : "no")},
                        Field::Number(EnergyDb(s.energyIn, s.frames), 2),
                        Field::Number(EnergyDb(s.energyOut, s.frames), 2)});
      }
      if (format == TimelineFormat::kCsv)
        return RecordsCsv(
            {"start_s", "end_s", "note", "pitch_class", "in_scale", "level_in_db", "level_out_db"}, rows);
      for (auto& row : rows) {
        if (row[2].text == "-") row[2] = Field::None();
      }
      return RecordsJson({"start", "end", "note", "pitch_class", "in_scale", "level_in_db", "level_out_db"},
                         rows);
    }
  }
  return text;
}

}  // namespace varsile::cli
