#include "AudioFile.h"

#include <fcntl.h>
#include <fmt/ranges.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

#include "CliError.h"
#include "CommandLine.h"

namespace varsile::cli {

namespace {

struct Container {
  std::string_view extension;
  int format;
  std::string_view name;
};
constexpr std::array kContainers{
    Container{"wav", SF_FORMAT_WAV, "WAV"},    Container{"wave", SF_FORMAT_WAV, "WAV"},
    Container{"flac", SF_FORMAT_FLAC, "FLAC"}, Container{"aif", SF_FORMAT_AIFF, "AIFF"},
    Container{"aiff", SF_FORMAT_AIFF, "AIFF"}, Container{"ogg", SF_FORMAT_OGG, "Ogg"},
    Container{"oga", SF_FORMAT_OGG, "Ogg"},    Container{"caf", SF_FORMAT_CAF, "CAF"},
    Container{"w64", SF_FORMAT_W64, "W64"},    Container{"au", SF_FORMAT_AU, "AU"},
};

struct SampleFormat {
  std::string_view name;
  int subtype;
  std::string_view description;
};
constexpr std::array kSampleFormats{
    SampleFormat{"pcm16", SF_FORMAT_PCM_16, "16-bit integer"},
    SampleFormat{"pcm24", SF_FORMAT_PCM_24, "24-bit integer"},
    SampleFormat{"pcm32", SF_FORMAT_PCM_32, "32-bit integer"},
    SampleFormat{"float", SF_FORMAT_FLOAT, "32-bit float"},
    SampleFormat{"double", SF_FORMAT_DOUBLE, "64-bit float"},
    SampleFormat{"vorbis", SF_FORMAT_VORBIS, "Vorbis"},
};

// Full scale of an integer subtype read and written without libsndfile's
// own normalisation, whose read and write factors differ (2^15 one way,
// 2^15 - 1 the other), so a round trip would move samples.
Float32 IntegerFullScale(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      return 128.0f;
    case SF_FORMAT_PCM_16:
      return 32768.0f;
    case SF_FORMAT_PCM_24:
      return 8388608.0f;
    case SF_FORMAT_PCM_32:
      return 2147483648.0f;
    default:
      return 0.0f;
  }
}

bool FormatFits(int format, UInt32 channels, Float64 sampleRate) {
  SF_INFO info{};
  info.format = format;
  info.channels = static_cast<int>(channels);
  info.samplerate = static_cast<int>(sampleRate);
  return sf_format_check(&info) != 0;
}

}  // namespace

AudioFileReader::AudioFileReader(const std::string& path) : mPath(path) {
  // Opened here first, so a missing or unreadable file is told apart from
  // one whose contents libsndfile does not know.
  mDescriptor =
      path == "-" ? fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0) : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (mDescriptor < 0) throw CliError("cannot open '{}': {}", path, std::strerror(errno));
  struct stat status {};
  if (fstat(mDescriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
    const int error = S_ISDIR(status.st_mode) ? EISDIR : errno;
    close(mDescriptor);
    throw CliError("cannot open '{}': {}", path, std::strerror(error));
  }
  mFile = sf_open_fd(mDescriptor, SFM_READ, &mInfo, SF_FALSE);
  if (mFile == nullptr) {
    const std::string reason = sf_strerror(nullptr);
    close(mDescriptor);
    throw CliError("cannot read '{}': not an audio file in a format this program reads ({})", path, reason);
  }
  if (mInfo.channels <= 0 || mInfo.samplerate <= 0) {
    sf_close(mFile);
    close(mDescriptor);
    throw CliError("cannot read '{}': it announces {} channels at {} Hz", path, mInfo.channels,
                   mInfo.samplerate);
  }
  if (const Float32 fullScale = IntegerFullScale(mInfo.format); fullScale != 0.0f) {
    sf_command(mFile, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
    mScale = 1.0f / fullScale;
  }
  // libsndfile reads a cut-off file as far as it goes, and says so only in
  // its log: "data : 88200 (should be 49956)".
  std::array<char, 4096> log{};
  sf_command(mFile, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()) - 1);
  std::string_view text(log.data());
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = text.substr(start, end - start);
    if ((line.starts_with("data ") || line.starts_with("SSND ")) && line.find("(should be") != line.npos)
      mEndsEarly = true;
    start = end + 1;
  }
}

AudioFileReader::~AudioFileReader() {
  sf_close(mFile);
  close(mDescriptor);
}

UInt32 AudioFileReader::Read(Float32* const* channels, UInt32 frames) {
  const std::size_t count = Channels();
  if (mInterleaved.size() < frames * count) mInterleaved.resize(frames * count);
  const sf_count_t read = sf_readf_float(mFile, mInterleaved.data(), frames);
  if (read < static_cast<sf_count_t>(frames) && sf_error(mFile) != SF_ERR_NO_ERROR) {
    throw CliError("cannot read '{}': {}", mPath, sf_strerror(mFile));
  }
  const Float32* source = mInterleaved.data();
  for (sf_count_t i = 0; i < read; ++i) {
    for (std::size_t c = 0; c < count; ++c) channels[c][i] = *source++ * mScale;
  }
  return static_cast<UInt32>(std::max<sf_count_t>(read, 0));
}

