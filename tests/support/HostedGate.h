// The gate as a host holds it, for the reliability programs (realtime,
// threads, soak, benchmarks): the component module loaded through its
// manifest, one instance opened and configured with the host calls, an input
// callback playing a melody, and owned output buffers rendered through either
// render path. Nothing here depends on a test framework.
#pragma once

#include <AudioToolbox/AudioComponentRegistry.h>
#include <AudioUnit/AudioUnit.h>
#include <AudioUnit/AudioUnitProperties.h>
#include <Varsile/CoreTypes.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

namespace reliability {

// The gate's parameter ids as a host sees them (global scope, element 0).
enum GateParameter : AudioUnitParameterID {
  kKey = 0,
  kMasterVolume = 1,
  kFirstInterval = 2,  // 2..13: unison .. major seventh above the key
  kAttackTime = 14,
  kReleaseTime = 15,
  kA4Frequency = 16,
  kAccuracyThreshold = 17,
  kJitterThreshold = 18,
  kCurrentVolume = 19,
  kCurrentNote = 20,
  kAccuracy = 21,
  kParameterCount = 22,
};

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
      : mChannels(channels), mMaxFrames(maxFrames), mSampleRate(sampleRate) {
    Check(AudioComponentInstanceNew(component, &mUnit), "opening the gate");
    try {
      const AudioStreamBasicDescription format = varsile::CanonicalFormat(sampleRate, channels);
      for (const AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
        Check(AudioUnitSetProperty(mUnit, kAudioUnitProperty_StreamFormat, scope, 0, &format, sizeof format),
              "setting the stream format");
      }
      Check(AudioUnitSetProperty(mUnit, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0,
                                 &maxFrames, sizeof maxFrames),
            "setting the maximum frames per slice");
      const AURenderCallbackStruct callback{input, inputRefCon};
      Check(AudioUnitSetProperty(mUnit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                                 &callback, sizeof callback),
            "setting the input callback");
      UInt32 size = sizeof mFastRender;
      Check(AudioUnitGetProperty(mUnit, kAudioUnitProperty_FastDispatch, kAudioUnitScope_Global,
                                 kAudioUnitRenderSelect, &mFastRender, &size),
            "asking for the fast render entry");
    } catch (...) {
      AudioComponentInstanceDispose(mUnit);
      throw;
    }
    mSamples.assign(std::size_t{channels} * maxFrames, 0.0f);
    // Room for the header and one entry per channel, allocated here once.
    mListStorage.assign(1 + channels, AudioBuffer{});
    mList = reinterpret_cast<AudioBufferList*>(mListStorage.data());
  }

  ~HostedGate() {
    if (mUnit != nullptr) AudioComponentInstanceDispose(mUnit);
  }

  HostedGate(const HostedGate&) = delete;
  HostedGate& operator=(const HostedGate&) = delete;

  AudioUnit Unit() const noexcept { return mUnit; }
  UInt32 Channels() const noexcept { return mChannels; }
  UInt32 MaxFrames() const noexcept { return mMaxFrames; }
  Float64 SampleRate() const noexcept { return mSampleRate; }
  Float64 SampleTime() const noexcept { return mTimeStamp.mSampleTime; }

  void Initialize() { Check(AudioUnitInitialize(mUnit), "initializing the gate"); }
  void Uninitialize() { Check(AudioUnitUninitialize(mUnit), "uninitializing the gate"); }

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
    return AudioUnitRender(mUnit, &flags, &mTimeStamp, bus, frames, mList);
  }

  OSStatus Render(UInt32 frames, bool fast = false) noexcept {
    PrepareRender(frames);
    return RenderPrepared(frames, fast);
  }

  // The rendered samples of the last render (wherever the unit put them).
  const Float32* Output(UInt32 channel) const noexcept {
    return static_cast<const Float32*>(mList->mBuffers[channel].mData);
  }

  void* Storage() const noexcept { return GetComponentInstanceStorage(mUnit); }

  Float32 Parameter(AudioUnitParameterID id) const {
    AudioUnitParameterValue value = 0.0f;
    Check(AudioUnitGetParameter(mUnit, id, kAudioUnitScope_Global, 0, &value), "reading a parameter");
    return value;
  }

  void SetParameter(AudioUnitParameterID id, Float32 value) {
    Check(AudioUnitSetParameter(mUnit, id, kAudioUnitScope_Global, 0, value, 0), "setting a parameter");
  }

  void SetBypass(bool on) {
    const UInt32 value = on ? 1 : 0;
    Check(AudioUnitSetProperty(mUnit, kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, &value,
                               sizeof value),
          "switching bypass");
  }

 private:
  AudioUnit mUnit = nullptr;
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

// An immediate or ramped event for a global parameter.
inline AudioUnitParameterEvent ImmediateEvent(AudioUnitParameterID id, UInt32 offset,
                                              Float32 value) noexcept {
  AudioUnitParameterEvent e{};
  e.scope = kAudioUnitScope_Global;
  e.parameter = id;
  e.eventType = kParameterEvent_Immediate;
  e.eventValues.immediate.bufferOffset = offset;
  e.eventValues.immediate.value = value;
  return e;
}

inline AudioUnitParameterEvent RampedEvent(AudioUnitParameterID id, SInt32 start, UInt32 duration,
                                           Float32 from, Float32 to) noexcept {
  AudioUnitParameterEvent e{};
  e.scope = kAudioUnitScope_Global;
  e.parameter = id;
  e.eventType = kParameterEvent_Ramped;
  e.eventValues.ramp.startBufferOffset = start;
  e.eventValues.ramp.durationInFrames = duration;
  e.eventValues.ramp.startValue = from;
  e.eventValues.ramp.endValue = to;
  return e;
}

}  // namespace reliability
