// Formats through the property table, connections to an upstream unit and
// input callbacks.
#include <algorithm>

#include "PropsTestSupport.h"

using namespace frametest;
using namespace propstest;

namespace {

// The upstream unit: a registered component that answers only the output
// format question, with whatever the test put here.
struct Upstream {
  AudioStreamBasicDescription format = varsile::CanonicalFormat(48000.0, 2);
  OSStatus status = noErr;
  int formatQueries = 0;
};
Upstream gUpstream;

OSStatus UpstreamEntry(ComponentParameters* params, void*) {
  if (params->what != kAudioUnitGetPropertySelect) {
    const bool lifecycle = params->what == kComponentOpenSelect || params->what == kComponentCloseSelect;
    return lifecycle ? OSStatus{noErr} : OSStatus{badComponentSelector};
  }
  const auto id = static_cast<AudioUnitPropertyID>(params->params[1]);
  const auto scope = static_cast<AudioUnitScope>(params->params[2]);
  auto* out = reinterpret_cast<void*>(params->params[4]);
  auto* size = reinterpret_cast<UInt32*>(params->params[5]);
  if (id != kAudioUnitProperty_StreamFormat || scope != kAudioUnitScope_Output)
    return kAudioUnitErr_InvalidProperty;
  ++gUpstream.formatQueries;
  if (gUpstream.status != noErr) return gUpstream.status;
  std::memcpy(out, &gUpstream.format, std::min<UInt32>(*size, sizeof gUpstream.format));
  *size = sizeof gUpstream.format;
  return noErr;
}

AudioComponent UpstreamComponent() {
  static const AudioComponentDescription description{kAudioUnitType_Effect, 0x7570736D /* 'upsm' */,
                                                     0x56727354 /* 'VrsT' */, 0, 0};
  static AudioComponent component =
      AudioComponentRegister(&description, CFSTR("Varsile upstream stand-in"), 1, UpstreamEntry);
  return component;
}

class PropertyFormats : public CFLeakCheck {
 protected:
  void SetUp() override {
    CFLeakCheck::SetUp();
    gUpstream = Upstream{};
    au = Open<ParamAU>();
    for (AudioUnitPropertyID id : {1u, 2u, 8u, 23u})
      au->AddPropertyListener(id, ListenerRecorder::Proc, &heard);
  }
  void TearDown() override {
    Close(au);
    CFLeakCheck::TearDown();
  }
  OSStatus Connect(AudioUnit source, UInt32 input = 0) {
    return SetProp(*au, kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, input,
                   AudioUnitConnection{source, 0, input});
  }
  AudioStreamBasicDescription InputFormat() { return au->GetInput(0)->GetStreamFormat(); }

  std::unique_ptr<ParamAU> au;
  ListenerRecorder heard;
};

bool SameFormat(const AudioStreamBasicDescription& a, const AudioStreamBasicDescription& b) {
  return std::memcmp(&a, &b, offsetof(AudioStreamBasicDescription, mReserved)) == 0;
}

}  // namespace

TEST_F(PropertyFormats, AnIdenticalFormatIsAcceptedEvenWhileInitialized) {
  ASSERT_EQ(au->DoInitialize(), noErr);
  AudioStreamBasicDescription same = varsile::CanonicalFormat(44100.0, 2);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, same), noErr);
  same.mReserved = 5;  // not part of the comparison
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, same), noErr);
  // 36 bytes are a whole format; 35 are not.
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &same, 36),
            noErr);
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &same, 35),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                    varsile::CanonicalFormat(48000.0, 2)),
            kAudioUnitErr_PropertyNotWritable);
  EXPECT_TRUE(heard.calls.empty());
}

TEST_F(PropertyFormats, ValidityIsCheckedBeforeWritability) {
  ASSERT_EQ(au->DoInitialize(), noErr);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 0, Float64{48000.0}),
            kAudioUnitErr_PropertyNotWritable);
  EXPECT_EQ(
      SetProp(*au, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, InterleavedStereo(48000.0)),
      kAudioUnitErr_FormatNotSupported);
  EXPECT_FALSE(GetInfo(*au, kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 0).writable);
  EXPECT_EQ(InputFormat().mSampleRate, 44100.0);
  EXPECT_TRUE(heard.calls.empty());
}

