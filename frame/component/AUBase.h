// The audio-unit component: scopes and elements, lifecycle, properties,
// parameters, render and listeners. Its virtual operations are the frame's
// interface; effects specialise it by overriding them.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>

#include <atomic>
#include <type_traits>
#include <vector>

#include "AUElementCreator.h"
#include "AUInputElement.h"
#include "AUOutputElement.h"
#include "AUScope.h"
#include "CAStreamBasicDescription.h"
#include "ComponentBase.h"
#include "TThreadSafeList.h"

class AUBase : public ComponentBase, public AUElementCreator {
 public:
  // A render notification: the host's procedure and its reference value.
  struct RenderCallback {
    AURenderCallback mProc = nullptr;
    void* mRefCon = nullptr;
    bool operator==(const RenderCallback& other) const noexcept = default;
  };

  // One property-listener registration.
  struct PropertyListener {
    AudioUnitPropertyID mPropertyID = 0;
    AudioUnitPropertyListenerProc mListenerProc = nullptr;
    void* mListenerRefCon = nullptr;
  };

  static constexpr UInt32 kDefaultMaxFramesPerSlice = 1156;
  static constexpr AudioUnitScope kNumScopes = 5;

  AUBase(AudioComponentInstance instance, UInt32 numInputElements, UInt32 numOutputElements,
         UInt32 numGroupElements = 0, UInt32 numPartElements = 0);

