// A host's side of rendering: an input callback that feeds a known signal,
// output buffers (the host's, or none so that the unit hands out its own),
// advancing time stamps, and a record of anything malformed that the unit
// handed the callback or left in the output list. Not host::RenderLoop: that
// answers a malformed request with a status, where a validator must say what
// was wrong, and it sets the formats that the checks set themselves.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "SampleScan.h"
#include "UnitInstance.h"

namespace varsile::validate {

enum class Signal {
  Tones,      // a harmonic tone per channel, a fifth apart, with a little noise
  Silence,    // zeros
  Subnormal,  // values below the smallest normal float
  FullScale,  // a square wave at plus and minus 1
};

// Sample `frame` (counted from time 0) of channel `channel`.
float SignalSample(Signal signal, UInt32 channel, std::int64_t frame, Float64 sampleRate);

class RenderRig {
 public:
  enum class Buffers {
    Host,  // the host supplies the sample memory
    Null,  // null mData: the unit hands out pointers to its own memory
  };

  RenderRig(host::UnitInstance& unit, UInt32 channels, Float64 sampleRate);
  RenderRig(const RenderRig&) = delete;
  RenderRig& operator=(const RenderRig&) = delete;
  // Detaches the input callback, which points at this rig.
  ~RenderRig();

  OSStatus AttachInput();
  OSStatus DetachInput();
  void SetSignal(Signal signal) noexcept { mSignal = signal; }
  // What the input callback answers (noErr unless a check wants a failing
  // upstream).
  void SetInputStatus(OSStatus status) noexcept { mInputStatus = status; }

  // Renders through the fast render entry the unit hands out, called with
  // the instance's storage, instead of the render selector.
  void UseFastRender(AudioUnitRenderProc render, void* storage) noexcept {
    mFastRender = render;
    mFastStorage = storage;
  }

  // Renders frames at the next time stamp; time advances whatever the
  // result, as a host's clock does.
  OSStatus Render(UInt32 frames, Buffers buffers = Buffers::Host) {
    AudioUnitRenderActionFlags flags = 0;
    return Render(frames, &flags, buffers);
  }
  OSStatus Render(UInt32 frames, AudioUnitRenderActionFlags* flags, Buffers buffers = Buffers::Host);
  // For a check that makes the render call itself: the output list for
  // frames, and the next time stamp (time advances by frames, as Render's).
  AudioBufferList* PrepareList(UInt32 frames, Buffers buffers = Buffers::Host);
  const AudioTimeStamp& Advance(UInt32 frames);

  // The output of the last render that returned noErr.
  std::span<const float> Output(UInt32 channel) const;
  // Adds that output, every channel, to stats.
  void ScanOutput(SampleStats& stats) const;
  // The input the callback sends for frames starting at sample time start.
  std::vector<float> Input(UInt32 channel, Float64 start, UInt32 frames) const;

  host::UnitInstance& Unit() const noexcept { return mUnit; }
  Float64 NextSampleTime() const noexcept { return mSampleTime; }
  void SetNextSampleTime(Float64 sampleTime) noexcept { mSampleTime = sampleTime; }
  // The time stamp and list of the last render call.
  const AudioTimeStamp& LastTimeStamp() const noexcept { return mTimeStamp; }
  const AudioBufferList* LastList() const noexcept;
  UInt32 Channels() const noexcept { return mChannels; }
  UInt32 InputCalls() const noexcept { return mInputCalls; }

  // The first malformed thing seen since the last ClearProblem, or "".
  const std::string& Problem() const noexcept { return mProblem; }
  void ClearProblem() { mProblem.clear(); }

 private:
  static OSStatus InputProc(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp,
                            UInt32 bus, UInt32 frames, AudioBufferList* list);
  OSStatus FillInput(const AudioTimeStamp* timeStamp, UInt32 bus, UInt32 frames, AudioBufferList* list);
  void NoteProblem(std::string problem);
  void Reserve(UInt32 frames);

  host::UnitInstance& mUnit;
  UInt32 mChannels;
  Float64 mSampleRate;
  Signal mSignal = Signal::Tones;
  OSStatus mInputStatus = noErr;
  bool mAttached = false;
  AudioUnitRenderProc mFastRender = nullptr;
  void* mFastStorage = nullptr;

  Float64 mSampleTime = 0.0;
  AudioTimeStamp mTimeStamp{};
  UInt32 mFrames = 0;
  UInt32 mCapacity = 0;
  std::vector<std::vector<float>> mHostBuffers;
  std::vector<std::vector<float>> mInputBuffers;
  std::vector<std::vector<float>> mOutput;
  std::vector<UInt64> mListStorage;  // an AudioBufferList with one buffer per channel
  UInt32 mInputCalls = 0;
  std::string mProblem;
};

}  // namespace varsile::validate
