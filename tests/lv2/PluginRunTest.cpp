#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <cstring>
#include <string>
#include <vector>

#include "BlockLength.h"
#include "Lv2TestSupport.h"

namespace {

using lv2test::DirectRender;
using lv2test::MaxDifference;
using lv2test::Melody;
using lv2test::Planar;
using lv2test::PluginInstance;

constexpr double kRate = 44100.0;

// A host's URID map and options, as far as the plug-in reads them.
class HostFeatures {
 public:
  explicit HostFeatures(LV2_URID maxBlockType, const void* maxBlockValue, uint32_t size) {
    mMap.handle = this;
    mMap.map = &Map;
    mOptions[0] = LV2_Options_Option{
        LV2_OPTIONS_INSTANCE, 0, Map(this, LV2_BUF_SIZE__maxBlockLength), size, maxBlockType, maxBlockValue};
    mOptions[1] = LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
    mFeatures[0] = LV2_Feature{LV2_URID__map, &mMap};
    mFeatures[1] = LV2_Feature{LV2_OPTIONS__options, mOptions};
    mList[0] = &mFeatures[0];
    mList[1] = &mFeatures[1];
    mList[2] = nullptr;
  }
  const LV2_Feature* const* List() const { return mList; }
  static LV2_URID Map(LV2_URID_Map_Handle handle, const char* uri) { return lv2test::MapURI(handle, uri); }
  static LV2_URID Type(const char* uri) { return Map(nullptr, uri); }

