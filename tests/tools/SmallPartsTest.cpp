// The progress bar, the note timeline, the meter rows, the demo's levels and
// the choice of output format.
#include <gtest/gtest.h>

#include "AudioFile.h"
#include "CliError.h"
#include "DemoMelody.h"
#include "MeterLog.h"
#include "NoteSegments.h"
#include "Progress.h"

namespace {

using namespace varsile::cli;

TEST(Progress, DrawsOnlyWhenEnabledAndClearsItsLine) {
  std::ostringstream silent;
  {
    Progress progress(silent, false, 1000, 100.0);
    progress.Advance(500);
  }
  EXPECT_TRUE(silent.str().empty());

  std::ostringstream shown;
  {
    Progress progress(shown, true, 1000, 100.0);
    progress.Advance(500);
    progress.Advance(0);  // no new step, no redraw
  }
  const std::string text = shown.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '['), 1);
  EXPECT_NE(text.find(" 50%  5.0 s / 10.0 s"), std::string::npos) << text;
  EXPECT_EQ(text.back(), '\r');
  EXPECT_EQ(Progress::Bar(0, 100, 10.0), "[..............................]   0%  0.0 s / 10.0 s");
  EXPECT_EQ(Progress::Bar(100, 100, 10.0), "[##############################] 100%  10.0 s / 10.0 s");
  EXPECT_EQ(Progress::Bar(25, 0, 10.0), "processing... 2.5 s");
}

TEST(NoteSegments, SilenceIsNoNoteAndBlipsJoinTheirNeighbours) {
  const std::vector<std::string> names{"C", "C#", "D", "D#", "E", "F",  "F#",
                                       "G", "G#", "A", "A#", "B", "off"};
  NoteSegments segments(2);
  segments.Add({0.5, 0, 100.0f, 100.0f, 0.0f, 0.0, 0.0, 512});  // silence: the tracker says C
  segments.Add({1.0, 9, 80.0f, 100.0f, 0.5f});
  segments.Add({1.01, 4, 70.0f, 100.0f, 0.5f});  // a 10 ms blip
  segments.Add({1.5, 9, 90.0f, 100.0f, 0.5f});
  segments.Add({2.0, 12, 0.0f, 100.0f, 0.5f});
  EXPECT_EQ(FormatTimeline(MergeShortSegments(segments.Segments(), 0.05), names, TimelineFormat::kCsv),
            "start_s,end_s,channel,note,pitch_class,accuracy\n"
            "0.000000,0.500000,2,-,,100.00\n"
            "0.500000,1.500000,2,A,9,80.00\n"
            "1.500000,2.000000,2,-,,0.00\n");
  EXPECT_EQ(MergeShortSegments(segments.Segments(), 0.0).size(), 5u);
  EXPECT_EQ(FormatTimeline({}, names, TimelineFormat::kText),
            "start (s)   end (s)  note  accuracy (%)\n(no audio)\n");
}

TEST(NoteSegments, ShortSegmentsJoinTheirNeighbours) {
  NoteSegments segments;
  // A short start, a blip inside a long A, and a short run before E.
  for (const MeterReading reading : std::initializer_list<MeterReading>{
           {0.01, 12, 0.0f, 0.0f}, {1.0, 9, 80.0f, 0.0f}, {1.01, 2, 50.0f, 0.0f}, {2.0, 9, 80.0f, 0.0f},
           {2.02, 4, 60.0f, 0.0f}, {2.04, 5, 60.0f, 0.0f}, {3.0, 4, 90.0f, 0.0f}}) {
    segments.Add(reading);
  }
  segments.MergeShorterThan(0.05);
  ASSERT_EQ(segments.Segments().size(), 2u);
  EXPECT_EQ(segments.Segments()[0].note, 9);
  EXPECT_EQ(segments.Segments()[0].start, 0.0);
  EXPECT_EQ(segments.Segments()[0].end, 2.04);
  EXPECT_EQ(segments.Segments()[1].note, 4);
  EXPECT_EQ(segments.Segments()[1].start, 2.04);
}

TEST(MeterLog, RowsReadBackAsTheValuesRead) {
  const std::vector<std::string> names{"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  EXPECT_EQ(MeterLog::Row({0.0116099773, 7, 70.73668f, 100.0f, 1.0f}, 1, names),
            "0.011610,7,70.73668,100,G,1\n");
  EXPECT_EQ(MeterLog::Row({2.0, 12, 0.0f, 0.5f, 1.0f}, 1, names), "2.000000,12,0,0.5,-,1\n");
  const float awkward = 0.1f + 0.2f;
  EXPECT_EQ(std::stof(MeterLog::Row({0, 0, awkward, 0}, 1, names).substr(11)), awkward);
}

TEST(DemoMelody, TwelveEqualTonesAndTheirLevels) {
  const DemoMelody melody = MakeDemoMelody(8000.0);
  EXPECT_EQ(melody.samples.size(), 12u * 4000u);
  for (int n = 0; n < 12; ++n) {
    EXPECT_LT(melody.SteadyBegin(n), melody.SteadyEnd(n));
    EXPECT_NEAR(LevelDb(melody.samples, melody.SteadyBegin(n), melody.SteadyEnd(n)),
                LevelDb(melody.samples, melody.SteadyBegin(0), melody.SteadyEnd(0)), 0.5);
  }
  const std::vector<Float32> fullScaleSquare{1.0f, -1.0f, 1.0f, -1.0f};
  EXPECT_NEAR(LevelDb(fullScaleSquare, 0, 4), 0.0, 1e-9);
  EXPECT_EQ(LevelDb(std::vector<Float32>(10, 0.0f), 0, 10), -120.0);
  EXPECT_EQ(LevelDb(fullScaleSquare, 3, 3), -120.0);
}

TEST(OutputFormat, FollowsTheExtensionAndKeepsTheInputsSamples) {
  const int pcm16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  EXPECT_EQ(ChooseOutputFormat("a.wav", pcm16, std::nullopt, 2, 44100), pcm16);
  EXPECT_EQ(ChooseOutputFormat("a.FLAC", pcm16, std::nullopt, 2, 44100), SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  EXPECT_EQ(ChooseOutputFormat("a.aif", pcm16, std::string("pcm24"), 2, 44100),
            SF_FORMAT_AIFF | SF_FORMAT_PCM_24);
  // What the container cannot hold gives way to its usual format.
  EXPECT_EQ(ChooseOutputFormat("a.flac", SF_FORMAT_WAV | SF_FORMAT_FLOAT, std::nullopt, 2, 44100),
            SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
  EXPECT_EQ(ChooseOutputFormat("a.ogg", pcm16, std::nullopt, 2, 44100), SF_FORMAT_OGG | SF_FORMAT_VORBIS);
  EXPECT_EQ(ChooseOutputFormat("a.wav", SF_FORMAT_OGG | SF_FORMAT_VORBIS, std::nullopt, 1, 48000),
            SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_THROW(ChooseOutputFormat("a", pcm16, std::nullopt, 2, 44100), CliError);
  EXPECT_THROW(ChooseOutputFormat("a.ogg", pcm16, std::string("pcm16"), 2, 44100), CliError);
  EXPECT_THROW(ChooseOutputFormat("a.wav", pcm16, std::string("mp3"), 2, 44100), UsageError);
}

}  // namespace
