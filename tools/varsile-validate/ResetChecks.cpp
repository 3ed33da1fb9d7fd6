// Reset: accepted before and after initialization, it forgets the last
// rendered sample time and everything the unit learned from the audio, so
// the same input from time 0 renders the same output again.
#include <cstring>
#include <vector>

#include "Checks.h"
#include "ParameterSurvey.h"
#include "RenderRig.h"
#include "Text.h"

namespace varsile::validate {

namespace {

constexpr UInt32 kFrames = 512;
constexpr UInt32 kRenders = 40;

// The outputs of kRenders renders, channel after channel, render after
// render; empty when a render failed.
std::vector<float> Record(RenderRig& rig, OSStatus& status) {
  std::vector<float> recorded;
  for (UInt32 i = 0; i < kRenders; ++i) {
    status = rig.Render(kFrames);
    if (status != noErr) return {};
    for (UInt32 channel = 0; channel < rig.Channels(); ++channel) {
      const auto output = rig.Output(channel);
      recorded.insert(recorded.end(), output.begin(), output.end());
    }
  }
  return recorded;
}

}  // namespace

void CheckReset(Report& report, const Target& target) {
  {
    auto fresh = OpenUnit(report, target);
    const OSStatus status = AudioUnitReset(fresh->Get(), kAudioUnitScope_Global, 0);
    report.Check(status == noErr, "uninitialized", "reset before initialization: " + StatusText(status));
  }

  auto unit = OpenConfigured(report, target, 48000.0, 2, false);
  // Away from the defaults, so that what the unit carries from buffer to
  // buffer is more likely to show in its output.
  SetWritable(*unit, SurveyParameters(*unit), 0.37);
  RenderRig rig(*unit, 2, 48000.0);
  StartRendering(report, rig);

  OSStatus status = noErr;
  const std::vector<float> first = Record(rig, status);
  RequireNoErr(report, status, "setup", "renders after initialization");
  for (int i = 0; i < 25; ++i) rig.Render(kFrames);

  const OSStatus reset = AudioUnitReset(unit->Get(), kAudioUnitScope_Global, 0);
  report.Check(reset == noErr, "status",
               "reset after " + std::to_string(kRenders + 25) + " renders: " + StatusText(reset));

  const PropertyInfo info = unit->Info(kAudioUnitProperty_LastRenderedSampleTime, kAudioUnitScope_Global, 0);
  if (info.status == noErr) {
    Float64 sampleTime = 0.0;
    const OSStatus get =
        unit->Get(kAudioUnitProperty_LastRenderedSampleTime, kAudioUnitScope_Global, 0, sampleTime);
    report.Check(get == noErr && sampleTime == kNoLastRenderedSampleTime, "last-rendered-sample-time",
                 "after reset it reads " + StatusText(get) + " " + FloatText(sampleTime));
  }

  rig.SetNextSampleTime(0.0);
  const std::vector<float> again = Record(rig, status);
  std::string difference;
  if (status != noErr) {
    difference = "a render after reset: " + StatusText(status);
  } else {
    for (std::size_t i = 0; i < first.size() && i < again.size(); ++i) {
      if (std::memcmp(&first[i], &again[i], sizeof(float)) != 0) {
        const std::size_t perRender = kFrames * rig.Channels();
        difference = "render " + std::to_string(i / perRender) + ", channel " +
                     std::to_string(i % perRender / kFrames) + ", frame " + std::to_string(i % kFrames) +
                     ": " + FloatText(again[i]) + " after reset, " + FloatText(first[i]) +
                     " after initialization";
        break;
      }
    }
  }
  report.CheckNone("same-output", difference,
                   "the same input from time 0 renders the same " + std::to_string(kRenders) +
                       " buffers as after initialization, bit for bit");
}

}  // namespace varsile::validate
