// Initialization with each channel count and rate a host commonly uses, the
// channel configurations the unit takes or refuses, and what an initialized
// unit refuses to change.
#include <array>
#include <vector>

#include "Checks.h"
#include "RenderRig.h"
#include "SampleScan.h"
#include "Text.h"

namespace varsile::validate {

namespace {

constexpr std::array<Float64, 3> kRates{44100.0, 48000.0, 96000.0};

void CheckConfigurations(Report& report, const Target& target) {
  for (UInt32 channels : {1u, 2u}) {
    for (Float64 rate : kRates) {
      const std::string name = std::to_string(channels) + "ch-" + FloatText(rate);
      host::UnitInstance unit(target.component);
      if (!unit) {
        report.Fail(name, "open: " + StatusText(unit.OpenStatus()));
        continue;
      }
      RenderRig rig(unit, channels, rate);
      const OSStatus formats = unit.ConfigureIO(rate, channels);
      const OSStatus input = rig.AttachInput();
      const OSStatus initialized = unit.Initialize();
      const OSStatus rendered = initialized == noErr ? rig.Render(512) : initialized;
      SampleStats stats;
      if (rendered == noErr) rig.ScanOutput(stats);
      AudioStreamBasicDescription output{};
      unit.GetFormat(kAudioUnitScope_Output, 0, output);
      const OSStatus uninitialized = unit.Uninitialize();
      const bool ok = formats == noErr && input == noErr && initialized == noErr && rendered == noErr &&
                      stats.Clean() && rig.Problem().empty() &&
                      SameFormat(output, CanonicalFormat(rate, channels)) && uninitialized == noErr;
      report.Check(ok, name,
                   "formats " + StatusText(formats) + ", input " + StatusText(input) + ", initialize " +
                       StatusText(initialized) + ", render 512 " + StatusText(rendered) +
                       (rendered == noErr ? " (" + stats.Describe() + ")" : "") +
                       (rig.Problem().empty() ? "" : ", " + rig.Problem()) + ", uninitialize " +
                       StatusText(uninitialized));
    }
  }
}

// What a unit's published configurations say of (in, out); with none
// published, an effect takes equal counts only.
bool Accepts(const std::vector<AUChannelInfo>& configurations, SInt16 in, SInt16 out) {
  if (configurations.empty()) return in == out && out != 0;
  for (const AUChannelInfo& c : configurations) {
    if (c.inChannels < 0 && c.outChannels < 0) {
      if ((c.inChannels == -1 && c.outChannels == -2) || (c.inChannels == -2 && c.outChannels == -1)) {
        return true;
      }
      if (c.inChannels == -1 && c.outChannels == -1 && in == out) return true;
      continue;
    }
    if ((c.inChannels == in || c.inChannels == -1) && (c.outChannels == out || c.outChannels == -1)) {
      return true;
    }
  }
  return false;
}

void CheckChannelConfigurations(Report& report, const Target& target) {
  std::vector<AUChannelInfo> configurations;
  {
    host::UnitInstance unit(target.component);
    const PropertyInfo info = unit.Info(kAudioUnitProperty_SupportedNumChannels, kAudioUnitScope_Global, 0);
    if (info.status == noErr && info.size >= sizeof(AUChannelInfo)) {
      configurations.resize(info.size / sizeof(AUChannelInfo));
      UInt32 size = static_cast<UInt32>(configurations.size() * sizeof(AUChannelInfo));
      if (unit.GetBytes(kAudioUnitProperty_SupportedNumChannels, kAudioUnitScope_Global, 0,
                        configurations.data(), size) != noErr) {
        configurations.clear();
      }
    }
  }
  std::string published;
  for (const AUChannelInfo& c : configurations) {
    published += " (" + std::to_string(c.inChannels) + ", " + std::to_string(c.outChannels) + ")";
  }
  report.Note(configurations.empty() ? "no channel configurations published: in and out must be equal"
                                     : "published channel configurations:" + published);

  const std::array<std::pair<SInt16, SInt16>, 4> pairs{{{1, 1}, {2, 2}, {1, 2}, {2, 1}}};
  for (const auto& [in, out] : pairs) {
    host::UnitInstance unit(target.component);
    const OSStatus formats = unit.ConfigureIO(44100.0, static_cast<UInt32>(in), static_cast<UInt32>(out));
    const OSStatus status = formats == noErr ? unit.Initialize() : formats;
    const bool expected = Accepts(configurations, in, out);
    const bool ok = expected ? status == noErr : status == kAudioUnitErr_FormatNotSupported;
    report.Check(ok, "channels " + std::to_string(in) + "-" + std::to_string(out),
                 std::string(expected ? "to be taken" : "to be refused") + ": initialize answered " +
                     StatusText(status));
  }
}

void CheckInitializedRefusals(Report& report, const Target& target) {
  auto unit = OpenConfigured(report, target, 44100.0, 2);
  const UInt32 before = unit->MaxFrames();
  const OSStatus status = unit->SetMaxFrames(before + 100);
  const UInt32 after = unit->MaxFrames();
  report.Check(status == kAudioUnitErr_Initialized && after == before, "max-frames-initialized",
               "setting the maximum frames while initialized: " + StatusText(status) + "; " +
                   std::to_string(before) + " before, " + std::to_string(after) + " after");
}

// Uninitialize, change the channel count and rate, initialize again.
void CheckReconfiguration(Report& report, const Target& target) {
  auto unit = OpenConfigured(report, target, 44100.0, 2);
  const OSStatus uninitialized = unit->Uninitialize();
  const OSStatus formats = unit->ConfigureIO(96000.0, 1);
  RenderRig rig(*unit, 1, 96000.0);
  const OSStatus input = rig.AttachInput();
  const OSStatus initialized = unit->Initialize();
  const OSStatus rendered = initialized == noErr ? rig.Render(256) : initialized;
  SampleStats stats;
  if (rendered == noErr) rig.ScanOutput(stats);
  report.Check(uninitialized == noErr && formats == noErr && input == noErr && initialized == noErr &&
                   rendered == noErr && stats.Clean(),
               "reconfigure",
               "2 ch at 44100 to 1 ch at 96000: uninitialize " + StatusText(uninitialized) + ", formats " +
                   StatusText(formats) + ", initialize " + StatusText(initialized) + ", render " +
                   StatusText(rendered) + (rendered == noErr ? " (" + stats.Describe() + ")" : ""));
}

}  // namespace

void CheckInitialization(Report& report, const Target& target) {
  CheckConfigurations(report, target);
  CheckChannelConfigurations(report, target);
  CheckInitializedRefusals(report, target);
  CheckReconfiguration(report, target);
}

}  // namespace varsile::validate
