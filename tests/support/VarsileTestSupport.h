// Helpers for the gate's tests: opening the effect as the entry does, stream
// formats, a recorder of parameter-change events, tones with harmonics and the
// interval-name cache warmed before leak checks.
#pragma once

#include <AudioToolbox/AudioToolbox.h>
#include <AudioToolbox/AudioUnitUtilities.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

#include "FrameTestSupport.h"
#include "Varsile.h"

namespace varsiletest {

inline std::string Text(CFStringRef s) {
  char buffer[256] = {};
  EXPECT_TRUE(CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingUTF8));
  return buffer;
}

// Construction and PostConstructor, as the open selector does them.
inline std::unique_ptr<Varsile> OpenEffect(AudioComponentInstance handle = nullptr) {
  auto effect = std::make_unique<Varsile>(handle);
  effect->PostConstructor();
  return effect;
}

// Both buses at the rate and channel count, then DoInitialize.
inline void Initialize(Varsile& effect, Float64 sampleRate = 48000.0, UInt32 channels = 2) {
  const AudioStreamBasicDescription format = varsile::CanonicalFormat(sampleRate, channels);
  ASSERT_EQ(effect.DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &format,
                                       sizeof format),
            noErr);
  ASSERT_EQ(effect.DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &format,
                                       sizeof format),
            noErr);
  ASSERT_EQ(effect.DoInitialize(), noErr);
}

inline Varsile::VarsileKernel* Kernel(Varsile& effect, UInt32 channel) {
  return static_cast<Varsile::VarsileKernel*>(effect.GetKernel(channel));
}

// Every parameter name once, so that a leak check afterwards sees only the
// values its own test made (constant strings live as long as the process).
inline void WarmConstantStrings() {
  static std::once_flag once;
  std::call_once(once, [] {
    auto effect = OpenEffect();
    AudioUnitParameterInfo info{};
    for (AudioUnitParameterID id = 0; id < kNumberOfGateParams; ++id) {
      effect->GetParameterInfo(kAudioUnitScope_Global, id, info);
    }
  });
}

// A leak-checked fixture, checked once the derived fixture's members (an
// instance holding its interval names) are gone.
class LeakCheckedTest : public ::testing::Test {
 protected:
  LeakCheckedTest() {
    WarmConstantStrings();
    mLiveAtStart = CFLiveObjectCount();
  }
  ~LeakCheckedTest() override {
    EXPECT_EQ(CFLiveObjectCount(), mLiveAtStart) << "property-list values leaked or were over-released";
  }

 private:
  CFIndex mLiveAtStart = 0;
};

// Hears every parameter-change event of one unit.
class ParameterEventRecorder {
 public:
  explicit ParameterEventRecorder(AudioUnit unit) {
    EXPECT_EQ(AUEventListenerCreateWithCallback(Proc, this, &mListener), noErr);
    AudioUnitEvent event{};
    event.mEventType = kAudioUnitEvent_ParameterValueChange;
    event.mArgument.mParameter.mAudioUnit = unit;
    event.mArgument.mParameter.mParameterID = kAUEventListener_AnyParameter;
    EXPECT_EQ(AUEventListenerAddEventType(mListener, nullptr, &event), noErr);
  }
  ~ParameterEventRecorder() { AUListenerDispose(mListener); }
  ParameterEventRecorder(const ParameterEventRecorder&) = delete;
  ParameterEventRecorder& operator=(const ParameterEventRecorder&) = delete;

  std::vector<AudioUnitEvent> Events() const {
    const std::lock_guard<std::mutex> lock(mMutex);
    return mEvents;
  }
  std::size_t Count() const { return Events().size(); }
  std::size_t CountFor(AudioUnitParameterID id) const {
    std::size_t n = 0;
    for (const AudioUnitEvent& e : Events()) n += e.mArgument.mParameter.mParameterID == id;
    return n;
  }
  void Clear() {
    const std::lock_guard<std::mutex> lock(mMutex);
    mEvents.clear();
  }

 private:
  static void Proc(void* userData, void*, const AudioUnitEvent* event, UInt64, AudioUnitParameterValue) {
    auto* self = static_cast<ParameterEventRecorder*>(userData);
    const std::lock_guard<std::mutex> lock(self->mMutex);
    self->mEvents.push_back(*event);
  }

  AUEventListenerRef mListener = nullptr;
  mutable std::mutex mMutex;
  std::vector<AudioUnitEvent> mEvents;
};

// Equal temperament with A4 = 440 Hz; octave 4 holds middle C.
inline double NoteFrequency(int pitchClass, int octave = 4) {
  const int midi = 12 * (octave + 1) + pitchClass;
  return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

// A tone with six harmonics falling off as 1/k, like a plucked or bowed note.
inline std::vector<Float32> HarmonicTone(double frequency, double sampleRate, std::size_t frames,
                                         double amplitude = 0.3) {
  std::vector<Float32> samples(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / sampleRate;
    double s = 0.0;
    for (int k = 1; k <= 6; ++k) s += std::sin(2.0 * std::numbers::pi * k * frequency * t) / k;
    samples[i] = static_cast<Float32>(amplitude * s / 2.45);
  }
  return samples;
}

// A buffer list with room for two channels (the record itself has room for one).
class StereoBufferList {
 public:
  AudioBufferList& Set(Float32* left, Float32* right, UInt32 frames) {
    auto& list = *reinterpret_cast<AudioBufferList*>(mStorage);
    list.mNumberBuffers = 2;
    list.mBuffers[0] = AudioBuffer{1, frames * 4, left};
    list.mBuffers[1] = AudioBuffer{1, frames * 4, right};
    return list;
  }

 private:
  alignas(
      AudioBufferList) unsigned char mStorage[offsetof(AudioBufferList, mBuffers) + 2 * sizeof(AudioBuffer)];
};

inline double Rms(const Float32* samples, std::size_t count) {
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) sum += static_cast<double>(samples[i]) * samples[i];
  return count == 0 ? 0.0 : std::sqrt(sum / static_cast<double>(count));
}

}  // namespace varsiletest
