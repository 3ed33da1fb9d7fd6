// Render notifications: once before and once after every render, with the
// right flags, time stamp, bus and frame count; not at all for a render
// that is refused; with the error flag after a failed input pull; added
// once however often added; gone once removed.
#include <vector>

#include "Checks.h"
#include "RenderRig.h"
#include "Text.h"

namespace varsile::validate {

namespace {

struct Call {
  AudioUnitRenderActionFlags flags;
  Float64 sampleTime;
  UInt32 bus;
  UInt32 frames;
  const AudioBufferList* list;
};

struct Recorder {
  std::vector<Call> calls;

  static OSStatus Proc(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp,
                       UInt32 bus, UInt32 frames, AudioBufferList* list) {
    auto* recorder = static_cast<Recorder*>(refCon);
    recorder->calls.push_back({flags != nullptr ? *flags : 0xFFFFFFFF,
                               timeStamp != nullptr ? timeStamp->mSampleTime : -2.0, bus, frames, list});
    return noErr;
  }
};

constexpr AudioUnitRenderActionFlags kPre = kAudioUnitRenderAction_PreRender;
constexpr AudioUnitRenderActionFlags kPost = kAudioUnitRenderAction_PostRender;
constexpr AudioUnitRenderActionFlags kError = kAudioUnitRenderAction_PostRenderError;

// What is wrong with the calls of one render that the recorder saw, or "".
std::string PairProblem(const std::vector<Call>& calls, const RenderRig& rig, UInt32 frames,
                        bool expectError) {
  if (calls.size() != 2) return std::to_string(calls.size()) + " calls instead of 2 (one before, one after)";
  const Call& pre = calls[0];
  const Call& post = calls[1];
  if ((pre.flags & kPre) == 0 || (pre.flags & kPost) != 0) {
    return "the first call's flags lack PreRender alone";
  }
  if ((post.flags & kPost) == 0 || (post.flags & kPre) != 0) {
    return "the second call's flags lack PostRender alone";
  }
  if (((post.flags & kError) != 0) != expectError) {
    return expectError ? "the post-render call lacks PostRenderError"
                       : "the post-render call has PostRenderError";
  }
  for (const Call& call : calls) {
    if (call.sampleTime != rig.LastTimeStamp().mSampleTime || call.bus != 0 || call.frames != frames ||
        call.list != rig.LastList()) {
      return "a call did not get the render's time stamp, bus, frame count and buffer list";
    }
  }
  return {};
}

}  // namespace

void CheckNotifications(Report& report, const Target& target) {
  // Declared first, so that they outlive the instance that calls them.
  Recorder first;
  Recorder second;
  auto unit = OpenConfigured(report, target, 48000.0, 2, false);
  RenderRig rig(*unit, 2, 48000.0);
  StartRendering(report, rig);

  const OSStatus added = AudioUnitAddRenderNotify(unit->Get(), &Recorder::Proc, &first);
  const OSStatus addedTwice = AudioUnitAddRenderNotify(unit->Get(), &Recorder::Proc, &first);
  const OSStatus addedOther = AudioUnitAddRenderNotify(unit->Get(), &Recorder::Proc, &second);
  report.Check(added == noErr && addedTwice == noErr && addedOther == noErr, "add",
               "added " + StatusText(added) + ", the same again " + StatusText(addedTwice) + ", another " +
                   StatusText(addedOther));

  std::string problem;
  for (UInt32 render = 0; render < 8 && problem.empty(); ++render) {
    first.calls.clear();
    second.calls.clear();
    const UInt32 frames = render % 2 == 0 ? 512 : 64;
    const OSStatus status = rig.Render(frames);
    if (status != noErr) problem = StatusText(status);
    if (problem.empty()) problem = PairProblem(first.calls, rig, frames, false);
    if (problem.empty()) problem = PairProblem(second.calls, rig, frames, false);
    if (!problem.empty()) problem = "render " + std::to_string(render) + ": " + problem;
  }
  report.CheckNone("pre-and-post", problem,
                   "8 renders: each notification (one added twice) called once before and once after, "
                   "with the render's time stamp, bus, frames and list");

  first.calls.clear();
  second.calls.clear();
  const OSStatus tooMany = rig.Render(unit->MaxFrames() + 1);
  OSStatus error = noErr;
  unit->Get(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0, error);
  report.Check(tooMany == kAudioUnitErr_TooManyFramesToProcess && first.calls.empty() && second.calls.empty(),
               "refused-render",
               "a render of too many frames (" + StatusText(tooMany) + ") called the notifications " +
                   std::to_string(first.calls.size() + second.calls.size()) + " times");

  first.calls.clear();
  constexpr OSStatus kUpstreamError = -12345;
  rig.SetInputStatus(kUpstreamError);
  const OSStatus failed = rig.Render(512);
  rig.SetInputStatus(noErr);
  OSStatus recorded = noErr;
  const OSStatus read = unit->Get(kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0, recorded);
  const std::string failedProblem = PairProblem(first.calls, rig, 512, true);
  report.Check(
      failed == kUpstreamError && failedProblem.empty() && read == noErr && recorded == kUpstreamError,
      "failed-input",
      "an input callback failing with " + std::to_string(kUpstreamError) + ": render " + StatusText(failed) +
          "; " + (failedProblem.empty() ? "pre, then post with PostRenderError" : failedProblem) +
          "; last render error reads " + StatusText(recorded));

  const OSStatus removed = AudioUnitRemoveRenderNotify(unit->Get(), &Recorder::Proc, &first);
  first.calls.clear();
  second.calls.clear();
  const OSStatus status = rig.Render(512);
  report.Check(
      removed == noErr && status == noErr && first.calls.empty() && second.calls.size() == 2, "remove",
      "removed " + StatusText(removed) + "; the next render called it " + std::to_string(first.calls.size()) +
          " times and the other " + std::to_string(second.calls.size()) + " times");
  AudioUnitRemoveRenderNotify(unit->Get(), &Recorder::Proc, &second);

  const OSStatus nullProc = AudioUnitAddRenderNotify(unit->Get(), nullptr, &first);
  report.Check(nullProc == kAudio_ParamError, "add-null", "adding a null procedure: " + StatusText(nullProc));
}

}  // namespace varsile::validate
