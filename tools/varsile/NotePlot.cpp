#include "NotePlot.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <memory>

#include "CliError.h"
#include "CommandLine.h"
#include "PendingFile.h"

namespace varsile::cli {

namespace {

struct Colour {
  double r, g, b;
};
// One per channel, repeating after eight.
constexpr std::array<Colour, 8> kChannelColours{{{0.12, 0.39, 0.80},
                                                 {0.85, 0.37, 0.01},
                                                 {0.20, 0.60, 0.20},
                                                 {0.60, 0.20, 0.60},
                                                 {0.55, 0.35, 0.20},
                                                 {0.85, 0.20, 0.40},
                                                 {0.30, 0.30, 0.30},
                                                 {0.10, 0.60, 0.60}}};

std::string Extension(const std::string& path) {
  return Lower(std::filesystem::path(path).extension().string());
}

cairo_status_t WriteToPending(void* closure, const unsigned char* data, unsigned int length) {
  try {
    static_cast<PendingFile*>(closure)->Write(data, length);
    return CAIRO_STATUS_SUCCESS;
  } catch (...) {
    return CAIRO_STATUS_WRITE_ERROR;
  }
}

void Draw(cairo_t* cr, const PlotData& data) {
  const PlotLayout layout{data.seconds};
  const double right = PlotLayout::kWidth - PlotLayout::kRight;
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 11);

  // The lanes, the scale's shaded, and their names.
  for (int pc = 0; pc < 12; ++pc) {
    const double top = PlotLayout::LaneTop(pc);
    const bool shaded = data.inScale && data.inScale->test(static_cast<std::size_t>(pc));
    if (shaded) {
      cairo_set_source_rgb(cr, 0.88, 0.95, 0.86);
    } else {
      cairo_set_source_rgb(cr, pc % 2 == 0 ? 0.97 : 0.94, pc % 2 == 0 ? 0.97 : 0.94,
                           pc % 2 == 0 ? 0.97 : 0.94);
    }
    cairo_rectangle(cr, PlotLayout::kLeft, top, right - PlotLayout::kLeft, PlotLayout::kLaneHeight);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    cairo_move_to(cr, 8, top + PlotLayout::kLaneHeight / 2 + 4);
    const std::string name = ClassName(pc, data.noteNames);
    cairo_show_text(cr, name.c_str());
  }

  // The notes: each channel in its own strip of the lane.
  const double strip = PlotLayout::kLaneHeight / std::max(1, data.channels);
  for (const NoteSegment& segment : data.segments) {
    if (segment.note == kNoClass) continue;
    const Colour& colour =
        kChannelColours[static_cast<std::size_t>(segment.channel - 1) % kChannelColours.size()];
    cairo_set_source_rgb(cr, colour.r, colour.g, colour.b);
    const double x = layout.X(segment.start);
    cairo_rectangle(cr, x, PlotLayout::LaneTop(segment.note) + (segment.channel - 1) * strip + 1,
                    std::max(1.0, layout.X(segment.end) - x), strip - 2);
    cairo_fill(cr);
  }

  // Above: the input's envelope (peak per block) and the gain, of channel 1.
  const double base = PlotLayout::kTop + PlotLayout::kCurvesHeight;
  cairo_set_source_rgb(cr, 0.96, 0.96, 0.96);
  cairo_rectangle(cr, PlotLayout::kLeft, PlotLayout::kTop, right - PlotLayout::kLeft,
                  PlotLayout::kCurvesHeight);
  cairo_fill(cr);
  if (!data.firstChannel.empty()) {
    cairo_move_to(cr, layout.X(0), base);
    double start = 0.0;
    for (const MeterReading& reading : data.firstChannel) {
      const double height = std::clamp(double{reading.inputPeak}, 0.0, 1.0) * PlotLayout::kCurvesHeight;
      cairo_line_to(cr, layout.X(start), base - height);
      cairo_line_to(cr, layout.X(reading.timeSeconds), base - height);
      start = reading.timeSeconds;
    }
    cairo_line_to(cr, layout.X(start), base);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, 0.70, 0.70, 0.70);
    cairo_fill(cr);

    start = 0.0;
    for (const MeterReading& reading : data.firstChannel) {
      const double height = std::clamp(reading.currentVolume / 100.0, 0.0, 1.0) * PlotLayout::kCurvesHeight;
      if (start == 0.0) cairo_move_to(cr, layout.X(0), base - height);
      cairo_line_to(cr, layout.X(reading.timeSeconds), base - height);
      start = reading.timeSeconds;
    }
    cairo_set_source_rgb(cr, 0.80, 0.10, 0.10);
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
  }
  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  cairo_move_to(cr, 8, PlotLayout::kTop + 12);
  cairo_show_text(cr, "gain");

  // Seconds along the bottom.
  const double step = data.seconds > 20 ? std::ceil(data.seconds / 10) : data.seconds > 5 ? 1.0 : 0.5;
  for (double t = 0; t <= data.seconds + 1e-9 && step > 0; t += step) {
    cairo_move_to(cr, layout.X(t), PlotLayout::kHeight - PlotLayout::kBottom + 15);
    cairo_show_text(cr, fmt::format("{:g} s", t).c_str());
  }
}

}  // namespace

void CheckPlotPath(const std::string& path) {
  const std::string extension = Extension(path);
  if (extension != ".png" && extension != ".svg")
    throw UsageError("--plot writes .png or .svg files, got '{}'", path);
}

void WritePlot(const std::string& path, const PlotData& data) {
  CheckPlotPath(path);
  PendingFile file(path);
  const bool svg = Extension(path) == ".svg";
  cairo_surface_t* surface =
      svg ? cairo_svg_surface_create_for_stream(WriteToPending, &file, PlotLayout::kWidth,
                                                PlotLayout::kHeight)
          : cairo_image_surface_create(CAIRO_FORMAT_RGB24, PlotLayout::kWidth, PlotLayout::kHeight);
  const std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> owned(surface, cairo_surface_destroy);
  cairo_t* cr = cairo_create(surface);
  Draw(cr, data);
  cairo_status_t status = cairo_status(cr);
  cairo_destroy(cr);
  if (svg) {
    cairo_surface_finish(surface);
  } else if (status == CAIRO_STATUS_SUCCESS) {
    status = cairo_surface_write_to_png_stream(surface, WriteToPending, &file);
  }
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
  if (status != CAIRO_STATUS_SUCCESS)
    throw CliError("cannot write '{}': {}", path, cairo_status_to_string(status));
  file.Commit();
}

}  // namespace varsile::cli