  // ---- Virtual operations, in slot order ----
  // Beside each, the thread that calls it: control (the host's control
  // threads), render (the render thread, inside DoRender) or any.
  ~AUBase() override;               // 1-2 control
  void PostConstructor() override { CreateElements(); }  // 3 control
  void PreDestructor() override { DoCleanup(); }         // 4 control
                                                         // 5 Version, kept from ComponentBase
  virtual OSStatus Initialize() { return noErr; }        // 6 control
  virtual void Cleanup() {}                              // 7 control
  virtual OSStatus Reset(AudioUnitScope scope, AudioUnitElement element);  // 8 control
  virtual OSStatus GetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                   UInt32& outDataSize, Boolean& outWritable);  // 9 control
  virtual OSStatus GetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                               void* outData);  // 10 control
  virtual OSStatus SetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                               const void* inData, UInt32 inDataSize);  // 11 control
  virtual OSStatus RemovePropertyValue(AudioUnitPropertyID id, AudioUnitScope scope,
                                       AudioUnitElement element);  // 12 control
  virtual OSStatus AddPropertyListener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                       void* refCon);  // 13 control
  virtual OSStatus RemovePropertyListener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                          void* refCon,
                                          bool refConSpecified);                   // 14 control
  virtual OSStatus SetRenderNotification(AURenderCallback proc, void* refCon);     // 15 any
  virtual OSStatus RemoveRenderNotification(AURenderCallback proc, void* refCon);  // 16 any
  virtual OSStatus GetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                                AudioUnitParameterValue& outValue);  // 17 any
  virtual OSStatus SetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                                AudioUnitParameterValue value, UInt32 bufferOffsetInFrames);  // 18 any
  virtual OSStatus SetGroupParameter(AudioUnitParameterID id, AudioUnitElement element,
                                     AudioUnitParameterValue value, UInt32 bufferOffsetInFrames);  // 19 any
  virtual OSStatus GetGroupParameter(AudioUnitParameterID id, AudioUnitElement element,
                                     AudioUnitParameterValue& outValue);  // 20 any
  virtual OSStatus ScheduleParameter(const AudioUnitParameterEvent* events,
                                     UInt32 numEvents);  // 21 any, never during a render
  virtual OSStatus RenderBus(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& timeStamp,
                             UInt32 busNumber, UInt32 frames) VARSILE_NONBLOCKING;  // 22 render
  virtual OSStatus Render(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& timeStamp,
                          UInt32 frames) VARSILE_NONBLOCKING;             // 23 render
  virtual bool BusCountWritable(AudioUnitScope scope);                    // 24 control
  virtual OSStatus SetBusCount(AudioUnitScope scope, UInt32 count);       // 25 control
  virtual OSStatus SetConnection(const AudioUnitConnection& connection);  // 26 control
  virtual OSStatus SetInputCallback(UInt32 propertyID, AudioUnitElement element, AURenderCallback proc,
                                    void* refCon);  // 27 control
  // outList null asks for the count only.
  virtual OSStatus GetParameterList(AudioUnitScope scope, AudioUnitParameterID* outList,
                                    UInt32& outNumParameters);  // 28 control
  virtual OSStatus GetParameterInfo(AudioUnitScope scope, AudioUnitParameterID id,
                                    AudioUnitParameterInfo& outInfo);  // 29 control
  // A new class-info dictionary that the caller releases.
  virtual OSStatus SaveState(CFPropertyListRef* outData);  // 30 control
  virtual OSStatus RestoreState(CFPropertyListRef data);   // 31 control
  // outStrings null asks whether strings exist.
  virtual OSStatus GetParameterValueStrings(AudioUnitScope scope, AudioUnitParameterID id,
                                            CFArrayRef* outStrings);  // 32 control
  virtual OSStatus CopyClumpName(AudioUnitScope scope, UInt32 clumpID, SInt32 desiredNameLength,
                                 CFStringRef* outClumpName);  // 33 control
  // outData null asks whether presets exist.
  virtual OSStatus GetPresets(CFArrayRef* outData) const;                                 // 34 control
  virtual OSStatus NewFactoryPresetSet(const AUPreset& preset);                           // 35 control
  virtual UInt32 GetNumCustomUIComponents() { return 0; }                                 // 36 control
  virtual void GetUIComponentDescs(ComponentDescription* outDescriptions);                // 37 control
  virtual CFURLRef CopyIconLocation() { return nullptr; }                                 // 38 control
  virtual Float64 GetLatency() { return 0.0; }                                            // 39 any
  virtual Float64 GetTailTime() { return 0.0; }                                           // 40 any
  virtual bool SupportsTail() { return false; }                                           // 41 control
  virtual bool StreamFormatWritable(AudioUnitScope scope, AudioUnitElement element) = 0;  // 42 control
  // The published channel configurations; *outInfo may be left untouched when 0.
  virtual UInt32 SupportedNumChannels(const AUChannelInfo** outInfo);  // 43 control
  virtual bool ValidFormat(AudioUnitScope scope, AudioUnitElement element,
                           const CAStreamBasicDescription& format);  // 44 control
  virtual const CAStreamBasicDescription& GetStreamFormat(AudioUnitScope scope,
                                                          AudioUnitElement element);  // 45 control
  virtual OSStatus ChangeStreamFormat(AudioUnitScope scope, AudioUnitElement element,
                                      const CAStreamBasicDescription& previousFormat,
                                      const CAStreamBasicDescription& newFormat);     // 46 control
  AUElement* CreateElement(AudioUnitScope scope, AudioUnitElement element) override;  // 47 control
  virtual void ReallocateBuffers();                                                   // 48 control
  virtual void SetMaxFramesPerSlice(UInt32 frames);                                   // 49 control
  virtual OSStatus CanSetMaxFrames() const;                                           // 50 control
  virtual UInt32 GetChannelLayoutTags(AudioUnitScope scope, AudioUnitElement element,
                                      AudioChannelLayoutTag* outLayoutTags);  // 51 control
  // The layout's size in bytes (0: none); outLayout null asks for the size only.
  virtual UInt32 GetAudioChannelLayout(AudioUnitScope scope, AudioUnitElement element,
                                       AudioChannelLayout* outLayout,
                                       bool& outWritable);  // 52 control
  virtual OSStatus SetAudioChannelLayout(AudioUnitScope scope, AudioUnitElement element,
                                         const AudioChannelLayout* layout);                   // 53 control
  virtual OSStatus RemoveAudioChannelLayout(AudioUnitScope scope, AudioUnitElement element);  // 54 control
  virtual OSStatus ProcessForScheduledParams(std::vector<AudioUnitParameterEvent>& events, UInt32 frames,
                                             void* context) VARSILE_NONBLOCKING;  // 55 render
  virtual OSStatus ProcessScheduledSlice(void* context, UInt32 sliceStart, UInt32 sliceFrames,
                                         UInt32 totalFrames) VARSILE_NONBLOCKING;  // 56 render

  // ---- Lifecycle ----
  // The initialize selector: Initialize, then buffers, then the published flag.
  OSStatus DoInitialize();
  // The uninitialize selector; also what PreDestructor does.
  void DoCleanup();
  // Makes the elements of the input, output, group and part scopes, once.
  void CreateElements();

  bool IsInitialized() const noexcept { return mInitialized.load(std::memory_order_acquire); }
  bool HasBegunInitializing() const noexcept { return mHasBegunInitializing; }
  UInt32 GetMaxFramesPerSlice() const noexcept { return mMaxFramesPerSlice; }
  UInt8 AudioUnitAPIVersion() const noexcept { return mAudioUnitAPIVersion; }
  bool ElementsCreated() const noexcept { return mElementsCreated; }
  bool BuffersAllocated() const noexcept { return mBuffersAllocated; }
  const AUPreset& GetCurrentPreset() const noexcept { return mCurrentPreset; }
  Float64 GetLastRenderSampleTime() const noexcept { return mLastSampleTime.load(std::memory_order_relaxed); }

  // The host's description of this component; five zeros when unavailable.
  AudioComponentDescription GetComponentDescription() const;

  // ---- Scopes and elements ----
  // A scope above 4 throws kAudioUnitErr_InvalidScope.
  AUScope& GetScope(AudioUnitScope scope);
  const AUScope& GetScope(AudioUnitScope scope) const;
  AUScope& Globals() noexcept { return mScopes[kAudioUnitScope_Global]; }
  AUScope& Inputs() noexcept { return mScopes[kAudioUnitScope_Input]; }
  AUScope& Outputs() noexcept { return mScopes[kAudioUnitScope_Output]; }
  // Null when the scope has no such element.
  AUElement* GetElement(AudioUnitScope scope, AudioUnitElement element);
  // Throws kAudioUnitErr_InvalidElement when missing.
  AUElement* SafeGetElement(AudioUnitScope scope, AudioUnitElement element);
  // Throws kAudioUnitErr_InvalidElement also when not an I/O element.
  AUIOElement* GetIOElement(AudioUnitScope scope, AudioUnitElement element);
  // The input or output element, or kAudioUnitErr_InvalidElement thrown.
  AUInputElement* GetInput(AudioUnitElement element);
  AUOutputElement* GetOutput(AudioUnitElement element);

  // ---- Listeners ----
  // Calls every listener of `id`; listeners added meanwhile are reached too.
  void PropertyChanged(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element);

  // ---- Render ----
  // The render selector and the fast render entry end here; every error is
  // returned (and recorded), nothing escapes.
  OSStatus DoRender(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& timeStamp,
                    UInt32 busNumber, UInt32 frames, AudioBufferList& ioData) noexcept VARSILE_NONBLOCKING;
  OSStatus DoRenderBus(AudioUnitRenderActionFlags& ioActionFlags, const AudioTimeStamp& timeStamp,
                       UInt32 busNumber, AUOutputElement* output, UInt32 frames,
                       AudioBufferList& ioData) VARSILE_NONBLOCKING;

  // ---- Properties ----
  OSStatus DispatchGetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                   UInt32& outDataSize, Boolean& outWritable);
  OSStatus DispatchGetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                               void* outData);
  OSStatus DispatchSetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                               const void* inData, UInt32 inDataSize);
  OSStatus DispatchRemovePropertyValue(AudioUnitPropertyID id, AudioUnitScope scope,
                                       AudioUnitElement element);
  bool HasIcon();

  // ---- Formats ----
  bool FormatIsCanonical(const CAStreamBasicDescription& format) const noexcept;
  bool IsStreamFormatWritable(AudioUnitScope scope, AudioUnitElement element);

  // ---- Scheduled parameters ----
  // Ascending by offset read as signed; not stable.
  static void SortParameterEventList(std::vector<AudioUnitParameterEvent>& events);

  // ---- Selector dispatch ----
  static OSStatus ComponentEntryDispatch(ComponentParameters* params, AUBase* instance);

 protected:
  bool mElementsCreated = false;
  // Read by the render thread; published after a full barrier.
  std::atomic<bool> mInitialized{false};
  bool mHasBegunInitializing = false;
  UInt8 mAudioUnitAPIVersion = 2;
  UInt32 mInitNumInputEls;
  UInt32 mInitNumOutputEls;
  UInt32 mInitNumGroupEls;
  UInt32 mInitNumPartEls;
  AUScope mScopes[kNumScopes];
  TThreadSafeList<RenderCallback> mRenderNotifications;
  // Set by control threads, read by the render thread.
  std::atomic<bool> mNotificationsUsed{false};
  // Written by the render thread, read by property requests on other threads.
  std::atomic<Float64> mLastSampleTime{kNoLastRenderedSampleTime};
  UInt32 mMaxFramesPerSlice = 0;
  // The first render error not yet read; written by the render thread.
  std::atomic<OSStatus> mRenderError{0};
  AUPreset mCurrentPreset{-1, nullptr};
  std::vector<AudioUnitParameterEvent> mPendingEvents;
  std::vector<PropertyListener> mPropertyListeners;
  bool mBuffersAllocated = false;
  HostCallbackInfo mHostCallbackInfo{};
  CFStringRef mContextName = nullptr;
};

