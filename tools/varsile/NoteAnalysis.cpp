#include "NoteAnalysis.h"

#include "GateSession.h"

namespace varsile::cli {

NoteAnalyzer::NoteAnalyzer(const host::ComponentSearch& search, const AudioFileReader& input,
                           NoteAnalysisOptions options)
    : mOptions(std::move(options)) {
  GateOptions gate = mOptions.tracker;
  gate.scale = "chromatic";
  gate.master = 100.0;
  gate.outOfScale.reset();
  gate.volumes.clear();
  gate.bypass = false;
  // The component's meters follow its first channel, so each channel gets
  // an instance of its own.
  for (UInt32 c = 0; c < input.Channels(); ++c) {
    mSessions.push_back(std::make_unique<GateSession>(search));
    mSessions.back()->Apply(gate);
    mSessions.back()->Prepare(input, 1, mOptions.blockSize);
  }
  if (!mSessions.empty()) mNoteNames = mSessions.front()->Catalogue().Require("current note").valueStrings;
}

NoteAnalyzer::~NoteAnalyzer() = default;

NoteAnalysis NoteAnalyzer::Run(AudioFileReader& input) {
  const auto channels = static_cast<UInt32>(mSessions.size());
  const UInt32 block = mOptions.blockSize;
  std::vector<NoteSegments> timelines;
  for (UInt32 c = 0; c < channels; ++c) timelines.emplace_back(static_cast<int>(c) + 1);

  NoteAnalysis analysis;
  analysis.noteNames = mNoteNames;
  std::vector<Float32> inputMemory(std::size_t{channels} * block);
  std::vector<Float32> output(block);
  std::vector<Float32*> in(channels);
  for (UInt32 c = 0; c < channels; ++c) in[c] = inputMemory.data() + std::size_t{c} * block;
  Float32* const out[] = {output.data()};

  while (const UInt32 frames = input.Read(in.data(), block)) {
    analysis.framesRead += frames;
    const double time = static_cast<double>(analysis.framesRead) / input.SampleRate();
    for (UInt32 c = 0; c < channels; ++c) {
      const Float32* const channel[] = {in[c]};
      mSessions[c]->Render(channel, out, frames);
      MeterReading reading = mSessions[c]->ReadMeters(time);
      AddLevels(reading, in[c], out[0], frames);
      timelines[c].Add(reading);
      if (mOptions.meters) mOptions.meters(reading, static_cast<int>(c) + 1);
    }
    if (mOptions.progress != nullptr) mOptions.progress->Advance(frames);
  }
  if (mOptions.progress != nullptr) mOptions.progress->Finish();

  for (const NoteSegments& timeline : timelines) {
    const std::vector<NoteSegment> merged = MergeShortSegments(timeline.Segments(), mOptions.minNoteSeconds);
    analysis.segments.insert(analysis.segments.end(), merged.begin(), merged.end());
  }
  return analysis;
}

}  // namespace varsile::cli
