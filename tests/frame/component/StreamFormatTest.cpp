// Stream formats and channel layouts of the component: the canonical test,
// comparison, which element a scope means, writability, changes and their
// announcement, and the layout operations the frame leaves unsupported.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "CAAudioChannelLayout.h"
#include "FrameTestSupport.h"

namespace {

using frametest::ListenerRecorder;
using frametest::Open;
using frametest::TestAU;
using varsile::CanonicalFormat;

class StreamFormat : public frametest::CFLeakCheck {
 protected:
  void SetUp() override {
    CFLeakCheck::SetUp();
    au = Open<TestAU>();
    au->AddPropertyListener(kAudioUnitProperty_StreamFormat, &ListenerRecorder::Proc, &heard);
  }
  void TearDown() override {
    frametest::Close(au);
    CFLeakCheck::TearDown();
  }
  std::unique_ptr<TestAU> au;
  ListenerRecorder heard;
};

TEST_F(StreamFormat, CanonicalTestLooksAtLayoutNotRateOrChannels) {
  EXPECT_TRUE(au->FormatIsCanonical(CanonicalFormat(44100, 2)));
  EXPECT_TRUE(au->FormatIsCanonical(CanonicalFormat(0, 7)));
  EXPECT_TRUE(au->ValidFormat(kAudioUnitScope_Input, 5, CanonicalFormat(0, 7)))
      << "whatever the scope and element";
  EXPECT_TRUE(au->FormatIsCanonical(au->GetStreamFormat(kAudioUnitScope_Output, 0)))
      << "elements start canonical";

  CAStreamBasicDescription unpacked = CanonicalFormat(48000, 2);
  unpacked.mFormatFlags &= ~kAudioFormatFlagIsPacked;
  unpacked.mFormatFlags |= kAudioFormatFlagIsSignedInteger;
  EXPECT_TRUE(au->FormatIsCanonical(unpacked)) << "other flag bits are not examined";

  CAStreamBasicDescription interleaved = CanonicalFormat(48000, 2);
  interleaved.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;  // 9
  interleaved.mBytesPerFrame = interleaved.mBytesPerPacket = 8;
  EXPECT_FALSE(au->FormatIsCanonical(interleaved));

  const auto refusedWith = [&](auto change) {
    CAStreamBasicDescription f = CanonicalFormat(48000, 2);
    change(f);
    return !au->FormatIsCanonical(f);
  };
  EXPECT_TRUE(refusedWith([](auto& f) { f.mFormatFlags |= kAudioFormatFlagIsBigEndian; }));
  EXPECT_TRUE(refusedWith([](auto& f) { f.mFormatFlags &= ~kAudioFormatFlagIsFloat; }));
  EXPECT_TRUE(refusedWith([](auto& f) { f.mFormatID = 0x61616320; }));
  EXPECT_TRUE(refusedWith([](auto& f) { f.mFramesPerPacket = 2; }));
  EXPECT_TRUE(refusedWith([](auto& f) { f.mBytesPerPacket = 8; }));
  EXPECT_TRUE(refusedWith([](auto& f) { f.mBitsPerChannel = 16; }));
  EXPECT_TRUE(refusedWith([](auto& f) { f.mBytesPerFrame = f.mBytesPerPacket = 8; }));
}

TEST(StreamBasicDescription, EqualityIsBitwiseOverThirtySixBytes) {
  CAStreamBasicDescription a = CanonicalFormat(48000, 2);
  CAStreamBasicDescription b = a;
  b.mReserved = 99;
  EXPECT_TRUE(a.IsEqual(b, false)) << "mReserved is ignored";
  b = a;
  b.mChannelsPerFrame = 1;
  EXPECT_FALSE(a.IsEqual(b, false));
  b = a;
  b.mBitsPerChannel = 24;
  EXPECT_FALSE(a.IsEqual(b, false));

  CAStreamBasicDescription zero = CanonicalFormat(0.0, 2), minusZero = CanonicalFormat(-0.0, 2);
  EXPECT_FALSE(zero.IsEqual(minusZero, false));
  const Float64 nan = std::numeric_limits<Float64>::quiet_NaN();
  CAStreamBasicDescription n1 = CanonicalFormat(nan, 2), n2 = CanonicalFormat(nan, 2);
  EXPECT_TRUE(n1.IsEqual(n2, false)) << "the same bits are the same format";

  // With wildcards a zero field matches anything.
  CAStreamBasicDescription wild;
  wild.mFormatID = kAudioFormatLinearPCM;
  EXPECT_TRUE(wild.IsEqual(a, true));
  EXPECT_FALSE(wild.IsEqual(a, false));
  wild.mChannelsPerFrame = 3;
  EXPECT_FALSE(wild.IsEqual(a, true));
}

TEST_F(StreamFormat, ScopesAddressTheirElements) {
  au->GetIOElement(kAudioUnitScope_Output, 0)->SetStreamFormat(CanonicalFormat(96000, 1));
  au->GetIOElement(kAudioUnitScope_Input, 0)->SetStreamFormat(CanonicalFormat(22050, 3));
  EXPECT_EQ(au->GetStreamFormat(kAudioUnitScope_Global, 7).mSampleRate, 96000.0) << "global means output 0";
  EXPECT_EQ(au->GetStreamFormat(kAudioUnitScope_Input, 0).mChannelsPerFrame, 3u);
  EXPECT_EQ(au->GetStreamFormat(kAudioUnitScope_Output, 0).mChannelsPerFrame, 1u);

  const auto thrown = [&](AudioUnitScope scope, AudioUnitElement element) -> OSStatus {
    try {
      au->GetStreamFormat(scope, element);
    } catch (OSStatus status) {
      return status;
    }
    return noErr;
  };
  EXPECT_EQ(thrown(kAudioUnitScope_Group, 0), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(thrown(9, 0), kAudioUnitErr_InvalidScope);
  EXPECT_EQ(thrown(kAudioUnitScope_Output, 1), kAudioUnitErr_InvalidElement);
  EXPECT_EQ(thrown(kAudioUnitScope_Input, 4), kAudioUnitErr_InvalidElement);
}

TEST_F(StreamFormat, ChangeThroughGlobalScopeIsAnnouncedForGlobalScope) {
  const CAStreamBasicDescription previous = au->GetStreamFormat(kAudioUnitScope_Global, 0);
  EXPECT_EQ(au->ChangeStreamFormat(kAudioUnitScope_Global, 0, previous, CanonicalFormat(48000, 1)), noErr);
  EXPECT_EQ(au->GetIOElement(kAudioUnitScope_Output, 0)->GetStreamFormat().mSampleRate, 48000.0);
  ASSERT_EQ(heard.calls.size(), 1u);
  EXPECT_EQ(heard.calls[0].scope, kAudioUnitScope_Global);
  EXPECT_EQ(heard.calls[0].element, 0u);

  EXPECT_EQ(au->ChangeStreamFormat(kAudioUnitScope_Input, 0, previous, CanonicalFormat(8000, 4)), noErr);
  EXPECT_EQ(au->GetIOElement(kAudioUnitScope_Input, 0)->GetStreamFormat().mChannelsPerFrame, 4u);
  ASSERT_EQ(heard.calls.size(), 2u);
  EXPECT_EQ(heard.calls[1].scope, kAudioUnitScope_Input);

  EXPECT_THROW(au->ChangeStreamFormat(kAudioUnitScope_Part, 0, previous, CanonicalFormat(8000, 4)), OSStatus);
  EXPECT_EQ(heard.calls.size(), 2u);
}

TEST_F(StreamFormat, WritableWhileUninitializedExceptAConnectedInput) {
  for (AudioUnitScope scope : {kAudioUnitScope_Global, kAudioUnitScope_Input, kAudioUnitScope_Output}) {
    EXPECT_TRUE(au->IsStreamFormatWritable(scope, 0)) << scope;
  }
  EXPECT_FALSE(au->IsStreamFormatWritable(kAudioUnitScope_Group, 0));
  EXPECT_THROW(au->IsStreamFormatWritable(kAudioUnitScope_Input, 3), OSStatus);

  ASSERT_EQ(au->DoInitialize(), noErr);
  for (AudioUnitScope scope : {kAudioUnitScope_Global, kAudioUnitScope_Input, kAudioUnitScope_Output}) {
    EXPECT_FALSE(au->IsStreamFormatWritable(scope, 0)) << scope;
  }
  au->DoCleanup();

  // An upstream unit (here one that answers nothing) feeds the input.
  frametest::HostHandle upstream;
  ASSERT_NE(upstream.get(), nullptr);
  au->GetInput(0)->SetConnection(AudioUnitConnection{upstream.get(), 0, 0});
  EXPECT_FALSE(au->IsStreamFormatWritable(kAudioUnitScope_Input, 0));
  EXPECT_TRUE(au->IsStreamFormatWritable(kAudioUnitScope_Output, 0));
  au->GetInput(0)->SetConnection(AudioUnitConnection{nullptr, 0, 0});
  EXPECT_TRUE(au->IsStreamFormatWritable(kAudioUnitScope_Input, 0));
}

// The property path through the four steps: validity, equality, writability, change.
TEST_F(StreamFormat, PropertyPathRefusesAndAcceptsInOrder) {
  CAStreamBasicDescription interleaved = CanonicalFormat(48000, 2);
  interleaved.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
  interleaved.mBytesPerFrame = interleaved.mBytesPerPacket = 8;
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &interleaved,
                                    sizeof interleaved),
            kAudioUnitErr_FormatNotSupported);

