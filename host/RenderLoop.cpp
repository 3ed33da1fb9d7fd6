#include "RenderLoop.h"

#include <Varsile/CoreTypes.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace varsile::host {

RenderLoop::RenderLoop(AudioUnitHandle& unit, Float64 sampleRate, UInt32 channels, UInt32 maxFrames)
    : mUnit(unit), mChannels(channels), mMaxFrames(maxFrames) {
  if (channels == 0 || maxFrames == 0) {
    throw HostError("setting up the render loop: no channels or no frames", kAudio_ParamError);
  }
  const AudioStreamBasicDescription format = CanonicalFormat(sampleRate, channels);
  mUnit.SetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, format);
  mUnit.SetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, format);
  mUnit.SetProperty(kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, maxFrames);

  mScratch.assign(std::size_t{channels} * maxFrames, 0.0f);
  mInputAt.resize(channels);
  mOutputAt.resize(channels);
  const std::size_t listBytes =
      offsetof(AudioBufferList, mBuffers) + std::size_t{channels} * sizeof(AudioBuffer);
  mOutputListMemory = std::make_unique<std::byte[]>(std::max(listBytes, sizeof(AudioBufferList)));
  mOutputList = new (mOutputListMemory.get()) AudioBufferList{};
  mOutputList->mNumberBuffers = channels;

  const AURenderCallbackStruct callback{&RenderLoop::SupplyInput, this};
  mUnit.SetProperty(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, callback);
}

RenderLoop::~RenderLoop() {
  if (!mUnit) return;
  // The unit must not call back into a loop that is gone.
  const AURenderCallbackStruct none{nullptr, nullptr};
  static_cast<void>(AudioUnitSetProperty(mUnit.Get(), kAudioUnitProperty_SetRenderCallback,
                                         kAudioUnitScope_Input, 0, &none, sizeof(none)));
}

void RenderLoop::Render(const Float32* const* input, Float32* const* output, UInt32 frames) {
  if (frames == 0) return;
  if (frames > mMaxFrames) {
    throw HostError("rendering " + std::to_string(frames) + " frames", kAudioUnitErr_TooManyFramesToProcess);
  }
  if (mHop == 0) {
    RenderCall(input, output, frames);
    return;
  }
  for (UInt32 done = 0; done < frames;) {
    const auto toGrid = static_cast<UInt32>((mHop - 1 - static_cast<UInt64>(mSampleTime) % mHop) % mHop);
    const UInt32 span = std::min(frames - done, toGrid == 0 ? mHop : toGrid);
    for (UInt32 c = 0; c < mChannels; ++c) {
      mInputAt[c] = input[c] + done;
      mOutputAt[c] = output[c] + done;
    }
    RenderCall(mInputAt.data(), mOutputAt.data(), span);
    done += span;
  }
}

void RenderLoop::RenderCall(const Float32* const* input, Float32* const* output, UInt32 frames) {
  for (UInt32 c = 0; c < mChannels; ++c) {
    AudioBuffer& buffer = mOutputList->mBuffers[c];
    buffer.mNumberChannels = 1;
    buffer.mDataByteSize = frames * sizeof(Float32);
    buffer.mData = output[c];
  }
  AudioTimeStamp timeStamp{};
  timeStamp.mSampleTime = mSampleTime;
  timeStamp.mFlags = kAudioTimeStampSampleTimeValid;
  AudioUnitRenderActionFlags flags = 0;

  mInput = input;
  mInputFrames = frames;
  const OSStatus status = AudioUnitRender(mUnit.Get(), &flags, &timeStamp, 0, frames, mOutputList);
  mInput = nullptr;
  ThrowIfError(status, "rendering");

  // A unit may answer with pointers to its own memory instead of ours.
  for (UInt32 c = 0; c < mChannels; ++c) {
    const void* rendered = mOutputList->mBuffers[c].mData;
    if (rendered != output[c]) {
      if (rendered == nullptr) throw HostError("rendering: the unit returned no samples", kAudio_ParamError);
      std::memmove(output[c], rendered, std::size_t{frames} * sizeof(Float32));
    }
  }
  mSampleTime += frames;
}

OSStatus RenderLoop::SupplyInput(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32 bus,
                                 UInt32 frames, AudioBufferList* ioData) noexcept {
  auto* self = static_cast<RenderLoop*>(refCon);
  if (self == nullptr || ioData == nullptr || self->mInput == nullptr) return kAudioUnitErr_NoConnection;
  if (bus != 0 || frames > self->mInputFrames || ioData->mNumberBuffers != self->mChannels) {
    return kAudio_ParamError;
  }
  const std::size_t bytes = std::size_t{frames} * sizeof(Float32);
  for (UInt32 c = 0; c < self->mChannels; ++c) {
    AudioBuffer& buffer = ioData->mBuffers[c];
    if (buffer.mData == nullptr) {
      buffer.mData = self->mScratch.data() + std::size_t{c} * self->mMaxFrames;
      buffer.mDataByteSize = static_cast<UInt32>(bytes);
    } else if (buffer.mDataByteSize < bytes) {
      return kAudio_ParamError;
    }
    if (buffer.mData != self->mInput[c]) std::memcpy(buffer.mData, self->mInput[c], bytes);
    buffer.mDataByteSize = static_cast<UInt32>(bytes);
  }
  return noErr;
}

}  // namespace varsile::host
