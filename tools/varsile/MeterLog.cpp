#include "MeterLog.h"

#include <array>
#include <charconv>
#include <utility>

#include "NoteSegments.h"

namespace varsile::cli {

namespace {

template <typename T>
void Append(std::string& line, T value) {
  std::array<char, 40> text{};
  const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value);
  line.append(text.data(), error == std::errc{} ? end : text.data());
}

constexpr std::size_t kFlushBytes = 1 << 16;

}  // namespace

MeterLog::MeterLog(const std::string& path, std::vector<std::string> noteNames)
    : mFile(path), mNoteNames(std::move(noteNames)) {
  mBuffer = "time_s,current_note,accuracy,current_volume,note,channel\n";
}

std::string MeterLog::Row(const MeterReading& reading, int channel,
                          const std::vector<std::string>& noteNames) {
  std::string line;
  // Time to the microsecond; the meters as the shortest text that reads
  // back as the same float.
  std::array<char, 40> time{};
  const auto [end, error] =
      std::to_chars(time.data(), time.data() + time.size(), reading.timeSeconds, std::chars_format::fixed, 6);
  line.append(time.data(), error == std::errc{} ? end : time.data());
  line += ',';
  Append(line, reading.currentNote);
  line += ',';
  Append(line, reading.accuracy);
  line += ',';
  Append(line, reading.currentVolume);
  line += ',';
  line += ClassName(HeardClass(reading), noteNames);
  line += ',';
  Append(line, channel);
  line += '\n';
  return line;
}

void MeterLog::Add(const MeterReading& reading, int channel) {
  mBuffer += Row(reading, channel, mNoteNames);
  if (mBuffer.size() >= kFlushBytes) Flush();
}

void MeterLog::Flush() {
  mFile.Write(mBuffer.data(), mBuffer.size());
  mBuffer.clear();
}

void MeterLog::Commit() {
  Flush();
  mFile.Commit();
}

}  // namespace varsile::cli
