// The gate as a host holds it, for the reliability programs (realtime,
// threads, soak, benchmarks) and the host layer's tests: the component module
// loaded through its manifest, one instance opened and configured through the
// host layer, an input callback playing a melody, and owned output buffers
// rendered through either render path. Nothing here depends on a test
// framework.
#pragma once

#include <AudioToolbox/AudioComponentRegistry.h>
#include <AudioUnit/AudioUnit.h>
#include <AudioUnit/AudioUnitProperties.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "ParameterEvents.h"
#include "UnitInstance.h"
#include "VarsileParameters.h"

namespace reliability {

inline std::string StatusText(const char* what, OSStatus status) {
  return std::string(what) + " failed with status " + std::to_string(status);
}

inline void Check(OSStatus status, const char* what) {
  if (status != noErr) throw std::runtime_error(StatusText(what, status));
}

inline AudioComponent LoadComponent(const char* manifest) {
  AudioComponent loaded = nullptr;
  if (AudioComponentLoadManifest(manifest, &loaded) != noErr) {
    throw std::runtime_error(std::string("cannot load ") + manifest + ": " + AudioComponentLastLoadError());
  }
  return loaded;
}

#ifdef VARSILE_COMPONENT_MANIFEST
// The gate's component, loaded once per process.
inline AudioComponent GateComponent() {
  static const AudioComponent component = LoadComponent(VARSILE_COMPONENT_MANIFEST);
  return component;
}
#endif
#ifdef VARSILE_LOOKAHEAD_MANIFEST
inline AudioComponent LookaheadComponent() {
  static const AudioComponent component = LoadComponent(VARSILE_LOOKAHEAD_MANIFEST);
  return component;
}
#endif

// An input callback: a melody of tones with three harmonics, a new note
// every `noteFrames` frames, identical in every channel but for a small
// detune, at `amplitude`. It allocates nothing and takes no lock, so that
// what the render thread does is the gate's own doing.
class Melody {
 public:
  explicit Melody(Float64 sampleRate, Float32 amplitude = 0.5f, UInt32 noteFrames = 12000) noexcept
      : mSampleRate(sampleRate), mAmplitude(amplitude), mNoteFrames(noteFrames) {}

  static OSStatus Render(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                         UInt32 frames, AudioBufferList* io) noexcept {
    auto& self = *static_cast<Melody*>(refCon);
    if (self.mFailWith != noErr) return self.mFailWith;
    self.Fill(frames, *io);
    return noErr;
  }

  // A status the next pulls return instead of audio.
  void FailWith(OSStatus status) noexcept { mFailWith = status; }
  void SetAmplitude(Float32 amplitude) noexcept { mAmplitude = amplitude; }
  // Multiplies the amplitude by `factor` every frame: a decay toward zero.
  void SetDecay(Float64 factor) noexcept { mDecay = factor; }

 private:
  void Fill(UInt32 frames, AudioBufferList& io) noexcept {
    // A C major line with a chromatic step, so the gate opens and closes.
    static constexpr int kNotes[] = {60, 62, 64, 65, 67, 66, 69, 71, 72, 61, 67, 64};
    const Float64 startPosition = mPosition;
    const Float64 startGain = mGain;
    for (UInt32 b = 0; b < io.mNumberBuffers; ++b) {
      auto* out = static_cast<Float32*>(io.mBuffers[b].mData);
      if (out == nullptr) continue;
      const UInt32 n = std::min<UInt32>(frames, io.mBuffers[b].mDataByteSize / sizeof(Float32));
      Float64 position = startPosition;
      Float64 gain = startGain;
      for (UInt32 i = 0; i < n; ++i, position += 1.0) {
        const auto note = static_cast<std::size_t>(position / mNoteFrames) % std::size(kNotes);
        const Float64 hz = 440.0 * std::exp2((kNotes[note] - 69) / 12.0) * (1.0 + 0.0005 * b);
        const Float64 t = position / mSampleRate;
        const Float64 w = 2.0 * std::numbers::pi * hz * t;
        out[i] = static_cast<Float32>(
            gain * mAmplitude * (0.6 * std::sin(w) + 0.3 * std::sin(2.0 * w) + 0.1 * std::sin(3.0 * w)));
        gain *= mDecay;
      }
      if (b + 1 == io.mNumberBuffers) {
        mPosition = position;
        mGain = gain;
      }
    }
    // The position wraps with the melody so it never loses precision.
    const Float64 cycle = static_cast<Float64>(mNoteFrames) * std::size(kNotes) * mSampleRate;
    if (mPosition > cycle) mPosition -= cycle;
  }

