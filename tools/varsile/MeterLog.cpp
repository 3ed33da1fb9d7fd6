#include "MeterLog.h"

#include <fmt/format.h>

#include <array>
#include <charconv>
#include <utility>

#include "NoteSegments.h"

namespace varsile::cli {

namespace {

void Append(std::string& line, float value) {
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
  // Time to the microsecond; the meters as the shortest text that reads
  // back as the same float.
  std::string line = fmt::format("{:.6f},{},", reading.timeSeconds, reading.currentNote);
  Append(line, reading.accuracy);
  line += ',';
  Append(line, reading.currentVolume);
  return line + fmt::format(",{},{}\n", ClassName(HeardClass(reading), noteNames), channel);
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
