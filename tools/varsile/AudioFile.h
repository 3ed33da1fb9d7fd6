// Audio files through libsndfile, as planar float channels. Integer PCM is
// scaled by an exact power of two both ways, so that samples the gate
// leaves alone are written back with the very bits they were read with.
#pragma once

#include <MacTypes.h>
#include <sndfile.h>

#include <optional>
#include <string>
#include <vector>

#include "PendingFile.h"

namespace varsile::cli {

class AudioFileReader {
 public:
  // Throws CliError: "cannot open '<path>': <reason>" for a missing or
  // unreadable file, "cannot read '<path>': ..." for a format libsndfile
  // does not know.
  // "-" reads standard input.
  explicit AudioFileReader(const std::string& path);
  AudioFileReader(const AudioFileReader&) = delete;
  AudioFileReader& operator=(const AudioFileReader&) = delete;
  ~AudioFileReader();

  const std::string& Path() const noexcept { return mPath; }
  Float64 SampleRate() const noexcept { return mInfo.samplerate; }
  UInt32 Channels() const noexcept { return static_cast<UInt32>(mInfo.channels); }
  // The frame count the file announces (some containers cannot know it).
  SInt64 Frames() const noexcept { return mInfo.frames; }
  int Format() const noexcept { return mInfo.format; }
  // The file is shorter than its header announces (cut off).
  bool EndsEarly() const noexcept { return mEndsEarly; }

  // Reads up to frames frames into channels[c]; returns how many were read,
  // 0 at the end. Throws CliError on a read error.
  UInt32 Read(Float32* const* channels, UInt32 frames);

 private:
  std::string mPath;
  SF_INFO mInfo{};
  SNDFILE* mFile = nullptr;
  int mDescriptor = -1;
  Float32 mScale = 1.0f;
  bool mEndsEarly = false;
  std::vector<Float32> mInterleaved;
};

class AudioFileWriter {
 public:
  // format: a libsndfile major format and subtype (ChooseOutputFormat).
  // "-" writes to standard output, once the file is complete.
  // Throws CliError "cannot write '<path>': ...".
  AudioFileWriter(const std::string& path, Float64 sampleRate, UInt32 channels, int format);
  AudioFileWriter(const AudioFileWriter&) = delete;
  AudioFileWriter& operator=(const AudioFileWriter&) = delete;
  ~AudioFileWriter();

  void Write(const Float32* const* channels, UInt32 frames);
  // Finishes the file and puts it in place of the target.
  void Commit();

 private:
  PendingFile mPending;
  SNDFILE* mFile = nullptr;
  UInt32 mChannels;
  bool mToStandardOutput;
  Float32 mScale = 1.0f;
  std::vector<Float32> mInterleaved;
};

// The format to write target in: the container by the target's extension
// (.wav, .flac, .aiff, .ogg, ...), the sample format of the input or as
// --format asks (pcm16, pcm24, pcm32, float, double, vorbis; or a container
// for standard output, "flac" or "flac:pcm24"). An input
// sample format the container cannot hold gives way to the container's
// usual one. Throws CliError for an unknown extension or sample format, or
// a --format the container cannot hold.
int ChooseOutputFormat(const std::string& target, int inputFormat,
                       const std::optional<std::string>& sampleFormat, UInt32 channels, Float64 sampleRate);

}  // namespace varsile::cli