 private:
  LV2_URID_Map mMap{};
  LV2_Options_Option mOptions[2]{};
  LV2_Feature mFeatures[2]{};
  const LV2_Feature* mList[3]{};
};

const std::map<std::string, float> kDMajor = {{"key", 2.0f},
                                              {"vol_minor_second", 0.0f},
                                              {"vol_minor_third", 0.0f},
                                              {"vol_aug_fourth", 0.0f},
                                              {"vol_minor_sixth", 0.0f},
                                              {"vol_minor_seventh", 0.0f},
                                              {"release_time", 0.2f}};

void Apply(PluginInstance& plugin, const std::map<std::string, float>& settings) {
  for (const auto& [symbol, value] : settings) plugin.Control(symbol) = value;
}

TEST(PluginRun, SoundsExactlyLikeTheComponentDrivenDirectlyWhateverTheBlockLength) {
  for (const std::string_view uri : {lv2test::kMonoURI, lv2test::kStereoURI}) {
    const UInt32 channels = uri == lv2test::kMonoURI ? 1 : 2;
    const Planar input = Melody(channels, kRate, 1.0);
    const Planar expected = DirectRender(input, kRate, 512, kDMajor);
    for (const UInt32 block : {1u, 7u, 64u, 256u, 1000u, 4096u}) {
      SCOPED_TRACE(std::string(uri) + ", block " + std::to_string(block));
      PluginInstance plugin(uri, kRate);
      Apply(plugin, kDMajor);
      plugin.Activate();
      const Planar output = plugin.Process(input, block);
      EXPECT_EQ(MaxDifference(output, expected), 0.0f);
    }
  }
}

TEST(PluginRun, GatesTheNotesOutsideTheScale) {
  const Planar input = Melody(1, kRate, 1.6);
  PluginInstance plugin(lv2test::kMonoURI, kRate);
  Apply(plugin, kDMajor);
  plugin.Control("attack_time") = 0.05f;
  plugin.Control("release_time") = 0.05f;
  plugin.Activate();
  const Planar output = plugin.Process(input, 64);
  // The second tone (D#) is outside D major, the fourth (A) inside; both
  // judged over their second half, once the gain has moved.
  const auto note = static_cast<std::size_t>(0.2 * kRate);
  const auto Ratio = [&](std::size_t n) {
    return lv2test::Energy(output[0], n * note + note / 2, (n + 1) * note) /
           lv2test::Energy(input[0], n * note + note / 2, (n + 1) * note);
  };
  EXPECT_LT(Ratio(1), 0.01);
  EXPECT_GT(Ratio(3), 0.9);
}

TEST(PluginRun, RendersBlocksLongerThanTheHostsMaximumInPieces) {
  const Planar input = Melody(2, kRate, 0.5);
  // The host promises 256 frames, then runs 1024 at once: four pieces.
  const int32_t promised = 256;
  const HostFeatures features(HostFeatures::Type(LV2_ATOM__Int), &promised, sizeof(promised));
  PluginInstance plugin(lv2test::kStereoURI, kRate, features.List());
  Apply(plugin, kDMajor);
  plugin.Activate();
  EXPECT_EQ(MaxDifference(plugin.Process(input, 1024), DirectRender(input, kRate, 256, kDMajor)), 0.0f);

  // Without options the pieces are 4096 frames long.
  PluginInstance plain(lv2test::kStereoURI, kRate);
  Apply(plain, kDMajor);
  plain.Activate();
  EXPECT_EQ(MaxDifference(plain.Process(input, 8192), DirectRender(input, kRate, 4096, kDMajor)), 0.0f);
}

TEST(PluginRun, WorksInPlace) {
  const Planar input = Melody(2, kRate, 0.5);
  PluginInstance plugin(lv2test::kStereoURI, kRate);
  Apply(plugin, kDMajor);
  plugin.Activate();
  Planar buffers = input;
  for (std::size_t offset = 0; offset < input[0].size(); offset += 100) {
    const auto count = static_cast<UInt32>(std::min<std::size_t>(100, input[0].size() - offset));
    for (UInt32 c = 0; c < 2; ++c)
      plugin.ConnectAudio(c, buffers[c].data() + offset, buffers[c].data() + offset);
    plugin.Run(count);
  }
  EXPECT_EQ(MaxDifference(buffers, DirectRender(input, kRate, 100, kDMajor)), 0.0f);
}

TEST(PluginRun, ReadsUnconnectedInputsAsSilenceAndSkipsUnconnectedOutputs) {
  PluginInstance plugin(lv2test::kStereoURI, kRate);
  plugin.Activate();
  std::vector<float> left(512, 1.0f);
  plugin.ConnectAudio(0, nullptr, left.data());
  plugin.ConnectAudio(1, nullptr, nullptr);
  plugin.Run(512);
  for (const float sample : left) ASSERT_EQ(sample, 0.0f);
}

TEST(PluginRun, IsSilentUntilActivated) {
  PluginInstance plugin(lv2test::kMonoURI, kRate);
  std::vector<float> in(64, 0.5f);
  std::vector<float> out(64, 1.0f);
  plugin.ConnectAudio(0, in.data(), out.data());
  plugin.Run(64);
  for (const float sample : out) ASSERT_EQ(sample, 0.0f);
}

TEST(PluginRun, ReportsTheMetersAfterEveryBlock) {
  PluginInstance plugin(lv2test::kMonoURI, kRate);
  plugin.Control("current_note") = -1.0f;
  plugin.Control("accuracy") = -1.0f;
  plugin.Control("current_volume") = -1.0f;
  plugin.Activate();
  // Less than one analysis step: the tracker has decided nothing yet.
  const Planar start(1, std::vector<float>(200, 0.0f));
  plugin.Process(start, 50);
  EXPECT_EQ(plugin.Control("current_note"), 12.0f);  // "Pitch tracker off"
  EXPECT_EQ(plugin.Control("current_volume"), 100.0f);
  EXPECT_EQ(plugin.Control("accuracy"), 0.0f);

  // The melody's first tone is a D, steady for 0.2 s.
  const Planar input = Melody(1, kRate, 0.15);
  plugin.Process(input, 1);
  EXPECT_EQ(plugin.Control("current_note"), 2.0f);
  EXPECT_GT(plugin.Control("accuracy"), 0.0f);
  EXPECT_LE(plugin.Control("accuracy"), 100.0f);

  // A reactivation starts the analysis over.
  plugin.Deactivate();
  plugin.Activate();
  plugin.Process(start, 50);
  EXPECT_EQ(plugin.Control("current_note"), 12.0f);
}

TEST(PluginRun, StereoMetersFollowTheirOwnChannel) {
  // The right channel alone plays, starting on an A, which is gated.
  Planar input = Melody(2, kRate, 0.15);
  std::fill(input[0].begin(), input[0].end(), 0.0f);
  PluginInstance plugin(lv2test::kStereoURI, kRate);
  plugin.Control("vol_major_sixth") = 0.0f;
  plugin.Activate();
  plugin.Process(input, 256);
  EXPECT_EQ(plugin.Control("current_note_r"), 9.0f);
  EXPECT_GT(plugin.Control("accuracy_r"), 0.0f);
  EXPECT_LT(plugin.Control("current_volume_r"), 1.0f);
  // Silence analyses as a clear C, which passes.
  EXPECT_EQ(plugin.Control("current_note"), 0.0f);
  EXPECT_EQ(plugin.Control("current_volume"), 100.0f);
}

TEST(PluginRun, BypassPassesTheInputUnchangedAndResumesAsIfNew) {
  const Planar input = Melody(1, kRate, 0.6);
  PluginInstance plugin(lv2test::kMonoURI, kRate), fresh(lv2test::kMonoURI, kRate);
  for (PluginInstance* instance : {&plugin, &fresh}) {
    Apply(*instance, kDMajor);
    instance->Activate();
  }
  plugin.Control("enabled") = 0.0f;
  EXPECT_EQ(MaxDifference(plugin.Process(input, 256), input), 0.0f);
  plugin.Control("enabled") = 1.0f;
  EXPECT_EQ(MaxDifference(plugin.Process(input, 256), fresh.Process(input, 256)), 0.0f);
}

TEST(PluginRun, LookaheadReportsTheComponentsDelay) {
  PluginInstance plugin(lv2test::kLookaheadURI, kRate);
  Apply(plugin, kDMajor);
  plugin.Activate();
  const Planar output = plugin.Process(Melody(1, kRate, 0.6), 256);

  varsile::host::AudioUnitHandle unit =
      varsile::host::AudioUnitHandle::Open(varsile::lv2::LoadBundleComponent(
          lv2test::BundlePath() + "/" + std::string(varsile::lv2::kLookaheadManifestFile)));
  const varsile::host::RenderLoop loop(unit, kRate, 1, 256);
  unit.Initialize();
  const auto seconds = unit.GetProperty<Float64>(kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0);
  EXPECT_GT(plugin.Control("latency"), 0.0f);
  EXPECT_EQ(plugin.Control("latency"), std::round(seconds * kRate));
  // The output starts with the delay's silence.
  const auto delay = static_cast<std::size_t>(plugin.Control("latency"));
  EXPECT_EQ(lv2test::Energy(output[0], 0, delay), 0.0);
  EXPECT_GT(lv2test::Energy(output[0], delay, 2 * delay), 0.0);
}

TEST(PluginRun, StartsOverWhenReactivated) {
  const Planar input = Melody(1, kRate, 0.6);
  PluginInstance plugin(lv2test::kMonoURI, kRate);
  Apply(plugin, kDMajor);
  plugin.Activate();
  const Planar first = plugin.Process(input, 128);
  plugin.Deactivate();
  plugin.Activate();
  EXPECT_EQ(MaxDifference(plugin.Process(input, 128), first), 0.0f);
}

TEST(PluginRun, KeepsControlValuesWithinTheirRanges) {
  const Planar input = Melody(1, kRate, 0.8);
  PluginInstance plugin(lv2test::kMonoURI, kRate);
  Apply(plugin, kDMajor);
  plugin.Control("key") = 40.0f;           // B at most
  plugin.Control("release_time") = -3.0f;  // 0.01 s at least
  plugin.Control("vol_fifth") = std::nanf("");
  plugin.Activate();
  auto expected = kDMajor;
  expected["key"] = 11.0f;
  expected["release_time"] = 0.01f;
  EXPECT_EQ(MaxDifference(plugin.Process(input, 64), DirectRender(input, kRate, 64, expected)), 0.0f);
}

TEST(PluginRun, RoundsIntegerControls) {
  const Planar input = Melody(1, kRate, 0.8);
  PluginInstance plugin(lv2test::kMonoURI, kRate);
  Apply(plugin, kDMajor);
  plugin.Control("key") = 1.9999f;  // an automation curve's approximation of D
  plugin.Activate();
  EXPECT_EQ(MaxDifference(plugin.Process(input, 64), DirectRender(input, kRate, 64, kDMajor)), 0.0f);
}

TEST(PluginRun, RefusesABundleWithoutTheComponent) {
  const LV2_Descriptor* descriptor = lv2test::Descriptor(lv2test::kMonoURI);
  ASSERT_NE(descriptor, nullptr);
  const LV2_Feature* none[] = {nullptr};
  testing::internal::CaptureStderr();
  EXPECT_EQ(descriptor->instantiate(descriptor, kRate, "/nonexistent/varsile.lv2/", none), nullptr);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("/nonexistent/varsile.lv2/Varsile.component"),
            std::string::npos);
  EXPECT_EQ(descriptor->instantiate(descriptor, 0.0, lv2test::BundlePath().c_str(), none), nullptr);
  EXPECT_EQ(descriptor->extension_data("http://lv2plug.in/ns/ext/state#interface"), nullptr);
}