  ASSERT_EQ(au->DoInitialize(), noErr);
  // Identical apart from mReserved: success without change or announcement.
  CAStreamBasicDescription same = au->GetStreamFormat(kAudioUnitScope_Output, 0);
  same.mReserved = 7;
  EXPECT_EQ(
      au->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &same, sizeof same),
      noErr);
  EXPECT_TRUE(heard.calls.empty());
  const CAStreamBasicDescription other = CanonicalFormat(96000, 2);
  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &other,
                                    sizeof other),
            kAudioUnitErr_PropertyNotWritable);
  au->DoCleanup();

  EXPECT_EQ(au->DispatchSetProperty(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Global, 0, &other,
                                    sizeof other),
            noErr);
  EXPECT_EQ(au->GetStreamFormat(kAudioUnitScope_Output, 0).mSampleRate, 96000.0);
  ASSERT_EQ(heard.calls.size(), 1u);
  EXPECT_EQ(heard.calls[0].scope, kAudioUnitScope_Global);

  // A connected input refuses a sample-rate change even while uninitialized.
  frametest::HostHandle upstream;
  au->GetInput(0)->SetConnection(AudioUnitConnection{upstream.get(), 0, 0});
  const Float64 rate = 32000;
  EXPECT_EQ(
      au->DispatchSetProperty(kAudioUnitProperty_SampleRate, kAudioUnitScope_Input, 0, &rate, sizeof rate),
      kAudioUnitErr_PropertyNotWritable);
  au->GetInput(0)->SetConnection(AudioUnitConnection{nullptr, 0, 0});
}

