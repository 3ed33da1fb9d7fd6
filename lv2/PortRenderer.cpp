#include "PortRenderer.h"

#include <Varsile/CoreTypes.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "HostError.h"

namespace varsile::lv2 {

PortRenderer::PortRenderer(AudioUnit unit, Float64 sampleRate, UInt32 channels, UInt32 maxFrames)
    : mUnit(unit),
      mChannels(channels),
      mMaxFrames(maxFrames),
      mInputs(channels, nullptr),
      mOutputs(channels, nullptr),
      mDiscard(maxFrames, 0.0f),
      mScratch(std::size_t{channels} * maxFrames, 0.0f) {
  if (channels == 0 || maxFrames == 0) {
    throw host::HostError("setting up the renderer: no channels or no frames", kAudio_ParamError);
  }
  const AudioStreamBasicDescription format = CanonicalFormat(sampleRate, channels);
  host::ThrowIfError(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0,
                                          &format, sizeof(format)),
                     "setting the input format");
  host::ThrowIfError(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                                          &format, sizeof(format)),
                     "setting the output format");
  host::ThrowIfError(AudioUnitSetProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice,
                                          kAudioUnitScope_Global, 0, &maxFrames, sizeof(maxFrames)),
                     "setting the maximum frames per slice");

  const std::size_t listBytes =
      offsetof(AudioBufferList, mBuffers) + std::size_t{channels} * sizeof(AudioBuffer);
  mOutputListMemory = std::make_unique<std::byte[]>(std::max(listBytes, sizeof(AudioBufferList)));
  mOutputList = new (mOutputListMemory.get()) AudioBufferList{};
  mOutputList->mNumberBuffers = channels;

  const AURenderCallbackStruct callback{&PortRenderer::SupplyInput, this};
  host::ThrowIfError(AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input,
                                          0, &callback, sizeof(callback)),
                     "setting the render callback");
}

PortRenderer::~PortRenderer() {
  const AURenderCallbackStruct none{nullptr, nullptr};
  static_cast<void>(AudioUnitSetProperty(mUnit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input,
                                         0, &none, sizeof(none)));
}

void PortRenderer::Render(UInt32 frames) noexcept {
  for (UInt32 offset = 0; offset < frames;) {
    UInt32 piece = std::min(frames - offset, mMaxFrames);
    if (mHop != 0) {
      const auto phase = static_cast<UInt64>(mSampleTime - mGridOrigin) % mHop;
      const auto toGrid = static_cast<UInt32>((mHop - 1 - phase) % mHop);
      piece = std::min(piece, toGrid == 0 ? mHop : toGrid);
    }
    if (!RenderPiece(offset, piece)) {
      for (Float32* output : mOutputs) {
        if (output != nullptr) std::fill_n(output + offset, piece, 0.0f);
      }
    }
    mSampleTime += piece;
    offset += piece;
  }
}

bool PortRenderer::RenderPiece(UInt32 offset, UInt32 frames) noexcept {
  // Unconnected outputs share one discard buffer: the component needs
  // memory for every channel, but nobody reads it.
  for (UInt32 c = 0; c < mChannels; ++c) {
    AudioBuffer& buffer = mOutputList->mBuffers[c];
    buffer.mNumberChannels = 1;
    buffer.mDataByteSize = frames * sizeof(Float32);
    buffer.mData = mOutputs[c] != nullptr ? mOutputs[c] + offset : mDiscard.data();
  }
  AudioTimeStamp timeStamp{};
  timeStamp.mSampleTime = mSampleTime;
  timeStamp.mFlags = kAudioTimeStampSampleTimeValid;
  AudioUnitRenderActionFlags flags = 0;

  mPieceOffset = offset;
  mPieceFrames = frames;
  const OSStatus status = AudioUnitRender(mUnit, &flags, &timeStamp, 0, frames, mOutputList);
  mPieceFrames = 0;
  if (status != noErr) return false;

  // A unit may answer with pointers to its own memory instead of ours.
  for (UInt32 c = 0; c < mChannels; ++c) {
    const void* rendered = mOutputList->mBuffers[c].mData;
    if (mOutputs[c] == nullptr || rendered == mOutputs[c] + offset) continue;
    if (rendered == nullptr) return false;
    std::memmove(mOutputs[c] + offset, rendered, std::size_t{frames} * sizeof(Float32));
  }
  return true;
}

OSStatus PortRenderer::SupplyInput(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                   UInt32 bus, UInt32 frames, AudioBufferList* ioData) noexcept {
  auto* self = static_cast<PortRenderer*>(refCon);
  if (self == nullptr || ioData == nullptr) return kAudioUnitErr_NoConnection;
  if (bus != 0 || frames > self->mPieceFrames || ioData->mNumberBuffers != self->mChannels) {
    return kAudio_ParamError;
  }
  const std::size_t bytes = std::size_t{frames} * sizeof(Float32);
  for (UInt32 c = 0; c < self->mChannels; ++c) {
    AudioBuffer& buffer = ioData->mBuffers[c];
    // Never hand out the input port itself: the unit processes in place.
    if (buffer.mData == nullptr) {
      buffer.mData = self->mScratch.data() + std::size_t{c} * self->mMaxFrames;
    } else if (buffer.mDataByteSize < bytes) {
      return kAudio_ParamError;
    }
    buffer.mDataByteSize = static_cast<UInt32>(bytes);
    const Float32* input = self->mInputs[c];
    auto* destination = static_cast<Float32*>(buffer.mData);
    if (input == nullptr) {
      std::fill_n(destination, frames, 0.0f);
    } else if (destination != input + self->mPieceOffset) {
      std::memmove(destination, input + self->mPieceOffset, bytes);
    }
  }
  return noErr;
}

}  // namespace varsile::lv2
