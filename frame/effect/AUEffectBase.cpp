// The effect base: kernels, bypass, in-place processing, render and slices.
#include "AUEffectBase.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

#include "AUElementCast.h"

namespace {

constexpr UInt32 kBytesPerSample = sizeof(Float32);  // the canonical format's

// Bytes of `frames` frames of a buffer, as the slices count them.
std::size_t SpanBytes(const AudioBuffer& buffer, UInt32 frames) noexcept {
  return std::size_t{frames} * buffer.mNumberChannels * kBytesPerSample;
}

void SetSliceSizes(AudioBufferList& list, UInt32 frames) noexcept {
  for (UInt32 i = 0; i < list.mNumberBuffers; ++i) {
    AudioBuffer& b = list.mBuffers[i];
    b.mDataByteSize = static_cast<UInt32>(SpanBytes(b, frames));
  }
}

// Moves every buffer's data pointer by `frames` frames, forward or back.
void MoveData(AudioBufferList& list, UInt32 frames, bool forward) noexcept {
  for (UInt32 i = 0; i < list.mNumberBuffers; ++i) {
    AudioBuffer& b = list.mBuffers[i];
    if (b.mData == nullptr) continue;
    Byte* data = static_cast<Byte*>(b.mData);
    const std::size_t bytes = SpanBytes(b, frames);
    b.mData = forward ? data + bytes : data - bytes;
  }
}

bool ChannelsMatch(const AUChannelInfo& info, SInt16 in, SInt16 out) noexcept {
  if (info.inChannels < 0 && info.outChannels < 0) {
    if ((info.inChannels == -1 && info.outChannels == -2) ||
        (info.inChannels == -2 && info.outChannels == -1))
      return true;
    return info.inChannels == -1 && info.outChannels == -1 && in == out;
  }
  return (info.inChannels == in || info.inChannels == -1) &&
         (info.outChannels == out || info.outChannels == -1);
}

// Frames of latency and tail, truncated toward zero; whatever an override
// answers (NaN, infinite, huge), the conversion stays defined.
SInt32 CountdownFrames(Float64 seconds, Float64 sampleRate) noexcept {
  const Float64 frames = seconds * sampleRate;
  if (std::isnan(frames)) return 0;
  if (frames >= static_cast<Float64>(std::numeric_limits<SInt32>::max()))
    return std::numeric_limits<SInt32>::max();
  if (frames <= static_cast<Float64>(std::numeric_limits<SInt32>::min()))
    return std::numeric_limits<SInt32>::min();
  return static_cast<SInt32>(frames);
}

}  // namespace

AUEffectBase::AUEffectBase(AudioComponentInstance instance, bool processesInPlace)
    : AUBase(instance, 1, 1, 0, 0), mInPlace(processesInPlace) {}

AUEffectBase::~AUEffectBase() {
  AUEffectBase::Cleanup();
}

OSStatus AUEffectBase::Initialize() {
  // Taken as signed 16-bit numbers, as the published configurations are.
  const auto in = static_cast<SInt16>(GetInput(0)->GetStreamFormat().mChannelsPerFrame);
  const auto out = static_cast<SInt16>(GetOutput(0)->GetStreamFormat().mChannelsPerFrame);

  const AUChannelInfo* infos = nullptr;
  const UInt32 count = SupportedNumChannels(&infos);
  if (count > 0 && infos != nullptr) {
    bool matched = false;
    for (UInt32 i = 0; i < count && !matched; ++i) matched = ChannelsMatch(infos[i], in, out);
    if (!matched) return kAudioUnitErr_FormatNotSupported;
  } else if (out != in || out == 0) {
    return kAudioUnitErr_FormatNotSupported;
  }
  MaintainKernels();
  return noErr;
}

void AUEffectBase::MaintainKernels() {
  const UInt32 n = GetOutput(0)->GetStreamFormat().mChannelsPerFrame;
  if (mKernels.size() < n) {
    // Reserved first, so that appending never throws with a new kernel in hand.
    mKernels.reserve(n);
    while (mKernels.size() < n) mKernels.emplace_back(NewKernel());
  }
  while (mKernels.size() > n) mKernels.pop_back();
  for (UInt32 i = 0; i < n; ++i) {
    if (mKernels[i]) mKernels[i]->SetChannelNum(i);
  }
}

