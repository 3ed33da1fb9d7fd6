#include "RenderRig.h"

#include <fmt/format.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace varsile::validate {

namespace {

// A small deterministic noise in [-1, 1), the same for the same sample.
float Noise(UInt32 channel, std::int64_t frame) {
  UInt64 x = static_cast<UInt64>(frame) * 0x9E3779B97F4A7C15ull + channel * 0xBF58476D1CE4E5B9ull;
  x ^= x >> 31;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 29;
  return static_cast<float>(static_cast<double>(x >> 40) / static_cast<double>(1ull << 23) - 1.0);
}

}  // namespace

float SignalSample(Signal signal, UInt32 channel, std::int64_t frame, Float64 sampleRate) {
  switch (signal) {
    case Signal::Silence:
      return 0.0f;
    case Signal::Subnormal: {
      const float tiny = std::numeric_limits<float>::denorm_min() * static_cast<float>(1 + (frame % 1000));
      return (frame + channel) % 2 == 0 ? tiny : -tiny;
    }
    case Signal::FullScale:
      return (frame / 50 + channel) % 2 == 0 ? 1.0f : -1.0f;
    case Signal::Tones:
      break;
  }
  // A3 in the first channel, E4 in the second, and so on up by fifths.
  const double frequency = 220.0 * std::pow(1.5, channel % 4);
  const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(frame) / sampleRate;
  const double value = 0.3 * std::sin(phase) + 0.15 * std::sin(2.0 * phase) + 0.07 * std::sin(3.0 * phase);
  return static_cast<float>(value) + 0.01f * Noise(channel, frame);
}

RenderRig::RenderRig(host::UnitInstance& unit, UInt32 channels, Float64 sampleRate)
    : mUnit(unit), mChannels(channels), mSampleRate(sampleRate) {
  mListStorage.assign(
      (offsetof(AudioBufferList, mBuffers) + sizeof(AudioBuffer) * std::max(channels, 1u)) / 8 + 1, 0);
  mHostBuffers.resize(channels);
  mInputBuffers.resize(channels);
  mOutput.resize(channels);
  Reserve(4096);
}

RenderRig::~RenderRig() {
  if (mAttached) DetachInput();
}

OSStatus RenderRig::AttachInput() {
  const AURenderCallbackStruct callback{&RenderRig::InputProc, this};
  const OSStatus status = mUnit.Set(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, callback);
  if (status == noErr) mAttached = true;
  return status;
}

OSStatus RenderRig::DetachInput() {
  const AURenderCallbackStruct callback{nullptr, nullptr};
  const OSStatus status = mUnit.Set(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, callback);
  if (status == noErr) mAttached = false;
  return status;
}

const AudioBufferList* RenderRig::LastList() const noexcept {
  return reinterpret_cast<const AudioBufferList*>(mListStorage.data());
}

void RenderRig::Reserve(UInt32 frames) {
  if (frames <= mCapacity) return;
  mCapacity = frames;
  for (UInt32 channel = 0; channel < mChannels; ++channel) {
    mHostBuffers[channel].assign(frames, 0.0f);
    mInputBuffers[channel].assign(frames, 0.0f);
  }
}

void RenderRig::NoteProblem(std::string problem) {
  if (mProblem.empty()) mProblem = std::move(problem);
}

// A unit that leaves any of the host's memory unwritten shows up as NaN in
// the scan.
constexpr float kUnwritten = std::numeric_limits<float>::quiet_NaN();

AudioBufferList* RenderRig::PrepareList(UInt32 frames, Buffers buffers) {
  Reserve(frames);
  mFrames = frames;
  auto* list = reinterpret_cast<AudioBufferList*>(mListStorage.data());
  list->mNumberBuffers = mChannels;
  for (UInt32 channel = 0; channel < mChannels; ++channel) {
    AudioBuffer& buffer = list->mBuffers[channel];
    buffer.mNumberChannels = 1;
    buffer.mDataByteSize = frames * sizeof(float);
    if (buffers == Buffers::Host) {
      std::fill(mHostBuffers[channel].begin(), mHostBuffers[channel].end(), kUnwritten);
      buffer.mData = mHostBuffers[channel].data();
    } else {
      buffer.mData = nullptr;
    }
  }
  return list;
}

const AudioTimeStamp& RenderRig::Advance(UInt32 frames) {
  mTimeStamp = AudioTimeStamp{};
  mTimeStamp.mSampleTime = mSampleTime;
  mTimeStamp.mFlags = kAudioTimeStampSampleTimeValid;
  mSampleTime += frames;
  return mTimeStamp;
}

