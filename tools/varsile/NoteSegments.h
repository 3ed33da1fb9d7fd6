// The note timeline analyze prints: consecutive meter readings of one
// channel with the same pitch class joined into segments, short segments
// merged into their neighbours, and the timeline as text, CSV or JSON.
#pragma once

#include <string>
#include <vector>

#include "MeterLog.h"

namespace varsile::cli {

// As the note meter says before the tracker has decided.
inline constexpr int kNoClass = 12;
// Shorter segments join their neighbours unless asked otherwise.
inline constexpr double kDefaultMinNoteSeconds = 0.05;

// The pitch class a reading shows, or kNoClass: when the tracker has none
// (the meter's 12), and over silence, where the tracker reports C at 100 %
// only because no frequency outweighs another.
int HeardClass(const MeterReading& reading) noexcept;

// "C" ... "B" from the note meter's value strings, "-" for kNoClass.
std::string ClassName(int pitchClass, const std::vector<std::string>& noteNames);

struct NoteSegment {
  double start = 0.0;  // seconds
  double end = 0.0;
  int channel = 1;            // from 1
  int note = kNoClass;        // pitch class 0-11, or kNoClass
  double meanAccuracy = 0.0;  // percent, over the readings
  int readings = 0;
  // Sums of squares in and out, and the frames they cover.
  double energyIn = 0.0;
  double energyOut = 0.0;
  SInt64 frames = 0;
};

// Segments shorter than minSeconds join a neighbour (the one before, or the
// next at the start), and neighbours left with the same class join.
std::vector<NoteSegment> MergeShortSegments(const std::vector<NoteSegment>& segments, double minSeconds);

class NoteSegments {
 public:
  explicit NoteSegments(int channel = 1) : mChannel(channel) {}
  // Readings in time order; each covers the time since the one before.
  void Add(const MeterReading& reading);
  const std::vector<NoteSegment>& Segments() const noexcept { return mSegments; }
  // MergeShortSegments on these.
  void MergeShorterThan(double seconds) { mSegments = MergeShortSegments(mSegments, seconds); }

 private:
  std::vector<NoteSegment> mSegments;
  double mLastTime = 0.0;
  int mChannel;
};

enum class TimelineFormat { kText, kCsv, kJson };
// Every channel's segments, channel by channel.
std::string FormatTimeline(const std::vector<NoteSegment>& segments,
                           const std::vector<std::string>& noteNames, TimelineFormat format);

}  // namespace varsile::cli