TEST(PluginRun, ListsEveryPluginAndNoMore) {
  EXPECT_NE(lv2test::Descriptor(lv2test::kMonoURI), nullptr);
  EXPECT_NE(lv2test::Descriptor(lv2test::kStereoURI), nullptr);
  EXPECT_NE(lv2test::Descriptor(lv2test::kLookaheadURI), nullptr);
  EXPECT_NE(lv2test::Descriptor("urn:varsile:gate:lookahead:stereo"), nullptr);
  EXPECT_EQ(lv2test::Descriptor("urn:varsile:gate:surround"), nullptr);
}

TEST(BlockLength, ComesFromTheHostsOptionsWithinLimits) {
  using varsile::lv2::kDefaultMaxFrames;
  using varsile::lv2::kLargestMaxFrames;
  using varsile::lv2::MaxFramesFromFeatures;
  EXPECT_EQ(MaxFramesFromFeatures(nullptr), kDefaultMaxFrames);
  const LV2_Feature* none[] = {nullptr};
  EXPECT_EQ(MaxFramesFromFeatures(none), kDefaultMaxFrames);

  const LV2_URID intType = HostFeatures::Type(LV2_ATOM__Int);
  const LV2_URID longType = HostFeatures::Type(LV2_ATOM__Long);
  const int32_t small = 64, zero = 0, negative = -5, huge = 1 << 30;
  const int64_t wide = 1024;
  const float wrong = 512.0f;
  EXPECT_EQ(MaxFramesFromFeatures(HostFeatures(intType, &small, 4).List()), 64u);
  EXPECT_EQ(MaxFramesFromFeatures(HostFeatures(longType, &wide, 8).List()), 1024u);
  EXPECT_EQ(MaxFramesFromFeatures(HostFeatures(intType, &zero, 4).List()), kDefaultMaxFrames);
  EXPECT_EQ(MaxFramesFromFeatures(HostFeatures(intType, &negative, 4).List()), kDefaultMaxFrames);
  EXPECT_EQ(MaxFramesFromFeatures(HostFeatures(intType, &huge, 4).List()), kLargestMaxFrames);
  EXPECT_EQ(MaxFramesFromFeatures(HostFeatures(HostFeatures::Type(LV2_ATOM__Float), &wrong, 4).List()),
            kDefaultMaxFrames);
  EXPECT_EQ(MaxFramesFromFeatures(HostFeatures(intType, &small, 8).List()), kDefaultMaxFrames);
}

}  // namespace
