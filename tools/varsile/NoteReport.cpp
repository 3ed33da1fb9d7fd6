#include "NoteReport.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <iterator>

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
  if (format == TimelineFormat::kText) {
    std::string text = "start (s)   end (s)  note  in scale  in (dB)  out (dB)\n";
    for (const NoteSegment& s : segments) {
      fmt::format_to(std::back_inserter(text), "{:9.3f} {:9.3f}  {:<4}  {:<8}  {:7.1f}  {:8.1f}\n", s.start,
                     s.end, ClassName(s.note, noteNames),
                     s.note == kNoClass ? "-"
                     : inScale(s.note)  ? "yes"
                                        : "no",
                     EnergyDb(s.energyIn, s.frames), EnergyDb(s.energyOut, s.frames));
    }
    return text;
  }
  const bool json = format == TimelineFormat::kJson;
  std::vector<std::vector<Field>> rows;
  for (const NoteSegment& s : segments) {
    const std::string name = ClassName(s.note, noteNames);
    const bool passes = s.note != kNoClass && inScale(s.note);
    const char* scaleWord = json ? (passes ? "true" : "false") : (passes ? "yes" : "no");
    rows.push_back({Field::Number(s.start, 6), Field::Number(s.end, 6),
                    json && name == "-" ? Field::None() : Field::Text(name),
                    s.note == kNoClass ? Field::None() : Field::Number(s.note, 0),
                    s.note == kNoClass ? Field::None() : Field{scaleWord},
                    Field::Number(EnergyDb(s.energyIn, s.frames), 2),
                    Field::Number(EnergyDb(s.energyOut, s.frames), 2)});
  }
  return json ? RecordsJson(
                    {"start", "end", "note", "pitch_class", "in_scale", "level_in_db", "level_out_db"}, rows)
              : RecordsCsv(
                    {"start_s", "end_s", "note", "pitch_class", "in_scale", "level_in_db", "level_out_db"},
                    rows);
}

}  // namespace varsile::cli