// Fast-path entries handed out through kAudioUnitProperty_FastDispatch, with
// the platform's proc types: hosts call them with the instance's storage word
// (this component's AUBase). They catch everything and return a status.
OSStatus AudioUnitBaseGetParameter(void* storage, AudioUnitParameterID id, AudioUnitScope scope,
                                   AudioUnitElement element, AudioUnitParameterValue* outValue);
OSStatus AudioUnitBaseSetParameter(void* storage, AudioUnitParameterID id, AudioUnitScope scope,
                                   AudioUnitElement element, AudioUnitParameterValue value,
                                   UInt32 bufferOffsetInFrames);
OSStatus AudioUnitBaseRender(void* storage, AudioUnitRenderActionFlags* ioActionFlags,
                             const AudioTimeStamp* timeStamp, UInt32 busNumber, UInt32 frames,
                             AudioBufferList* ioData) VARSILE_NONBLOCKING;
static_assert(std::is_same_v<decltype(&AudioUnitBaseGetParameter), AudioUnitGetParameterProc> &&
              std::is_same_v<decltype(&AudioUnitBaseSetParameter), AudioUnitSetParameterProc>);

// Stores value under key as a 32-bit integer number.
void AddNumToDictionary(CFMutableDictionaryRef dictionary, CFStringRef key, SInt32 value);
