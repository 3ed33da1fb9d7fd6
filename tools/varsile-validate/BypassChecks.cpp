// Bypass: while it is on, the output is the input, sample for sample, with
// the unit processing in place or not; switching it off renders normally.
#include <cstring>

#include "Checks.h"
#include "RenderRig.h"
#include "SampleScan.h"
#include "Text.h"

namespace varsile::validate {

namespace {

// Renders count buffers and compares each with the input sent; the first
// difference, or "".
std::string RenderBypassed(RenderRig& rig, UInt32 frames, UInt32 count) {
  for (UInt32 i = 0; i < count; ++i) {
    const Float64 start = rig.NextSampleTime();
    const OSStatus status = rig.Render(frames);
    if (status != noErr) return "render " + std::to_string(i) + ": " + StatusText(status);
    for (UInt32 channel = 0; channel < rig.Channels(); ++channel) {
      const std::vector<float> input = rig.Input(channel, start, frames);
      const auto output = rig.Output(channel);
      for (UInt32 frame = 0; frame < frames; ++frame) {
        if (std::memcmp(&input[frame], &output[frame], sizeof(float)) != 0) {
          return "render " + std::to_string(i) + ", channel " + std::to_string(channel) + ", frame " +
                 std::to_string(frame) + ": output " + FloatText(output[frame]) + ", input " +
                 FloatText(input[frame]);
        }
      }
    }
  }
  return rig.Problem();
}

}  // namespace

void CheckBypass(Report& report, const Target& target) {
  auto unit = OpenConfigured(report, target, 48000.0, 2, false);
  const PropertyInfo info = unit->Info(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0);
  if (info.status != noErr) {
    report.Pass("supported", "the unit has no bypass (" + StatusText(info.status) + ")");
    return;
  }
  RenderRig rig(*unit, 2, 48000.0);
  StartRendering(report, rig);
  for (int i = 0; i < 20; ++i) rig.Render(512);

  const UInt32 on = 1;
  const OSStatus set = unit->Set(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, on);
  UInt32 read = 0;
  const OSStatus get = unit->Get(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, read);
  report.Check(set == noErr && get == noErr && read == 1, "switch-on",
               "set 1: " + StatusText(set) + "; reads " + StatusText(get) + " " + std::to_string(read));
  rig.ClearProblem();
  const std::string inPlace = RenderBypassed(rig, 512, 40);
  report.CheckNone("output-is-input", inPlace, "40 renders of 512 frames, bit for bit");

  const PropertyInfo inPlaceInfo =
      unit->Info(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0);
  if (inPlaceInfo.status == noErr && inPlaceInfo.writable) {
    const UInt32 off = 0;
    const OSStatus setOff = unit->Set(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0, off);
    rig.ClearProblem();
    const std::string copied = setOff == noErr ? RenderBypassed(rig, 512, 20) : StatusText(setOff);
    report.CheckNone("output-is-input-not-in-place", copied,
                     "with in-place processing off: 20 renders, bit for bit");
    const UInt32 back = 1;
    unit->Set(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0, back);
  }

  const UInt32 offValue = 0;
  const OSStatus setOff = unit->Set(kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0, offValue);
  SampleStats stats;
  OSStatus status = noErr;
  rig.ClearProblem();
  for (int i = 0; i < 20 && status == noErr; ++i) {
    status = rig.Render(512);
    if (status == noErr) rig.ScanOutput(stats);
  }
  report.Check(setOff == noErr && status == noErr && stats.Clean() && rig.Problem().empty(), "switch-off",
               "set 0: " + StatusText(setOff) + "; then 20 renders: " + StatusText(status) + ", " +
                   stats.Describe() + (rig.Problem().empty() ? "" : ", " + rig.Problem()));
}

}  // namespace varsile::validate