TEST_F(PropertyFormats, ASampleRateChangeIsAnnouncedAsAFormatChange) {
  EXPECT_TRUE(GetInfo(*au, kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 0).writable);
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 0, "12345678", 4),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 1, Float64{96000.0}),
            kAudioUnitErr_InvalidElement);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 0, Float64{96000.0}), noErr);
  EXPECT_TRUE(SameFormat(InputFormat(), varsile::CanonicalFormat(96000.0, 2)));
  ASSERT_EQ(heard.calls.size(), 1u);
  EXPECT_EQ(heard.calls[0].id, kAudioUnitProperty_StreamFormat);
  EXPECT_EQ(heard.calls[0].scope, kAudioUnitScope_Input);

  Float64 rate = 0;
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 0, rate), noErr);
  EXPECT_EQ(rate, 96000.0);
  AudioStreamBasicDescription format{};
  EXPECT_EQ(GetProp(*au, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, format), noErr);
  EXPECT_TRUE(SameFormat(format, varsile::CanonicalFormat(96000.0, 2)));
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 3,
                    varsile::CanonicalFormat(96000.0, 2)),
            kAudioUnitErr_InvalidElement);
}

TEST_F(PropertyFormats, AConnectionTakesTheUpstreamFormat) {
  HostHandle upstream(UpstreamComponent());
  ASSERT_NE(upstream.get(), nullptr);
  gUpstream.format = varsile::CanonicalFormat(48000.0, 1);
  EXPECT_EQ(Connect(upstream), noErr);
  EXPECT_TRUE(au->GetInput(0)->HasConnection());
  EXPECT_EQ(au->GetInput(0)->GetConnection().sourceAudioUnit, upstream.get());
  EXPECT_TRUE(SameFormat(InputFormat(), varsile::CanonicalFormat(48000.0, 1)));
  ASSERT_EQ(heard.calls.size(), 2u);
  EXPECT_EQ(heard.calls[0].id, kAudioUnitProperty_StreamFormat);
  EXPECT_EQ(heard.calls[1].id, kAudioUnitProperty_MakeConnection);
  EXPECT_EQ(heard.calls[1].scope, kAudioUnitScope_Input);
  EXPECT_EQ(heard.calls[1].element, 0u);
  // Connected: the input's format follows the upstream, not the host.
  EXPECT_FALSE(GetInfo(*au, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0).writable);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 0, Float64{44100.0}),
            kAudioUnitErr_PropertyNotWritable);
}

TEST_F(PropertyFormats, ReconnectingAConnectedInputNeedsADisconnectFirst) {
  HostHandle first(UpstreamComponent()), second(UpstreamComponent());
  ASSERT_EQ(Connect(first), noErr);
  // The same format again needs no change and is allowed.
  EXPECT_EQ(Connect(second), noErr);
  EXPECT_EQ(au->GetInput(0)->GetConnection().sourceAudioUnit, second.get());

  gUpstream.format = varsile::CanonicalFormat(22050.0, 2);
  EXPECT_EQ(Connect(first), kAudioUnitErr_PropertyNotWritable);
  EXPECT_EQ(au->GetInput(0)->GetConnection().sourceAudioUnit, second.get());
  EXPECT_EQ(InputFormat().mSampleRate, 48000.0);

  const std::size_t before = heard.CountFor(kAudioUnitProperty_MakeConnection);
  EXPECT_EQ(Connect(nullptr), noErr);
  EXPECT_FALSE(au->GetInput(0)->IsActive());
  EXPECT_EQ(heard.CountFor(kAudioUnitProperty_MakeConnection), before + 1);
  EXPECT_EQ(Connect(first), noErr);
  EXPECT_EQ(InputFormat().mSampleRate, 22050.0);
}

