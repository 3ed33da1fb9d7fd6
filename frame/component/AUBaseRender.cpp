// The render cycle: the fast render entry, DoRender, output memory, once per
// time stamp, render notifications.
#include <cstdint>

#include "AUBase.h"
#include "AUElementCast.h"
#include "CatchAsStatus.h"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace {

// Flush-to-zero and denormals-are-zero for the lifetime of the object; the
// caller's floating-point control state comes back on every way out. The
// state is per thread, so the host thread's own setting is untouched.
class DenormalsFlushedToZero {
 public:
#if defined(__x86_64__) || defined(__i386__)
  static constexpr unsigned kFlushToZero = 0x8000;
  static constexpr unsigned kDenormalsAreZero = 0x0040;
  // Writing the control register costs a render several nanoseconds; a host
  // thread that flushes already is left as it is.
  DenormalsFlushedToZero() noexcept : mSaved(_mm_getcsr()) {
    if ((mSaved & kBoth) != kBoth) _mm_setcsr(mSaved | kBoth);
  }
  // A render notification may have changed other control bits too (the
  // rounding mode): every control bit comes back, written only when one differs.
  ~DenormalsFlushedToZero() {
    if ((_mm_getcsr() & kControl) != (mSaved & kControl)) _mm_setcsr(mSaved);
  }

 private:
  static constexpr unsigned kBoth = kFlushToZero | kDenormalsAreZero;
  static constexpr unsigned kControl = ~0x3Fu;  // the low six bits are sticky exception flags
  unsigned mSaved;
#elif defined(__aarch64__)
  // FPCR.FZ flushes both denormal inputs and results.
  static constexpr std::uint64_t kFlushToZero = std::uint64_t{1} << 24;
  DenormalsFlushedToZero() noexcept {
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(mSaved));
    __asm__ __volatile__("msr fpcr, %0" : : "r"(mSaved | kFlushToZero));
  }
  ~DenormalsFlushedToZero() {
    __asm__ __volatile__("msr fpcr, %0" : : "r"(mSaved));
  }

 private:
  std::uint64_t mSaved = 0;
#else
  DenormalsFlushedToZero() noexcept = default;
#endif

 public:
  DenormalsFlushedToZero(const DenormalsFlushedToZero&) = delete;
  DenormalsFlushedToZero& operator=(const DenormalsFlushedToZero&) = delete;
};

// The host's list against the output format, before anything is written or
// any notification runs: the buffer count, each buffer's channel count (the
// slices step through a buffer by it), one memory choice for the whole list
// (a list mixing null and non-null mData would have the kernels write through
// the null ones), and room for the frames in every buffer that brings memory
// (whose size then becomes exactly that).
OSStatus CheckHostBufferList(const CAStreamBasicDescription& format, UInt32 frames,
                             AudioBufferList& list) noexcept {
  if (list.mNumberBuffers != format.NumberChannelStreams()) return kAudio_ParamError;
  const UInt32 channels = format.NumberInterleavedChannels();
  UInt32 nullBuffers = 0;
  for (UInt32 i = 0; i < list.mNumberBuffers; ++i) {
    if (list.mBuffers[i].mNumberChannels != channels) return kAudio_ParamError;
    nullBuffers += list.mBuffers[i].mData == nullptr;
  }
  if (nullBuffers != 0 && nullBuffers != list.mNumberBuffers) return kAudio_ParamError;
  // 64 bits: a product beyond 32 bits is more than any buffer can hold.
  const UInt64 expected = UInt64{frames} * format.mBytesPerFrame;
  for (UInt32 i = 0; i < list.mNumberBuffers; ++i) {
    if (list.mBuffers[i].mData != nullptr && list.mBuffers[i].mDataByteSize < expected)
      return kAudio_ParamError;
  }
  for (UInt32 i = 0; i < list.mNumberBuffers; ++i) {
    if (list.mBuffers[i].mData != nullptr) list.mBuffers[i].mDataByteSize = static_cast<UInt32>(expected);
  }
  return noErr;
}

}  // namespace

OSStatus AudioUnitBaseRender(void* storage, AudioUnitRenderActionFlags* ioActionFlags,
                             const AudioTimeStamp* timeStamp, UInt32 busNumber, UInt32 frames,
                             AudioBufferList* ioData) {
  // A null instance cannot come from a host that got this entry from us, but
  // costs nothing to refuse.
  auto* const instance = static_cast<AUBase*>(storage);
  if (instance == nullptr || timeStamp == nullptr || ioData == nullptr) return kAudio_ParamError;
  AudioUnitRenderActionFlags localFlags = 0;
  if (ioActionFlags == nullptr) ioActionFlags = &localFlags;
  // DoRender returns every error; nothing is thrown through here.
  return instance->DoRender(*ioActionFlags, *timeStamp, busNumber, frames, *ioData);
}

