// Scheduled parameter events, as a host's automation sends them: immediate
// values at offsets inside the buffer, ramps that start inside, before and
// across it, many events at once and on every buffer; the renders succeed
// with clean output, and an immediate event's value holds afterwards.
#include <array>
#include <vector>

#include "Checks.h"
#include "ParameterSurvey.h"
#include "RenderRig.h"
#include "SampleScan.h"
#include "Text.h"

namespace varsile::validate {

namespace {

constexpr UInt32 kFrames = 512;

AudioUnitParameterEvent Immediate(AudioUnitParameterID id, UInt32 offset, Float32 value) {
  AudioUnitParameterEvent event{kAudioUnitScope_Global, 0, id, kParameterEvent_Immediate, {}};
  event.eventValues.immediate = {offset, value};
  return event;
}

AudioUnitParameterEvent Ramp(AudioUnitParameterID id, SInt32 start, UInt32 duration, Float32 from,
                             Float32 to) {
  AudioUnitParameterEvent event{kAudioUnitScope_Global, 0, id, kParameterEvent_Ramped, {}};
  event.eventValues.ramp = {start, duration, from, to};
  return event;
}

struct Outcome {
  OSStatus scheduled = noErr;
  OSStatus rendered = noErr;
  SampleStats stats;
};

Outcome ScheduleAndRender(host::UnitInstance& unit, RenderRig& rig,
                          const std::vector<AudioUnitParameterEvent>& events) {
  Outcome outcome;
  outcome.scheduled =
      AudioUnitScheduleParameters(unit.Get(), events.data(), static_cast<UInt32>(events.size()));
  outcome.rendered = rig.Render(kFrames);
  if (outcome.rendered == noErr) rig.ScanOutput(outcome.stats);
  return outcome;
}

bool Good(const Outcome& outcome, const RenderRig& rig) {
  return outcome.scheduled == noErr && outcome.rendered == noErr && outcome.stats.Clean() &&
         rig.Problem().empty();
}

std::string Describe(const Outcome& outcome, std::size_t events, const RenderRig& rig) {
  return std::to_string(events) + " events scheduled: " + StatusText(outcome.scheduled) + "; render " +
         StatusText(outcome.rendered) + (outcome.rendered == noErr ? ", " + outcome.stats.Describe() : "") +
         (rig.Problem().empty() ? "" : ", " + rig.Problem());
}

}  // namespace

void CheckScheduledEvents(Report& report, const Target& target) {
  auto unit = OpenConfigured(report, target, 48000.0, 2, false);
  RenderRig rig(*unit, 2, 48000.0);
  StartRendering(report, rig);
  std::vector<ParameterEntry> parameters = SurveyParameters(*unit);
  std::erase_if(parameters, [](const ParameterEntry& p) { return !IsWritable(p.info); });
  if (parameters.empty()) {
    report.Pass("parameters", "the unit has no writable global parameter to schedule");
    return;
  }
  for (int i = 0; i < 10; ++i) rig.Render(kFrames);

  // Immediate events at the start and in the middle: the later one holds.
  std::vector<AudioUnitParameterEvent> events;
  for (const ParameterEntry& p : parameters) {
    events.push_back(Immediate(p.id, 0, ValueAt(p.info, 0.0)));
    events.push_back(Immediate(p.id, kFrames / 2, ValueAt(p.info, 0.6)));
  }
  const Outcome immediate = ScheduleAndRender(*unit, rig, events);
  std::string wrong;
  for (const ParameterEntry& p : parameters) {
    Float32 value = 0.0f;
    const OSStatus status = unit->GetParameter(p.id, kAudioUnitScope_Global, 0, value);
    if (status != noErr || value != ValueAt(p.info, 0.6)) {
      wrong += " #" + std::to_string(p.id) + " reads " + FloatText(value) + " (" + StatusText(status) +
               "), not " + FloatText(ValueAt(p.info, 0.6)) + ";";
    }
  }
  report.Check(
      Good(immediate, rig) && wrong.empty(), "immediate",
      Describe(immediate, events.size(), rig) + (wrong.empty() ? "; every later value holds" : ";" + wrong));

  // Ramps over the whole buffer, then inside it, then begun before it.
  const std::array<std::pair<SInt32, UInt32>, 3> spans{
      {{0, kFrames}, {kFrames / 4, kFrames / 2}, {-static_cast<SInt32>(kFrames / 2), kFrames}}};
  for (const auto& [start, duration] : spans) {
    events.clear();
    for (const ParameterEntry& p : parameters) {
      events.push_back(Ramp(p.id, start, duration, ValueAt(p.info, 0.1), ValueAt(p.info, 0.9)));
    }
    const Outcome ramped = ScheduleAndRender(*unit, rig, events);
    std::string outside;
    for (const ParameterEntry& p : parameters) {
      Float32 value = 0.0f;
      unit->GetParameter(p.id, kAudioUnitScope_Global, 0, value);
      if (!(value >= ValueAt(p.info, 0.0) && value <= ValueAt(p.info, 1.0))) {
        outside += " #" + std::to_string(p.id) + " " + FloatText(value);
      }
    }
    report.Check(Good(ramped, rig) && outside.empty(),
                 "ramp " + std::to_string(start) + "+" + std::to_string(duration),
                 Describe(ramped, events.size(), rig) +
                     (outside.empty() ? "; values stay in range" : "; out of range:" + outside));
  }

  // An offset at or beyond the buffer's end.
  events.assign(1, Immediate(parameters.front().id, kFrames + 10, ValueAt(parameters.front().info, 0.3)));
  const Outcome beyond = ScheduleAndRender(*unit, rig, events);
  report.Check(
      Good(beyond, rig), "offset-beyond-buffer",
      "an immediate event at frame " + std::to_string(kFrames + 10) + ": " + Describe(beyond, 1, rig));

  // Automation on every buffer: events spread over the buffer for a few
  // parameters at a time, and a ramp.
  Outcome all;
  std::size_t count = 0;
  for (UInt32 render = 0; render < 60 && Good(all, rig); ++render) {
    events.clear();
    for (std::size_t k = 0; k < 3; ++k) {
      const ParameterEntry& p = parameters[(render * 3 + k) % parameters.size()];
      const double fraction = static_cast<double>((render * 7 + k * 3) % 11) / 10.0;
      events.push_back(
          Immediate(p.id, (render * 37 + static_cast<UInt32>(k) * 101) % kFrames, ValueAt(p.info, fraction)));
    }
    const ParameterEntry& r = parameters[render % parameters.size()];
    events.push_back(Ramp(r.id, static_cast<SInt32>(render % 64), kFrames / 2, ValueAt(r.info, 0.2),
                          ValueAt(r.info, 0.8)));
    const Outcome outcome = ScheduleAndRender(*unit, rig, events);
    count += events.size();
    all.scheduled = outcome.scheduled;
    all.rendered = outcome.rendered;
    all.stats.Add(outcome.stats);
  }
  report.Check(Good(all, rig), "every-buffer", "60 renders with automation: " + Describe(all, count, rig));

  // More events than a unit might have room for ahead of time.
  events.clear();
  for (const ParameterEntry& p : parameters) {
    for (UInt32 k = 0; k < 3; ++k) {
      events.push_back(Immediate(p.id, k * 100, ValueAt(p.info, 0.25 * (k + 1))));
    }
  }
  const Outcome many = ScheduleAndRender(*unit, rig, events);
  report.Check(Good(many, rig), "many-events", Describe(many, events.size(), rig));

  const Outcome none = ScheduleAndRender(*unit, rig, {});
  report.Check(Good(none, rig), "no-events",
               "a render after the automation, with none: " + Describe(none, 0, rig));
}

}  // namespace varsile::validate