// ---- Channel layouts ----

AudioChannelLayout Layout(AudioChannelLayoutTag tag, UInt32 bitmap = 0, UInt32 descriptions = 0) {
  AudioChannelLayout layout{};
  layout.mChannelLayoutTag = tag;
  layout.mChannelBitmap = bitmap;
  layout.mNumberChannelDescriptions = descriptions;
  return layout;
}

TEST(ChannelLayout, ChannelCountsByTag) {
  EXPECT_EQ(CAAudioChannelLayout::NumberChannels(Layout(kAudioChannelLayoutTag_UseChannelBitmap, 0x3)), 2u);
  EXPECT_EQ(CAAudioChannelLayout::NumberChannels(Layout(kAudioChannelLayoutTag_UseChannelBitmap, 0xFFFFFFFF)),
            32u);
  EXPECT_EQ(CAAudioChannelLayout::NumberChannels(Layout((123u << 16) | 6)), 6u);
  EXPECT_EQ(
      CAAudioChannelLayout::NumberChannels(Layout(kAudioChannelLayoutTag_UseChannelDescriptions, 0xFF, 5)),
      5u);
  EXPECT_EQ(CAAudioChannelLayout::CalculateByteSize(2), 52u);
}

// An element that supports layouts, to see the component's operations choose.
class LayoutElement : public AUOutputElement {
 public:
  using AUOutputElement::AUOutputElement;
  UInt32 GetChannelLayoutTags(AudioChannelLayoutTag* out) override {
    if (out != nullptr) std::copy(tags.begin(), tags.end(), out);
    return static_cast<UInt32>(tags.size());
  }
  UInt32 GetAudioChannelLayout(AudioChannelLayout*, bool& writable) override {
    writable = true;
    return hasLayout ? 32 : 0;
  }
  OSStatus SetAudioChannelLayout(const AudioChannelLayout& layout) override {
    lastSetTag = layout.mChannelLayoutTag;
    return noErr;
  }
  OSStatus RemoveAudioChannelLayout() override {
    ++removals;
    return noErr;
  }
  std::vector<AudioChannelLayoutTag> tags;
  bool hasLayout = false;
  AudioChannelLayoutTag lastSetTag = 0xFFFFFFFF;
  int removals = 0;
};

