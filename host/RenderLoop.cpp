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

  mInputAt.resize(channels);
  mOutputAt.resize(channels);
  mScratch.assign(std::size_t{channels} * maxFrames, 0.0f);
  mDiscard.assign(maxFrames, 0.0f);
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
  static_cast<void>(
      mUnit.Instance().Set(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, none));
}

void RenderLoop::Render(const Float32* const* input, Float32* const* output, UInt32 frames) {
  if (frames > mMaxFrames) {
    throw HostError("rendering " + std::to_string(frames) + " frames", kAudioUnitErr_TooManyFramesToProcess);
  }
  ThrowIfError(TryRender(input, output, frames), "rendering");
}

OSStatus RenderLoop::TryRender(const Float32* const* input, Float32* const* output,
                               UInt32 frames) noexcept VARSILE_NONBLOCKING {
  OSStatus first = noErr;
  for (UInt32 done = 0; done < frames;) {
    UInt32 span = std::min(frames - done, mMaxFrames);
    if (mHop != 0) {
      // Up to the frame before the next one that completes a hop.
      const auto sinceGrid = static_cast<UInt64>(mSampleTime - mGridOrigin);
      span = std::min(span, mHop - static_cast<UInt32>((sinceGrid + 1) % mHop));
    }
    for (UInt32 c = 0; c < mChannels; ++c) {
      mInputAt[c] = input[c] != nullptr ? input[c] + done : nullptr;
      mOutputAt[c] = output[c] != nullptr ? output[c] + done : nullptr;
    }
    const OSStatus status = RenderCall(span);
    if (status != noErr) {
      for (Float32* out : mOutputAt) {
        if (out != nullptr) std::fill_n(out, span, 0.0f);
      }
      if (first == noErr) first = status;
    }
    mSampleTime += span;
    done += span;
  }
  return first;
}

OSStatus RenderLoop::RenderCall(UInt32 frames) noexcept {
  for (UInt32 c = 0; c < mChannels; ++c) {
    AudioBuffer& buffer = mOutputList->mBuffers[c];
    buffer.mNumberChannels = 1;
    buffer.mDataByteSize = frames * sizeof(Float32);
    buffer.mData = mOutputAt[c] != nullptr ? mOutputAt[c] : mDiscard.data();
  }
  AudioTimeStamp timeStamp{};
  timeStamp.mSampleTime = mSampleTime;
  timeStamp.mFlags = kAudioTimeStampSampleTimeValid;
  AudioUnitRenderActionFlags flags = 0;

  mCallFrames = frames;
  const OSStatus status = AudioUnitRender(mUnit.Get(), &flags, &timeStamp, 0, frames, mOutputList);
  mCallFrames = 0;
  if (status != noErr) return status;

  // A unit may answer with pointers to its own memory instead of ours.
  for (UInt32 c = 0; c < mChannels; ++c) {
    const void* rendered = mOutputList->mBuffers[c].mData;
    if (mOutputAt[c] == nullptr || rendered == mOutputAt[c]) continue;
    if (rendered == nullptr) return kAudio_ParamError;
    std::memmove(mOutputAt[c], rendered, std::size_t{frames} * sizeof(Float32));
  }
  return noErr;
}

OSStatus RenderLoop::SupplyInput(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32 bus,
                                 UInt32 frames, AudioBufferList* ioData) noexcept {
  auto* self = static_cast<RenderLoop*>(refCon);
  if (self == nullptr || ioData == nullptr || self->mCallFrames == 0) return kAudioUnitErr_NoConnection;
  if (bus != 0 || frames > self->mCallFrames || ioData->mNumberBuffers != self->mChannels) {
    return kAudio_ParamError;
  }
  const std::size_t bytes = std::size_t{frames} * sizeof(Float32);
  for (UInt32 c = 0; c < self->mChannels; ++c) {
    AudioBuffer& buffer = ioData->mBuffers[c];
    if (buffer.mData == nullptr) {
      buffer.mData = self->mScratch.data() + std::size_t{c} * self->mMaxFrames;
    } else if (buffer.mDataByteSize < bytes) {
      return kAudio_ParamError;
    }
    buffer.mDataByteSize = static_cast<UInt32>(bytes);
    const Float32* input = self->mInputAt[c];
    auto* destination = static_cast<Float32*>(buffer.mData);
    if (input == nullptr) {
      std::fill_n(destination, frames, 0.0f);
    } else if (destination != input) {
      std::memmove(destination, input, bytes);
    }
  }
  return noErr;
}

}  // namespace varsile::host