OSStatus RenderRig::Render(UInt32 frames, AudioUnitRenderActionFlags* flags, Buffers buffers) {
  AudioBufferList* list = PrepareList(frames, buffers);
  Advance(frames);
  const OSStatus status = mFastRender != nullptr
                              ? mFastRender(mFastStorage, flags, &mTimeStamp, 0, frames, list)
                              : AudioUnitRender(mUnit.Get(), flags, &mTimeStamp, 0, frames, list);
  if (status != noErr) return status;

  if (list->mNumberBuffers != mChannels) {
    NoteProblem(fmt::format("the output list came back with {} buffers instead of {}", list->mNumberBuffers,
                            mChannels));
    return status;
  }
  for (UInt32 channel = 0; channel < mChannels; ++channel) {
    const AudioBuffer& buffer = list->mBuffers[channel];
    std::vector<float>& output = mOutput[channel];
    output.assign(frames, kUnwritten);
    if (buffer.mDataByteSize != frames * sizeof(float)) {
      NoteProblem(fmt::format("output buffer {} came back with {} bytes for {} frames", channel,
                              buffer.mDataByteSize, frames));
    }
    if (buffer.mData == nullptr) {
      NoteProblem(fmt::format("output buffer {} came back without memory", channel));
      continue;
    }
    if (buffers == Buffers::Host && buffer.mData != mHostBuffers[channel].data()) {
      NoteProblem(fmt::format("output buffer {} no longer points at the host's memory", channel));
    }
    const UInt32 readable = std::min<UInt32>(buffer.mDataByteSize / sizeof(float), frames);
    const auto* samples = static_cast<const float*>(buffer.mData);
    std::copy(samples, samples + readable, output.begin());
  }
  return status;
}

std::span<const float> RenderRig::Output(UInt32 channel) const {
  if (channel >= mOutput.size()) return {};
  return mOutput[channel];
}

void RenderRig::ScanOutput(SampleStats& stats) const {
  for (const std::vector<float>& channel : mOutput) stats.Add(channel);
}

std::vector<float> RenderRig::Input(UInt32 channel, Float64 start, UInt32 frames) const {
  std::vector<float> input(frames);
  const auto first = static_cast<std::int64_t>(start);
  for (UInt32 i = 0; i < frames; ++i) input[i] = SignalSample(mSignal, channel, first + i, mSampleRate);
  return input;
}

OSStatus RenderRig::InputProc(void* refCon, AudioUnitRenderActionFlags* /*flags*/,
                              const AudioTimeStamp* timeStamp, UInt32 bus, UInt32 frames,
                              AudioBufferList* list) {
  return static_cast<RenderRig*>(refCon)->FillInput(timeStamp, bus, frames, list);
}

OSStatus RenderRig::FillInput(const AudioTimeStamp* timeStamp, UInt32 bus, UInt32 frames,
                              AudioBufferList* list) {
  ++mInputCalls;
  if (timeStamp == nullptr || list == nullptr) {
    NoteProblem("the input callback was called without a time stamp or buffer list");
    return kAudio_ParamError;
  }
  if (bus != 0) NoteProblem(fmt::format("the input callback was asked for bus {}", bus));
  if (frames != mFrames) {
    NoteProblem(
        fmt::format("the input callback was asked for {} frames during a render of {}", frames, mFrames));
  }
  if (timeStamp->mSampleTime != mTimeStamp.mSampleTime) {
    NoteProblem(fmt::format("the input callback got sample time {:f} during a render at {:f}",
                            timeStamp->mSampleTime, mTimeStamp.mSampleTime));
  }
  if (list->mNumberBuffers != mChannels) {
    NoteProblem(
        fmt::format("the input callback got {} buffers for {} channels", list->mNumberBuffers, mChannels));
    return mInputStatus;
  }
  const UInt32 fillable = std::min(frames, mCapacity);
  const auto first = static_cast<std::int64_t>(timeStamp->mSampleTime);
  for (UInt32 channel = 0; channel < mChannels; ++channel) {
    AudioBuffer& buffer = list->mBuffers[channel];
    if (buffer.mData == nullptr) {
      // The unit asks the host for the memory as well as the samples.
      buffer.mData = mInputBuffers[channel].data();
      buffer.mDataByteSize = fillable * sizeof(float);
    } else if (buffer.mDataByteSize < frames * sizeof(float)) {
      NoteProblem(fmt::format("the input callback got {} bytes in buffer {} for {} frames",
                              buffer.mDataByteSize, channel, frames));
      continue;
    }
    auto* samples = static_cast<float*>(buffer.mData);
    for (UInt32 i = 0; i < fillable; ++i) samples[i] = SignalSample(mSignal, channel, first + i, mSampleRate);
  }
  return mInputStatus;
}

}  // namespace varsile::validate