OSStatus AUEffectBase::Reset(AudioUnitScope scope, AudioUnitElement element) {
  for (auto& kernel : mKernels) {
    if (kernel) kernel->Reset();
  }
  AUBase::Reset(scope, element);
  return noErr;
}

OSStatus AUEffectBase::GetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                       UInt32& outDataSize, Boolean& outWritable) {
  if (scope == kAudioUnitScope_Global &&
      (id == kAudioUnitProperty_BypassEffect || id == kAudioUnitProperty_InPlaceProcessing)) {
    outDataSize = sizeof(UInt32);
    outWritable = true;
    return noErr;
  }
  return AUBase::GetPropertyInfo(id, scope, element, outDataSize, outWritable);
}

OSStatus AUEffectBase::GetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                   void* outData) {
  if (scope == kAudioUnitScope_Global &&
      (id == kAudioUnitProperty_BypassEffect || id == kAudioUnitProperty_InPlaceProcessing)) {
    const UInt32 value = (id == kAudioUnitProperty_BypassEffect ? mBypass : mInPlace) ? 1 : 0;
    std::memcpy(outData, &value, sizeof value);
    return noErr;
  }
  return AUBase::GetProperty(id, scope, element, outData);
}

OSStatus AUEffectBase::SetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                   const void* inData, UInt32 inDataSize) {
  if (scope == kAudioUnitScope_Global &&
      (id == kAudioUnitProperty_BypassEffect || id == kAudioUnitProperty_InPlaceProcessing)) {
    // Both read four bytes; a shorter value is refused rather than overread.
    if (inDataSize < sizeof(UInt32)) return kAudioUnitErr_InvalidPropertyValue;
    UInt32 value = 0;
    std::memcpy(&value, inData, sizeof value);
    const bool on = value != 0;
    if (id == kAudioUnitProperty_InPlaceProcessing) {
      mInPlace = on;
      return noErr;
    }
    if (on == mBypass) return noErr;
    // Kernels resume from a clean state, not from where they were left; the
    // render thread resets them before it next processes.
    if (!on && IsInitialized()) {
      mKernelResetPending.store(true, std::memory_order_release);
      AUBase::Reset(kAudioUnitScope_Global, 0);
    }
    SetBypassEffect(on);
    return noErr;
  }
  return AUBase::SetProperty(id, scope, element, inData, inDataSize);
}

OSStatus AUEffectBase::Render(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& timeStamp,
                              UInt32 frames) {
  AUInputElement* const input = AUElementCast<AUInputElement>(Inputs().GetElement(0));
  if (input == nullptr || !input->IsActive()) return kAudioUnitErr_NoConnection;

  AUOutputElement* output = GetOutput(0);
  if (const OSStatus status = input->PullInput(ioActionFlags, timeStamp, 0, frames); status != noErr)
    return status;

  // Only an output with its own memory can be pointed at the input: one that
  // uses the host's memory must be written, even in place.
  const bool outputIsInput = mInPlace && output->WillAllocateBuffer();
  if (outputIsInput) output->SetBufferList(input->GetBufferList());

  AudioBufferList& inputList = input->GetBufferList();
  AudioBufferList& outputList = output->GetBufferList();
  if (mKernelResetPending.load(std::memory_order_relaxed) &&
      mKernelResetPending.exchange(false, std::memory_order_acquire)) {
    for (auto& kernel : mKernels) {
      if (kernel) kernel->Reset();
    }
  }
  OSStatus result = noErr;
  if (ShouldBypassEffect()) {
    if (!outputIsInput) input->CopyBufferContentsTo(outputList);
  } else if (mPendingEvents.empty()) {
    result = ProcessBufferLists(ioActionFlags, inputList, outputList, frames);
  } else {
    ScheduledSliceContext context{&ioActionFlags, &inputList, &outputList};
    result = ProcessForScheduledParams(mPendingEvents, frames, &context);
    // Undo the slices' advances.
    for (AudioBufferList* list : {&inputList, &outputList}) {
      MoveData(*list, frames, false);
      SetSliceSizes(*list, frames);
    }
  }

  // After a failed slice the pointers were moved back further than they had
  // advanced, and the render cycle discards the output anyway: no fill then.
  if ((ioActionFlags & kAudioUnitRenderAction_OutputIsSilence) && !outputIsInput && result == noErr) {
    for (UInt32 i = 0; i < outputList.mNumberBuffers; ++i) {
      AudioBuffer& b = outputList.mBuffers[i];
      if (b.mData != nullptr) std::memset(b.mData, 0, b.mDataByteSize);
    }
  }
  return result;
}

