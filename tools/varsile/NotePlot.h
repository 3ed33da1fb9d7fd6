// A picture of a run, drawn with cairo as PNG or SVG (by the file's
// extension): time across; above, the input's envelope and the gain of
// channel 1; below, the twelve pitch classes as lanes, the key's scale
// shaded, and the notes heard in each channel as bars in their lanes.
#pragma once

#include <bitset>
#include <optional>
#include <string>
#include <vector>

#include "MeterLog.h"
#include "NoteSegments.h"

namespace varsile::cli {

struct PlotData {
  double seconds = 0.0;
  int channels = 1;
  std::vector<NoteSegment> segments;
  std::vector<std::string> noteNames;
  std::optional<std::bitset<12>> inScale;  // pitch classes that pass, when gating
  std::vector<MeterReading> firstChannel;  // its meters, block by block
};

// Where things are drawn, for the drawing and for those who check it.
struct PlotLayout {
  static constexpr int kWidth = 1200;
  static constexpr int kHeight = 640;
  static constexpr double kLeft = 50.0;
  static constexpr double kRight = 15.0;
  static constexpr double kTop = 15.0;
  static constexpr double kCurvesHeight = 140.0;
  static constexpr double kLanesTop = kTop + kCurvesHeight + 20.0;
  static constexpr double kBottom = 30.0;
  static constexpr double kLaneHeight = (kHeight - kLanesTop - kBottom) / 12.0;

  double seconds;
  double X(double time) const {
    return kLeft + (kWidth - kLeft - kRight) * (seconds > 0 ? time / seconds : 0.0);
  }
  // The top of a pitch class's lane: C at the bottom, B at the top.
  static double LaneTop(int pitchClass) { return kLanesTop + (11 - pitchClass) * kLaneHeight; }
};

// Writes the picture in place of path once complete. Throws CliError for
// an extension other than .png or .svg, or a file that cannot be written.
void WritePlot(const std::string& path, const PlotData& data);

// Throws UsageError unless path ends in .png or .svg.
void CheckPlotPath(const std::string& path);

}  // namespace varsile::cli