  Float64 mSampleRate;
  Float32 mAmplitude;
  UInt32 mNoteFrames;
  Float64 mPosition = 0.0;
  Float64 mGain = 1.0;
  Float64 mDecay = 1.0;
  OSStatus mFailWith = noErr;
};

// One opened gate with its formats, maximum slice, input and output buffers.
class HostedGate {
 public:
  HostedGate(AudioComponent component, UInt32 channels, Float64 sampleRate, UInt32 maxFrames,
             AURenderCallback input, void* inputRefCon)
      : mUnit(component), mChannels(channels), mMaxFrames(maxFrames), mSampleRate(sampleRate) {
    Check(mUnit.OpenStatus(), "opening the gate");
    Check(mUnit.ConfigureIO(sampleRate, channels), "setting the stream format");
    Check(mUnit.SetMaxFrames(maxFrames), "setting the maximum frames per slice");
    Check(mUnit.Set(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                    AURenderCallbackStruct{input, inputRefCon}),
          "setting the input callback");
    mFastRender = FastEntry<AudioUnitRenderProc>(kAudioUnitRenderSelect);
    mSamples.assign(std::size_t{channels} * maxFrames, 0.0f);
    // Room for the header and one entry per channel, allocated here once.
    mListStorage.assign(1 + channels, AudioBuffer{});
    mList = reinterpret_cast<AudioBufferList*>(mListStorage.data());
  }

  HostedGate(const HostedGate&) = delete;
  HostedGate& operator=(const HostedGate&) = delete;

  AudioUnit Unit() const noexcept { return mUnit.Get(); }
  UInt32 Channels() const noexcept { return mChannels; }
  UInt32 MaxFrames() const noexcept { return mMaxFrames; }
  Float64 SampleRate() const noexcept { return mSampleRate; }
  Float64 SampleTime() const noexcept { return mTimeStamp.mSampleTime; }

  void Initialize() { Check(mUnit.Initialize(), "initializing the gate"); }
  void Uninitialize() { Check(mUnit.Uninitialize(), "uninitializing the gate"); }

  // Points the list at the owned buffers for `frames` frames (or at nothing,
  // asking for the unit's own memory) and advances the time stamp. Outside
  // the render call, so that only the render itself is measured.
  AudioBufferList& PrepareRender(UInt32 frames, bool ownBuffers = true) noexcept {
    mList->mNumberBuffers = mChannels;
    for (UInt32 c = 0; c < mChannels; ++c) {
      AudioBuffer& b = mList->mBuffers[c];
      b.mNumberChannels = 1;
      b.mDataByteSize = frames * sizeof(Float32);
      b.mData = ownBuffers ? mSamples.data() + std::size_t{c} * mMaxFrames : nullptr;
    }
    mTimeStamp.mSampleTime = mNextSampleTime;
    mTimeStamp.mFlags = kAudioTimeStampSampleTimeValid;
    mNextSampleTime += frames;
    return *mList;
  }

  // Nothing but the render call: through the dispatcher or the fast entry.
  OSStatus RenderPrepared(UInt32 frames, bool fast, UInt32 bus = 0) noexcept {
    AudioUnitRenderActionFlags flags = 0;
    if (fast) return mFastRender(Storage(), &flags, &mTimeStamp, bus, frames, mList);
    return AudioUnitRender(mUnit.Get(), &flags, &mTimeStamp, bus, frames, mList);
  }

  OSStatus Render(UInt32 frames, bool fast = false) noexcept {
    PrepareRender(frames);
    return RenderPrepared(frames, fast);
  }

  // The rendered samples of the last render (wherever the unit put them).
  const Float32* Output(UInt32 channel) const noexcept {
    return static_cast<const Float32*>(mList->mBuffers[channel].mData);
  }

  // A fast-dispatch entry, called with Storage() in place of the unit.
  template <class Function>
  Function FastEntry(SInt16 selector) const {
    Function entry = nullptr;
    Check(mUnit.Get(kAudioUnitProperty_FastDispatch, kAudioUnitScope_Global,
                    static_cast<AudioUnitElement>(selector), entry),
          "asking for a fast entry");
    return entry;
  }

  void* Storage() const noexcept { return GetComponentInstanceStorage(mUnit.Get()); }

  Float32 Parameter(AudioUnitParameterID id) const {
    AudioUnitParameterValue value = 0.0f;
    Check(mUnit.GetParameter(id, kAudioUnitScope_Global, 0, value), "reading a parameter");
    return value;
  }

  void SetParameter(AudioUnitParameterID id, Float32 value) {
    Check(mUnit.SetParameter(id, kAudioUnitScope_Global, 0, value), "setting a parameter");
  }

  void SetBypass(bool on) {
    Check(mUnit.Set(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, UInt32{on}),
          "switching bypass");
  }

 private:
  varsile::host::UnitInstance mUnit;
  UInt32 mChannels;
  UInt32 mMaxFrames;
  Float64 mSampleRate;
  AudioUnitRenderProc mFastRender = nullptr;
  std::vector<Float32> mSamples;
  std::vector<AudioBuffer> mListStorage;
  AudioBufferList* mList = nullptr;
  AudioTimeStamp mTimeStamp{};
  Float64 mNextSampleTime = 0.0;
};

using testevents::ImmediateEvent;
using testevents::RampedEvent;

}  // namespace reliability
