// The notes of a processed file, one row per segment: when, which note,
// whether the gate let it through, and its level before and after.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "NoteSegments.h"

namespace varsile::cli {

// inScale tells whether a pitch class passes (its volume is full).
std::string FormatNoteReport(const std::vector<NoteSegment>& segments,
                             const std::vector<std::string>& noteNames,
                             const std::function<bool(int)>& inScale, TimelineFormat format);

}  // namespace varsile::cli