TEST_F(PropertyFormats, ANonCanonicalUpstreamFormatLeavesTheInputAsItWas) {
  HostHandle upstream(UpstreamComponent());
  gUpstream.format = InterleavedStereo(48000.0);
  EXPECT_EQ(Connect(upstream), kAudioUnitErr_FormatNotSupported);
  EXPECT_FALSE(au->GetInput(0)->IsActive());
  EXPECT_TRUE(SameFormat(InputFormat(), varsile::CanonicalFormat(44100.0, 2)));
  EXPECT_TRUE(heard.calls.empty());

  gUpstream.status = kAudioUnitErr_InvalidElement;
  EXPECT_EQ(Connect(upstream), kAudioUnitErr_InvalidElement);
  EXPECT_FALSE(au->GetInput(0)->IsActive());
}

TEST_F(PropertyFormats, ConnectionRecordsAreCheckedForSizeAndInput) {
  HostHandle upstream(UpstreamComponent());
  AudioUnitConnection connection{upstream, 0, 0};
  EXPECT_EQ(
      au->DispatchSetProperty(kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 0, &connection, 12),
      kAudioUnitErr_InvalidPropertyValue);
  connection.destInputNumber = 4;
  EXPECT_EQ(
      Thrown([&] { SetProp(*au, kAudioUnitProperty_MakeConnection, kAudioUnitScope_Input, 4, connection); }),
      kAudioUnitErr_InvalidElement);
  EXPECT_EQ(gUpstream.formatQueries, 0);  // the input is looked up first
  EXPECT_TRUE(heard.calls.empty());
}

TEST_F(PropertyFormats, InputCallbacksAreSetRemovedAndAnnounced) {
  struct Host {
    static OSStatus Render(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                           AudioBufferList*) {
      return noErr;
    }
  };
  int refCon = 0;
  AURenderCallbackStruct callback{Host::Render, &refCon};
  EXPECT_EQ(
      au->DispatchSetProperty(kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &callback, 8),
      kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, callback), noErr);
  EXPECT_TRUE(au->GetInput(0)->IsCallback());
  ASSERT_EQ(heard.calls.size(), 1u);
  EXPECT_EQ(heard.calls[0].id, kAudioUnitProperty_SetRenderCallback);
  EXPECT_EQ(heard.calls[0].scope, kAudioUnitScope_Input);

  EXPECT_EQ(SetProp(*au, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                    AURenderCallbackStruct{nullptr, nullptr}),
            noErr);
  EXPECT_FALSE(au->GetInput(0)->IsActive());
  EXPECT_EQ(heard.calls.size(), 2u);
  EXPECT_EQ(
      Thrown([&] { SetProp(*au, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 2, callback); }),
      kAudioUnitErr_InvalidElement);
}

// The real frame upstream, reached through the host calls and its dispatcher.
TEST_F(PropertyFormats, AnUpstreamFrameIsAskedThroughTheHostCalls) {
  HostHandle handle;
  auto upstream = Open<ParamAU>(handle.get());
  SetComponentInstanceStorage(handle, upstream.get());
  ASSERT_EQ(SetProp(*upstream, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                    varsile::CanonicalFormat(96000.0, 1)),
            noErr);

  EXPECT_EQ(Connect(handle), noErr);
  EXPECT_TRUE(SameFormat(InputFormat(), varsile::CanonicalFormat(96000.0, 1)));
  EXPECT_TRUE(au->GetInput(0)->HasConnection());

  // The same calls a host makes: size query, then the value.
  UInt32 size = 0;
  Boolean writable = true;
  EXPECT_EQ(AudioUnitGetPropertyInfo(handle, kAudioUnitProperty_ClassInfo, 0, 0, &size, &writable), noErr);
  EXPECT_EQ(size, 8u);
  CFPropertyListRef state = nullptr;
  size = sizeof state;
  ASSERT_EQ(AudioUnitGetProperty(handle, kAudioUnitProperty_ClassInfo, 0, 0, &state, &size), noErr);
  CFRef owned(state);
  upstream->SetParam(7, 3.0f);
  EXPECT_EQ(AudioUnitSetProperty(handle, kAudioUnitProperty_ClassInfo, 0, 0, &state, sizeof state), noErr);
  EXPECT_EQ(upstream->Param(7), 100.0f);

  Close(upstream);
}