OSStatus AUBase::DoRender(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& timeStamp,
                          UInt32 busNumber, UInt32 frames, AudioBufferList& ioData) noexcept {
  const DenormalsFlushedToZero denormalsOff;

  // The first error stays until the host reads it; only that one is announced.
  const auto record = [this](OSStatus error) noexcept {
    OSStatus none = noErr;
    if (!mRenderError.compare_exchange_strong(none, error)) return;
    try {
      PropertyChanged(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0);
    } catch (...) {
      // A listener that throws must not take the render thread down.
    }
  };
  const auto callNotifications = [this, &timeStamp, busNumber, frames,
                                  &ioData](AudioUnitRenderActionFlags flags) {
    // The entries share this local word, never the caller's.
    for (RenderCallback& entry : mRenderNotifications) {
      (void)entry.mProc(entry.mRefCon, &flags, &timeStamp, busNumber, frames, &ioData);
    }
  };

  // Set once the render got past its checks: that ending records its own
  // error and empties the pending events.
  bool normalEnding = false;
  const OSStatus status = CatchAsStatus([&]() -> OSStatus {
    if (!IsInitialized()) return kAudioUnitErr_Uninitialized;
    if (mAudioUnitAPIVersion < 2) return kAudio_ParamError;
    if (frames > mMaxFramesPerSlice) return kAudioUnitErr_TooManyFramesToProcess;
    AUOutputElement* const output = AUElementCast<AUOutputElement>(Outputs().GetElement(busNumber));
    // Refused without throwing: an exception would allocate on the render thread.
    if (output == nullptr) return kAudioUnitErr_InvalidElement;
    if (const OSStatus error = CheckHostBufferList(output->GetStreamFormat(), frames, ioData);
        error != noErr) {
      return error;
    }
    const bool notify = mNotificationsUsed.load();
    if (notify) {
      mRenderNotifications.update();
      callNotifications(ioActionFlags | kAudioUnitRenderAction_PreRender);
    }
    const OSStatus result = DoRenderBus(ioActionFlags, timeStamp, busNumber, output, frames, ioData);
    AudioUnitRenderActionFlags post = ioActionFlags | kAudioUnitRenderAction_PostRender;
    if (result != noErr) {
      record(result);
      post |= kAudioUnitRenderAction_PostRenderError;
    }
    // The same entries as the pre-render pass: no update in between.
    if (notify) callNotifications(post);
    mPendingEvents.clear();
    normalEnding = true;
    return result;
  });
  // A thrown 0 is no error. Events scheduled for a refused or failed render
  // stay for the next one.
  if (!normalEnding && status != noErr) record(status);
  return status;
}

OSStatus AUBase::DoRenderBus(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& timeStamp,
                             UInt32 busNumber, AUOutputElement* output, UInt32 frames,
                             AudioBufferList& ioData) {
  // The request checks made sure the whole list agrees.
  const bool callerWantsOurMemory = ioData.mNumberBuffers != 0 && ioData.mBuffers[0].mData == nullptr;
  // RenderBus's own rule: a repeated time stamp renders nothing.
  const bool repeated = timeStamp.mSampleTime == mLastSampleTime.load(std::memory_order_relaxed);

  if (callerWantsOurMemory || (output->WillAllocateBuffer() && Outputs().GetNumberOfElements() > 1)) {
    output->PrepareBuffer(frames);
  } else {
    output->SetBufferList(ioData);
  }

  if (const OSStatus result = RenderBus(ioActionFlags, timeStamp, busNumber, frames); result != noErr) {
    return result;
  }
  // A repeat of this time stamp that asks for the unit's memory gets these
  // samples, wherever they were rendered (in place, or into the caller's buffers).
  if (!repeated && output->WillAllocateBuffer())
    output->GetBuffers().KeepInOwnBlock(output->GetStreamFormat(), frames);

  if (callerWantsOurMemory) {
    output->CopyBufferListTo(ioData);
  } else {
    // Moves nothing where the unit rendered straight into the caller's buffers.
    output->CopyBufferContentsTo(ioData);
    output->InvalidateBufferList();
  }
  return noErr;
}

OSStatus AUBase::RenderBus(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& timeStamp, UInt32,
                           UInt32 frames) {
  const Float64 sampleTime = timeStamp.mSampleTime;
  const Float64 last = mLastSampleTime.load(std::memory_order_relaxed);
  mLastSampleTime.store(sampleTime, std::memory_order_relaxed);
  // != is true when either is a NaN: a NaN time stamp always renders.
  if (sampleTime != last) return Render(ioActionFlags, timeStamp, frames);
  return noErr;
}

OSStatus AUBase::Render(AudioUnitRenderActionFlags&, const AudioTimeStamp&, UInt32) {
  return noErr;
}

OSStatus AUBase::SetRenderNotification(AURenderCallback proc, void* refCon) {
  if (proc == nullptr) return kAudio_ParamError;
  mNotificationsUsed.store(true);
  mRenderNotifications.deferred_add(RenderCallback{proc, refCon});
  return noErr;
}

OSStatus AUBase::RemoveRenderNotification(AURenderCallback proc, void* refCon) {
  mRenderNotifications.deferred_remove(RenderCallback{proc, refCon});
  return noErr;
}
