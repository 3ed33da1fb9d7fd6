// Renders as hosts make them: 1, 64, 512 and the maximum frames at each
// channel count and rate, into the host's buffers and into the unit's own;
// silence, full scale and subnormal input; and every render a unit must
// refuse, with the error it records.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "Checks.h"
#include "ParameterSurvey.h"
#include "RenderRig.h"
#include "SampleScan.h"
#include "Text.h"

namespace varsile::validate {

namespace {

constexpr std::array<Float64, 3> kRates{44100.0, 48000.0, 96000.0};

// The control bits of the thread's floating-point state (rounding, masks,
// flush-to-zero, denormals-are-zero), without the sticky exception flags.
UInt32 FloatingPointMode() {
#if defined(__x86_64__)
  return _mm_getcsr() & ~0x3Fu;
#else
  return 0;
#endif
}

struct Run {
  UInt32 renders = 0;
  OSStatus firstError = noErr;
  UInt32 failed = 0;
  bool modeChanged = false;
  SampleStats stats;
};

// Renders count buffers of frames each, scanning the output.
Run RenderMany(RenderRig& rig, UInt32 frames, UInt32 count,
               RenderRig::Buffers buffers = RenderRig::Buffers::Host) {
  Run run;
  for (UInt32 i = 0; i < count; ++i) {
    const UInt32 mode = FloatingPointMode();
    const OSStatus status = rig.Render(frames, buffers);
    run.modeChanged |= FloatingPointMode() != mode;
    ++run.renders;
    if (status != noErr) {
      if (run.failed++ == 0) run.firstError = status;
      continue;
    }
    rig.ScanOutput(run.stats);
  }
  return run;
}

bool Good(const Run& run, const RenderRig& rig) {
  return run.failed == 0 && run.stats.Clean() && !run.modeChanged && rig.Problem().empty();
}

std::string Describe(const Run& run, const RenderRig& rig) {
  std::string text = std::to_string(run.renders) + " renders";
  if (run.failed != 0) {
    text += ", " + std::to_string(run.failed) + " failed (first " + StatusText(run.firstError) + ")";
  }
  text += ", " + run.stats.Describe();
  if (run.modeChanged) text += ", the host thread's floating-point mode changed";
  if (!rig.Problem().empty()) text += ", " + rig.Problem();
  return text;
}

void CheckFrameCounts(Report& report, const Target& target) {
  for (UInt32 channels : {1u, 2u}) {
    for (Float64 rate : kRates) {
      const std::string config = std::to_string(channels) + "ch-" + FloatText(rate);
      auto unit = OpenConfigured(report, target, rate, channels, false);
      RenderRig rig(*unit, channels, rate);
      StartRendering(report, rig, config);
      const UInt32 maxFrames = unit->MaxFrames();
      if (maxFrames == 0) {
        report.Require(false, "setup", "the maximum frames per slice cannot be read, " + config);
      }
      // Half a second of audio at each size, enough for many analysis hops.
      const auto total = static_cast<UInt32>(rate / 2);
      for (UInt32 frames : {1u, 64u, 512u, maxFrames}) {
        const UInt32 count = std::clamp<UInt32>(total / frames, 4, 4096);
        rig.ClearProblem();
        const Run run = RenderMany(rig, frames, count);
        report.Check(Good(run, rig), config + " " + std::to_string(frames) + " frames", Describe(run, rig));
      }
      rig.ClearProblem();
      const Run own = RenderMany(rig, 512, 16, RenderRig::Buffers::Null);
      report.Check(Good(own, rig), config + " unit's buffers",
                   "null mData, 512 frames: " + Describe(own, rig));
    }
  }
}

// After audio has passed, every readable parameter, the meters included,
// reads a finite value inside its range.
void CheckMeters(Report& report, host::UnitInstance& unit) {
  std::string wrong;
  std::size_t read = 0;
  for (const ParameterEntry& p : SurveyParameters(unit)) {
    if (!IsReadable(p.info)) continue;
    Float32 value = p.info.defaultValue;
    const OSStatus status = unit.GetParameter(p.id, kAudioUnitScope_Global, 0, value);
    ++read;
    if (status != noErr || !std::isfinite(value) || value < p.info.minValue || value > p.info.maxValue) {
      wrong += " #" + std::to_string(p.id) + " " + StatusText(status) + " " + FloatText(value) + ";";
    }
  }
  report.CheckNone(
      "values-in-range", wrong,
      std::to_string(read) + " readable parameters, meters included, inside their ranges after rendering",
      "outside the range:");
}

void CheckSignals(Report& report, const Target& target) {
  auto unit = OpenConfigured(report, target, 48000.0, 2, false);
  RenderRig rig(*unit, 2, 48000.0);
  StartRendering(report, rig);
  RenderMany(rig, 512, 20);

  CheckMeters(report, *unit);

  rig.SetSignal(Signal::Silence);
  rig.ClearProblem();
  const Run silence = RenderMany(rig, 512, 94);
  report.Check(Good(silence, rig), "silence",
               "a second of silence in: " + Describe(silence, rig) +
                   (silence.stats.Silent() ? "" : " (finite, though not silent)"));

  rig.SetSignal(Signal::FullScale);
  rig.ClearProblem();
  const Run full = RenderMany(rig, 512, 94);
  report.Check(Good(full, rig), "full-scale", "a second of a full-scale square wave: " + Describe(full, rig));

  rig.SetSignal(Signal::Subnormal);
  rig.ClearProblem();
  const Run tiny = RenderMany(rig, 512, 94);
  report.Check(Good(tiny, rig), "subnormal-input", "a second of subnormal input: " + Describe(tiny, rig));
}

// Every writable parameter at its minimum, its maximum and in between,
// changed between renders as a user turning every knob at once would.
void CheckParameterExtremes(Report& report, const Target& target) {
  auto unit = OpenConfigured(report, target, 44100.0, 2, false);
  RenderRig rig(*unit, 2, 44100.0);
  StartRendering(report, rig);
  const std::vector<ParameterEntry> parameters = SurveyParameters(*unit);
  for (double fraction : {0.0, 1.0, 0.5}) {
    SetWritable(*unit, parameters, fraction);
    rig.ClearProblem();
    const Run run = RenderMany(rig, 512, 24);
    report.Check(Good(run, rig), "parameters-at-" + FloatText(fraction),
                 "every writable parameter " + FloatText(fraction * 100) +
                     "% of the way through its range: " + Describe(run, rig));
  }
}

// A control thread reads every parameter and turns every writable one while
// the render thread renders, as a host's user interface does.
void CheckConcurrentParameters(Report& report, const Target& target) {
  auto unit = OpenConfigured(report, target, 48000.0, 2, false);
  RenderRig rig(*unit, 2, 48000.0);
  StartRendering(report, rig);
  const std::vector<ParameterEntry> parameters = SurveyParameters(*unit);
  std::atomic<bool> done{false};
  std::atomic<UInt32> operations{0};
  std::thread control([&] {
    for (UInt32 round = 0; !done.load(); ++round) {
      for (const ParameterEntry& p : parameters) {
        Float32 value = 0.0f;
        unit->GetParameter(p.id, kAudioUnitScope_Global, 0, value);
        if (IsWritable(p.info)) {
          unit->SetParameter(p.id, kAudioUnitScope_Global, 0, ValueAt(p.info, (round % 5) / 4.0));
        }
        ++operations;
      }
    }
  });
  const Run run = RenderMany(rig, 512, 200);
  done = true;
  control.join();
  report.Check(Good(run, rig), "concurrent-parameters",
               std::to_string(operations.load()) + " parameter reads and sets on another thread during " +
                   Describe(run, rig));
}

// The fast render entry renders what the render selector renders.
void CheckFastRender(Report& report, const Target& target) {
  auto slowUnit = OpenConfigured(report, target, 48000.0, 2, false);
  auto fastUnit = OpenConfigured(report, target, 48000.0, 2, false);
  AudioUnitRenderProc render = nullptr;
  const OSStatus status =
      fastUnit->Get(kAudioUnitProperty_FastDispatch, kAudioUnitScope_Global, kAudioUnitRenderSelect, render);
  if (status != noErr || render == nullptr) {
    report.Pass("fast-render", "no fast render entry offered (" + StatusText(status) + ")");
    return;
  }
  RenderRig slow(*slowUnit, 2, 48000.0);
  RenderRig fast(*fastUnit, 2, 48000.0);
  fast.UseFastRender(render, GetComponentInstanceStorage(fastUnit->Get()));
  StartRendering(report, slow);
  StartRendering(report, fast);
  std::string difference;
  for (UInt32 i = 0; i < 30 && difference.empty(); ++i) {
    const OSStatus a = slow.Render(512);
    const OSStatus b = fast.Render(512);
    if (a != noErr || b != noErr) {
      difference = "render " + std::to_string(i) + ": selector " + StatusText(a) + ", fast " + StatusText(b);
      break;
    }
    for (UInt32 channel = 0; channel < 2; ++channel) {
      const auto x = slow.Output(channel);
      const auto y = fast.Output(channel);
      if (!std::equal(x.begin(), x.end(), y.begin(), y.end())) {
        difference = "render " + std::to_string(i) + ", channel " + std::to_string(channel) + " differs";
      }
    }
  }
  const OSStatus noStamp =
      render(GetComponentInstanceStorage(fastUnit->Get()), nullptr, nullptr, 0, 512, nullptr);
  report.Check(difference.empty() && noStamp == kAudio_ParamError, "fast-render",
               (difference.empty() ? std::string("30 renders through the fast entry equal the selector's")
                                   : difference) +
                   "; without a time stamp it answers " + StatusText(noStamp));
}

// Two instances render the same input, one of them configured otherwise by
// a property a host may set before initialization; their outputs must not
// differ. "" when they agree.
std::string CompareWithVariant(Report& report, const Target& target, AudioUnitPropertyID id,
                               AudioUnitScope scope, UInt32 value, RenderRig::Buffers buffers) {
  auto plainUnit = OpenConfigured(report, target, 48000.0, 2, false);
  auto variantUnit = OpenConfigured(report, target, 48000.0, 2, false);
  const OSStatus set = variantUnit->Set(id, scope, 0, value);
  if (set != noErr)
    return "setting " + PropertyText(id) + " to " + std::to_string(value) + ": " + StatusText(set);
  RenderRig plain(*plainUnit, 2, 48000.0);
  RenderRig variant(*variantUnit, 2, 48000.0);
  StartRendering(report, plain);
  StartRendering(report, variant);
  for (UInt32 i = 0; i < 30; ++i) {
    const OSStatus a = plain.Render(512);
    const OSStatus b = variant.Render(512, buffers);
    if (a != noErr || b != noErr) return "render " + std::to_string(i) + ": " + StatusText(b);
    for (UInt32 channel = 0; channel < 2; ++channel) {
      const auto x = plain.Output(channel);
      const auto y = variant.Output(channel);
      if (!std::equal(x.begin(), x.end(), y.begin(), y.end())) {
        return "render " + std::to_string(i) + ", channel " + std::to_string(channel) + " differs";
      }
    }
  }
  return variant.Problem();
}

// Processing in place or not, and input memory from the unit or the host,
// are the host's choices of buffers; the audio is the same.
void CheckBufferChoices(Report& report, const Target& target) {
  const PropertyInfo inPlace = host::UnitInstance(target.component)
                                   .Info(kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0);
  if (inPlace.status == noErr && inPlace.writable) {
    const std::string difference = CompareWithVariant(report, target, kAudioUnitProperty_InPlaceProcessing,
                                                      kAudioUnitScope_Global, 0, RenderRig::Buffers::Host);
    report.CheckNone("not-in-place", difference,
                     "with in-place processing off, 30 renders equal the in-place ones");
  }
  const std::string difference = CompareWithVariant(report, target, kAudioUnitProperty_ShouldAllocateBuffer,
                                                    kAudioUnitScope_Input, 0, RenderRig::Buffers::Null);
  report.CheckNone("host-input-memory", difference,
                   "with the input's memory from the host and the output's from the unit, "
                   "30 renders equal the usual ones");
}

OSStatus ReadRenderError(host::UnitInstance& unit, OSStatus& error) {
  error = 12345;
  return unit.Get(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0, error);
}

void CheckRefusedRenders(Report& report, const Target& target) {
  auto unit = OpenConfigured(report, target, 48000.0, 2, false);
  RenderRig rig(*unit, 2, 48000.0);
  RequireNoErr(report, rig.AttachInput(), "setup", "input callback");

  const OSStatus uninitialized = rig.Render(64);
  OSStatus recorded = noErr;
  ReadRenderError(*unit, recorded);
  report.Check(uninitialized == kAudioUnitErr_Uninitialized, "uninitialized",
               "a render before initialization: " + StatusText(uninitialized) + " (recorded " +
                   StatusText(recorded) + ")");

  RequireNoErr(report, unit->Initialize(), "setup", "initialize");
  const UInt32 maxFrames = unit->MaxFrames();
  const OSStatus tooMany = rig.Render(maxFrames + 1);
  OSStatus first = noErr;
  OSStatus second = noErr;
  const OSStatus read1 = ReadRenderError(*unit, first);
  const OSStatus read2 = ReadRenderError(*unit, second);
  report.Check(tooMany == kAudioUnitErr_TooManyFramesToProcess && read1 == noErr && first == tooMany &&
                   read2 == noErr && second == noErr,
               "too-many-frames",
               std::to_string(maxFrames + 1) + " frames (maximum " + std::to_string(maxFrames) +
                   "): " + StatusText(tooMany) + "; last render error then reads " + StatusText(first) +
                   ", and again " + StatusText(second));
  const Run after = RenderMany(rig, maxFrames, 2);
  report.Check(Good(after, rig), "max-after-refusal", "the maximum right after: " + Describe(after, rig));

  // Renders the rig cannot make: each call below is the host's own.
  AudioTimeStamp stamp = rig.Advance(1024);
  AudioBufferList* list = rig.PrepareList(512);
  const OSStatus noFlags = AudioUnitRender(unit->Get(), nullptr, &stamp, 0, 512, list);
  report.Check(noFlags == noErr, "null-flags",
               "a render without an action-flags word: " + StatusText(noFlags));

  AudioUnitRenderActionFlags flags = 0;
  const OSStatus noStamp = AudioUnitRender(unit->Get(), &flags, nullptr, 0, 512, list);
  const OSStatus noList = AudioUnitRender(unit->Get(), &flags, &stamp, 0, 512, nullptr);
  OSStatus recordedNull = noErr;
  ReadRenderError(*unit, recordedNull);
  report.Check(
      noStamp == kAudio_ParamError && noList == kAudio_ParamError && recordedNull == noErr, "null-arguments",
      "without a time stamp: " + StatusText(noStamp) + "; without a buffer list: " + StatusText(noList) +
          "; last render error then reads " + StatusText(recordedNull));

  stamp.mSampleTime += 512;
  list->mNumberBuffers = 1;
  flags = 0;
  const OSStatus wrongCount = AudioUnitRender(unit->Get(), &flags, &stamp, 0, 512, list);
  stamp.mSampleTime += 512;
  list = rig.PrepareList(512);
  for (UInt32 i = 0; i < list->mNumberBuffers; ++i) list->mBuffers[i].mDataByteSize -= 4;
  flags = 0;
  const OSStatus tooSmall = AudioUnitRender(unit->Get(), &flags, &stamp, 0, 512, list);
  const OSStatus otherBus = AudioUnitRender(unit->Get(), &flags, &stamp, 7, 512, rig.PrepareList(512));
  OSStatus drained = noErr;
  ReadRenderError(*unit, drained);
  report.Check(wrongCount == kAudio_ParamError && tooSmall == kAudio_ParamError &&
                   otherBus == kAudioUnitErr_InvalidElement,
               "malformed-lists",
               "1 buffer for 2 channels: " + StatusText(wrongCount) + "; buffers 4 bytes short: " +
                   StatusText(tooSmall) + "; output bus 7: " + StatusText(otherBus));
}

void CheckWithoutInput(Report& report, const Target& target) {
  auto unit = OpenConfigured(report, target, 48000.0, 2);
  RenderRig rig(*unit, 2, 48000.0);
  const OSStatus status = rig.Render(512);
  OSStatus recorded = noErr;
  ReadRenderError(*unit, recorded);
  report.Check(status == kAudioUnitErr_NoConnection && recorded == status, "no-input",
               "a render with neither input callback nor connection: " + StatusText(status) +
                   "; last render error reads " + StatusText(recorded));
}

void CheckLargerMaximum(Report& report, const Target& target) {
  auto unit = OpenConfigured(report, target, 44100.0, 2, false);
  const OSStatus set = unit->SetMaxFrames(4096);
  RenderRig rig(*unit, 2, 44100.0);
  StartRendering(report, rig);
  const Run run = RenderMany(rig, 4096, 8);
  const OSStatus beyond = rig.Render(4097);
  OSStatus drained = noErr;
  ReadRenderError(*unit, drained);
  report.Check(set == noErr && Good(run, rig) && beyond == kAudioUnitErr_TooManyFramesToProcess, "max-4096",
               "maximum set to 4096: " + StatusText(set) + "; 4096 frames: " + Describe(run, rig) +
                   "; 4097 frames: " + StatusText(beyond));
}

}  // namespace

void CheckRendering(Report& report, const Target& target) {
  CheckFrameCounts(report, target);
  CheckSignals(report, target);
  CheckParameterExtremes(report, target);
  CheckConcurrentParameters(report, target);
  CheckFastRender(report, target);
  CheckBufferChoices(report, target);
  CheckRefusedRenders(report, target);
  CheckWithoutInput(report, target);
  CheckLargerMaximum(report, target);
}

}  // namespace varsile::validate
