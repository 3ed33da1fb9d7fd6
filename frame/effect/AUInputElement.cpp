#include "AUInputElement.h"

#include "AUBase.h"
#include "BufferListChecks.h"

AUInputElement::AUInputElement(AUBase* audioUnit) : AUIOElement(audioUnit) {}

OSStatus AUInputElement::SetStreamFormat(const AudioStreamBasicDescription& format) {
  AUIOElement::SetStreamFormat(format);
  AllocateBuffer(0);
  return noErr;
}

void AUInputElement::SetConnection(const AudioUnitConnection& connection) {
  if (connection.sourceAudioUnit == nullptr) {
    mSource = kSourceNone;
    mBuffers.Deallocate();
    return;
  }
  mSource = kSourceConnection;
  mConnection = connection;
  mUpstreamRender = nullptr;
  mUpstreamInstance = nullptr;
  // The upstream unit supplies the memory: this allocates no samples.
  AllocateBuffer(0);

  // Its fast render entry, when it hands one out, saves a trip through its
  // dispatcher on every render.
  AudioUnitRenderProc render = nullptr;
  UInt32 size = sizeof(render);
  if (AudioUnitGetProperty(connection.sourceAudioUnit, kAudioUnitProperty_FastDispatch,
                           kAudioUnitScope_Global, kAudioUnitRenderSelect, &render, &size) == noErr &&
      render != nullptr) {
    mUpstreamRender = render;
    mUpstreamInstance = GetComponentInstanceStorage(connection.sourceAudioUnit);
  }
}

void AUInputElement::SetInputCallback(AURenderCallback procedure, void* refCon) {
  if (procedure == nullptr) {
    mSource = kSourceNone;
    mBuffers.Deallocate();
    return;
  }
  mSource = kSourceCallback;
  mCallback = procedure;
  mCallbackRefCon = refCon;
  AllocateBuffer(0);
}

OSStatus AUInputElement::PullInput(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& timeStamp,
                                   AudioUnitElement element, UInt32 frames) {
  if (mSource == kSourceNone) return kAudioUnitErr_NoConnection;
  // A callback renders into our memory; an upstream unit hands us its pointers.
  AudioBufferList& list = (mSource != kSourceConnection && mAllocatesBuffer)
                              ? mBuffers.PrepareBuffer(mFormat, frames)
                              : mBuffers.PrepareNullBuffer(mFormat, frames);
  const OSStatus status = PullInputWithBufferList(ioActionFlags, timeStamp, element, frames, list);
  if (status != noErr) return status;
  // The list came back from outside: the kernels must not read through a short one.
  return CheckPulledBufferList(list, mFormat, frames);
}

OSStatus AUInputElement::PullInputWithBufferList(AudioUnitRenderActionFlags& ioActionFlags,
                                                 const AudioTimeStamp& timeStamp, AudioUnitElement element,
                                                 UInt32 frames, AudioBufferList& list) {
  OSStatus status = noErr;
  if (mSource == kSourceConnection) {
    if (mUpstreamRender != nullptr) {
      status = mUpstreamRender(mUpstreamInstance, &ioActionFlags, &timeStamp, mConnection.sourceOutputNumber,
                               frames, &list);
    } else {
      status = AudioUnitRender(mConnection.sourceAudioUnit, &ioActionFlags, &timeStamp,
                               mConnection.sourceOutputNumber, frames, &list);
    }
  } else if (mSource == kSourceCallback) {
    status = mCallback(mCallbackRefCon, &ioActionFlags, &timeStamp, element, frames, &list);
  }
  // The source may have gone away during the call.
  if (mSource == kSourceNone) return kAudioUnitErr_NoConnection;
  return status;
}