class LayoutAU : public TestAU {
 public:
  using TestAU::TestAU;
  AUElement* CreateElement(AudioUnitScope scope, AudioUnitElement element) override {
    if (scope == kAudioUnitScope_Output) return new LayoutElement(this);
    return TestAU::CreateElement(scope, element);
  }
  LayoutElement& Out() { return *static_cast<LayoutElement*>(GetOutput(0)); }
};

TEST_F(StreamFormat, FrameElementsSupportNoLayouts) {
  const AudioChannelLayout stereo = Layout(kAudioChannelLayoutTag_UseChannelBitmap, 0x3);
  const AudioChannelLayout mono = Layout(kAudioChannelLayoutTag_UseChannelBitmap, 0x1);
  bool writable = false;
  EXPECT_EQ(au->GetChannelLayoutTags(kAudioUnitScope_Output, 0, nullptr), 0u);
  EXPECT_EQ(au->GetAudioChannelLayout(kAudioUnitScope_Input, 0, nullptr, writable), 0u);
  EXPECT_EQ(au->SetAudioChannelLayout(kAudioUnitScope_Output, 0, &stereo), kAudioUnitErr_InvalidProperty);
  EXPECT_EQ(au->SetAudioChannelLayout(kAudioUnitScope_Output, 0, &mono), kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(au->SetAudioChannelLayout(kAudioUnitScope_Output, 0, nullptr), kAudio_ParamError);
  EXPECT_EQ(au->RemoveAudioChannelLayout(kAudioUnitScope_Input, 0), noErr);
  EXPECT_THROW(au->GetChannelLayoutTags(kAudioUnitScope_Global, 0, nullptr), OSStatus);
  EXPECT_THROW(au->SetAudioChannelLayout(kAudioUnitScope_Output, 3, &stereo), OSStatus);
}

TEST(ChannelLayout, SetChecksCountThenTagsInOrder) {
  auto au = Open<LayoutAU>();
  LayoutElement& out = au->Out();
  const AudioChannelLayout stereoBitmap = Layout(kAudioChannelLayoutTag_UseChannelBitmap, 0x3);
  const AudioChannelLayout stereoTag = Layout((101u << 16) | 2);

  out.tags = {(101u << 16) | 2};
  EXPECT_EQ(au->SetAudioChannelLayout(kAudioUnitScope_Output, 0, &stereoBitmap),
            kAudioUnitErr_InvalidPropertyValue);
  EXPECT_EQ(au->SetAudioChannelLayout(kAudioUnitScope_Output, 0, &stereoTag), noErr);
  EXPECT_EQ(out.lastSetTag, stereoTag.mChannelLayoutTag);

  // Descriptions accept any layout, but the channel count still decides first.
  out.tags = {(101u << 16) | 2, kAudioChannelLayoutTag_UseChannelDescriptions};
  EXPECT_EQ(au->SetAudioChannelLayout(kAudioUnitScope_Output, 0, &stereoBitmap), noErr);
  EXPECT_EQ(out.lastSetTag, kAudioChannelLayoutTag_UseChannelBitmap);
  const AudioChannelLayout quad = Layout(kAudioChannelLayoutTag_UseChannelBitmap, 0xF);
  EXPECT_EQ(au->SetAudioChannelLayout(kAudioUnitScope_Output, 0, &quad), kAudioUnitErr_InvalidPropertyValue);

  EXPECT_EQ(au->RemoveAudioChannelLayout(kAudioUnitScope_Output, 0), noErr);
  EXPECT_EQ(out.removals, 0) << "nothing to remove";
  out.hasLayout = true;
  EXPECT_EQ(au->RemoveAudioChannelLayout(kAudioUnitScope_Output, 0), noErr);
  EXPECT_EQ(out.removals, 1);
  frametest::Close(au);
}

}  // namespace