namespace {

// Standard output is written whole at the end, so a failed run sends
// nothing: the file is made in the temporary folder first.
std::string PendingTarget(const std::string& path) {
  if (path != "-") return path;
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  return ((error ? std::filesystem::path("/tmp") : folder) / "varsile-output.wav").string();
}

}  // namespace

AudioFileWriter::AudioFileWriter(const std::string& path, Float64 sampleRate, UInt32 channels, int format)
    : mPending(PendingTarget(path)), mChannels(channels), mToStandardOutput(path == "-") {
  SF_INFO info{};
  info.samplerate = static_cast<int>(sampleRate);
  info.channels = static_cast<int>(channels);
  info.format = format;
  mFile = sf_open_fd(mPending.Descriptor(), SFM_WRITE, &info, SF_FALSE);
  if (mFile == nullptr) throw CliError("cannot write '{}': {}", path, sf_strerror(nullptr));
  if (const Float32 fullScale = IntegerFullScale(format); fullScale != 0.0f) {
    sf_command(mFile, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
    mScale = fullScale;
  }
  // Out-of-range samples saturate instead of wrapping around.
  sf_command(mFile, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

AudioFileWriter::~AudioFileWriter() {
  if (mFile != nullptr) sf_close(mFile);
}

void AudioFileWriter::Write(const Float32* const* channels, UInt32 frames) {
  const std::size_t count = mChannels;
  if (mInterleaved.size() < frames * count) mInterleaved.resize(frames * count);
  Float32* target = mInterleaved.data();
  for (UInt32 i = 0; i < frames; ++i) {
    for (std::size_t c = 0; c < count; ++c) *target++ = channels[c][i] * mScale;
  }
  if (sf_writef_float(mFile, mInterleaved.data(), frames) != static_cast<sf_count_t>(frames)) {
    throw CliError("cannot write '{}': {}", mPending.Target(), sf_strerror(mFile));
  }
}

void AudioFileWriter::Commit() {
  sf_write_sync(mFile);
  const int status = sf_close(mFile);
  mFile = nullptr;
  if (status != 0) throw CliError("cannot write '{}': {}", mPending.Target(), sf_error_number(status));
  if (mToStandardOutput) {
    mPending.SendTo(STDOUT_FILENO);
  } else {
    mPending.Commit();
  }
}

int ChooseOutputFormat(const std::string& target, int inputFormat,
                       const std::optional<std::string>& sampleFormat, UInt32 channels, Float64 sampleRate) {
  std::error_code error;
  if (std::filesystem::is_directory(target, error))
    throw CliError("cannot write '{}': {}", target, std::strerror(EISDIR));
  const auto containerNamed = [](std::string_view name) {
    return std::find_if(kContainers.begin(), kContainers.end(),
                        [&](const Container& c) { return c.extension == name; });
  };
  std::string extension = std::filesystem::path(target).extension().string();
  if (!extension.empty()) extension = Lower(extension.substr(1));
  if (target == "-") extension = "wav";
  auto container = containerNamed(extension);
  if (container == kContainers.end()) {
    throw CliError(
        "cannot write '{}': unsupported file type {}; use .wav, .flac, .aiff, .ogg, .caf, .w64 or .au",
        target, extension.empty() ? "(no extension)" : fmt::format("'.{}'", extension));
  }

  // --format CONTAINER[:SAMPLES] names the container, which standard output
  // has no extension to say; a file's must agree with its extension.
  std::optional<std::string> samples = sampleFormat;
  if (sampleFormat) {
    const std::size_t colon = sampleFormat->find(':');
    const auto named = containerNamed(Lower(sampleFormat->substr(0, colon)));
    if (named != kContainers.end()) {
      if (target != "-" && named->format != container->format)
        throw UsageError("--format names {} but '{}' is {} by its extension", named->name, target,
                         container->name);
      container = named;
      samples.reset();
      if (colon != std::string::npos) samples = sampleFormat->substr(colon + 1);
    }
  }

  if (samples) {
    const std::string& asked = *samples;
    const auto chosen = std::find_if(kSampleFormats.begin(), kSampleFormats.end(),
                                     [&](const SampleFormat& f) { return f.name == Lower(asked); });
    if (chosen == kSampleFormats.end()) {
      std::vector<std::string_view> names;
      for (const SampleFormat& f : kSampleFormats) names.push_back(f.name);
      throw UsageError("unknown sample format '{}' (use one of: {})", asked, fmt::join(names, ", "));
    }
    const int format = container->format | chosen->subtype;
    if (!FormatFits(format, channels, sampleRate)) {
      throw CliError("cannot write '{}': unsupported format: {} files cannot hold {} samples", target,
                     container->name, chosen->description);
    }
    return format;
  }

  const int kept = container->format | (inputFormat & SF_FORMAT_SUBMASK);
  if (FormatFits(kept, channels, sampleRate)) return kept;
  // The container's usual format, keeping as much of the input as it can.
  const int bits24 = container->format | SF_FORMAT_PCM_24;
  for (const int format : {container->format | SF_FORMAT_FLOAT, bits24, container->format | SF_FORMAT_VORBIS,
                           container->format | SF_FORMAT_PCM_16}) {
    if (FormatFits(format, channels, sampleRate)) return format;
  }
  throw CliError("cannot write '{}': unsupported format: {} files cannot hold {} channels at {} Hz", target,
                 container->name, channels, static_cast<long>(sampleRate));
}

}  // namespace varsile::cli