bool AUEffectBase::StreamFormatWritable(AudioUnitScope, AudioUnitElement) {
  return !IsInitialized();
}

OSStatus AUEffectBase::ProcessScheduledSlice(void* context, UInt32, UInt32 sliceFrames, UInt32) {
  auto& slice = *static_cast<ScheduledSliceContext*>(context);
  SetSliceSizes(*slice.mInput, sliceFrames);
  SetSliceSizes(*slice.mOutput, sliceFrames);
  const OSStatus result = ProcessBufferLists(*slice.mActionFlags, *slice.mInput, *slice.mOutput, sliceFrames);
  // Advanced whatever the result: the render moves them back by the whole buffer.
  MoveData(*slice.mInput, sliceFrames, true);
  MoveData(*slice.mOutput, sliceFrames, true);
  return result;
}

OSStatus AUEffectBase::ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags,
                                          const AudioBufferList& input, AudioBufferList& output,
                                          UInt32 frames) {
  const bool silentIn = IsInputSilent(ioActionFlags, frames);
  ioActionFlags |= kAudioUnitRenderAction_OutputIsSilence;

  // The lists come from the host and from input callbacks: a kernel whose
  // channel a list does not hold is skipped rather than sent past its end.
  const auto run = [&](AUKernelBase& kernel, const void* source, void* destination, UInt32 stride) {
    if (source == nullptr || destination == nullptr) return;
    bool ioSilence = silentIn;
    kernel.Process(static_cast<const Float32*>(source), static_cast<Float32*>(destination), frames, stride,
                   ioSilence);
    if (!ioSilence) ioActionFlags &= ~kAudioUnitRenderAction_OutputIsSilence;
  };

  const auto kernels = static_cast<UInt32>(mKernels.size());
  if (input.mNumberBuffers == 1) {
    // Interleaved: kernel i takes every stride-th sample from sample i, in
    // and out alike, so the output must have at least the input's channels.
    const AudioBuffer& in = input.mBuffers[0];
    const UInt32 stride = in.mNumberChannels;
    if (output.mNumberBuffers < 1 || output.mBuffers[0].mNumberChannels < stride) return noErr;
    AudioBuffer& out = output.mBuffers[0];
    for (UInt32 i = 0; i < kernels && i < stride; ++i) {
      if (!mKernels[i] || in.mData == nullptr || out.mData == nullptr) continue;
      run(*mKernels[i], static_cast<const Float32*>(in.mData) + i, static_cast<Float32*>(out.mData) + i,
          stride);
    }
  } else {
    for (UInt32 i = 0; i < kernels && i < input.mNumberBuffers && i < output.mNumberBuffers; ++i) {
      if (mKernels[i]) run(*mKernels[i], input.mBuffers[i].mData, output.mBuffers[i].mData, 1);
    }
  }
  return noErr;
}

Float32 AUEffectBase::GetParameter(AudioUnitParameterID id) {
  return Globals().SafeGetElement(0)->GetParameter(id);
}

void AUEffectBase::SetParameter(AudioUnitParameterID id, Float32 value) {
  Globals().SafeGetElement(0)->SetParameter(id, value, false);
}

Float64 AUEffectBase::GetSampleRate() {
  return GetIOElement(kAudioUnitScope_Output, 0)->GetStreamFormat().mSampleRate;
}

bool AUEffectBase::IsInputSilent(AudioUnitRenderActionFlags actionFlags, UInt32 frames) {
  if (!(actionFlags & kAudioUnitRenderAction_OutputIsSilence)) {
    mSilenceRearm = true;
    return false;
  }
  if (mSilenceRearm) {
    mSilenceCountdown = CountdownFrames(GetLatency() + GetTailTime(), GetSampleRate());
    mSilenceRearm = false;
  }
  if (mSilenceCountdown > 0) {
    // Widened, so that a long buffer can only take the count below 0, never wrap it.
    const SInt64 left = SInt64{mSilenceCountdown} - SInt64{frames};
    mSilenceCountdown = static_cast<SInt32>(std::max<SInt64>(left, std::numeric_limits<SInt32>::min()));
    return false;
  }
  return true;
}
