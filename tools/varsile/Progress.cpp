#include "Progress.h"

#include <fmt/format.h>

#include <algorithm>

namespace varsile::cli {

namespace {

constexpr int kWidth = 30;

}  // namespace

Progress::Progress(std::ostream& out, bool enabled, SInt64 totalFrames, Float64 sampleRate)
    : mOut(out), mEnabled(enabled), mTotal(totalFrames), mSampleRate(sampleRate) {}

Progress::~Progress() {
  Finish();
}

std::string Progress::Bar(SInt64 done, SInt64 total, Float64 sampleRate) {
  const double seconds = sampleRate > 0 ? static_cast<double>(done) / sampleRate : 0.0;
  if (total <= 0) return fmt::format("processing... {:.1f} s", seconds);
  const double fraction = std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0);
  const auto filled = static_cast<std::size_t>(fraction * kWidth);
  return fmt::format("[{}{}] {:3}%  {:.1f} s / {:.1f} s", std::string(filled, '#'),
                     std::string(kWidth - filled, '.'), static_cast<int>(fraction * 100.0), seconds,
                     static_cast<double>(total) / sampleRate);
}

void Progress::Advance(UInt32 frames) {
  mDone += frames;
  if (!mEnabled) return;
  // Redrawn once per per-mille, or per second of audio when the length is unknown.
  const long step =
      mTotal > 0 ? static_cast<long>(mDone * 1000 / mTotal) : static_cast<long>(mDone / mSampleRate);
  if (step == mLastStep) return;
  mLastStep = step;
  mOut << '\r' << Bar(mDone, mTotal, mSampleRate) << std::flush;
  mDrawn = true;
}

void Progress::Finish() {
  if (!mDrawn) return;
  mOut << '\r' << std::string(kWidth + 40, ' ') << '\r' << std::flush;
  mDrawn = false;
}

}  // namespace varsile::cli
