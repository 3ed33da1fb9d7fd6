// An input bus: where its audio comes from (an upstream unit or a host
// callback) and how it is pulled.
#pragma once

#include "AUIOElement.h"

class AUInputElement : public AUIOElement {
 public:
  enum EInputType : UInt32 {
    kSourceNone = 0,
    kSourceConnection = 1,
    kSourceCallback = 2,
  };

  explicit AUInputElement(AUBase* audioUnit);

  OSStatus SetStreamFormat(const AudioStreamBasicDescription& format) override;
  // Only a callback renders into the element's own memory.
  bool NeedsBufferSpace() const override { return mSource == kSourceCallback; }

  // A null source unit disconnects.
  void SetConnection(const AudioUnitConnection& connection);
  // A null procedure removes the callback.
  void SetInputCallback(AURenderCallback procedure, void* refCon);

  bool IsActive() const noexcept { return mSource != kSourceNone; }
  bool IsCallback() const noexcept { return mSource == kSourceCallback; }
  bool HasConnection() const noexcept { return mSource == kSourceConnection; }
  const AudioUnitConnection& GetConnection() const noexcept { return mConnection; }

  // Without a source returns kAudioUnitErr_NoConnection before touching any buffer.
  OSStatus PullInput(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& timeStamp,
                     AudioUnitElement element, UInt32 frames) VARSILE_NONBLOCKING;
  OSStatus PullInputWithBufferList(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& timeStamp,
                                   AudioUnitElement element, UInt32 frames, AudioBufferList& list) VARSILE_NONBLOCKING;

 protected:
  EInputType mSource = kSourceNone;
  AURenderCallback mCallback = nullptr;
  void* mCallbackRefCon = nullptr;
  AudioUnitConnection mConnection{};
  AudioUnitRenderProc mUpstreamRender = nullptr;  // the upstream's fast render entry
  void* mUpstreamInstance = nullptr;              // its storage, first argument of that entry
};
