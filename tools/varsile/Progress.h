// A progress bar on stderr for long files, drawn only when stderr is a
// terminal; otherwise silent.
#pragma once

#include <MacTypes.h>

#include <ostream>
#include <string>

namespace varsile::cli {

class Progress {
 public:
  // totalFrames <= 0: unknown length; the bar then shows the time done.
  Progress(std::ostream& out, bool enabled, SInt64 totalFrames, Float64 sampleRate);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress();

  void Advance(UInt32 frames);
  // Clears the bar's line.
  void Finish();

  // The bar as drawn for a position: "[#####.....]  50%  1.0 s / 2.0 s".
  static std::string Bar(SInt64 done, SInt64 total, Float64 sampleRate);

 private:
  std::ostream& mOut;
  bool mEnabled;
  SInt64 mTotal;
  Float64 mSampleRate;
  SInt64 mDone = 0;
  long mLastStep = -1;
  bool mDrawn = false;
};

}  // namespace varsile::cli
