// Opening and closing, alone, many at once and from several threads; the
// version and can-do answers; the lifecycle selectors in every order a host
// may call them.
#include <AudioToolbox/AudioComponentRegistry.h>
#include <fmt/format.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "Checks.h"
#include "Text.h"

namespace varsile::validate {

namespace {

// Selectors a host of an audio unit relies on: the lifecycle, properties,
// parameters, reset, listeners, render, render notifications, scheduled
// parameters, and the generic component selectors.
constexpr std::array<SInt16, 18> kRequiredSelectors{
    kAudioUnitInitializeSelect,
    kAudioUnitUninitializeSelect,
    kAudioUnitGetPropertyInfoSelect,
    kAudioUnitGetPropertySelect,
    kAudioUnitSetPropertySelect,
    kAudioUnitGetParameterSelect,
    kAudioUnitSetParameterSelect,
    kAudioUnitResetSelect,
    kAudioUnitAddPropertyListenerSelect,
    kAudioUnitRenderSelect,
    kAudioUnitAddRenderNotifySelect,
    kAudioUnitRemoveRenderNotifySelect,
    kAudioUnitScheduleParametersSelect,
    kAudioUnitRemovePropertyListenerWithUserDataSelect,
    kComponentOpenSelect,
    kComponentCloseSelect,
    kComponentCanDoSelect,
    kComponentVersionSelect,
};

// Selectors that no component answers: numbers outside both tables.
constexpr std::array<SInt16, 4> kUnknownSelectors{22, 100, -5, -100};

// Selectors a unit may or may not implement; whatever it answers to can-do
// must agree with what it does when called.
constexpr std::array<SInt16, 8> kOptionalSelectors{0, 8, 11, 12, 13, 19, 20, 21};

OSStatus CallSelector(AudioUnit unit, SInt16 selector) {
  ComponentParameters params{};
  params.what = selector;
  return CallComponentDispatch(unit, &params);
}

void CheckOpenClose(Report& report, const Target& target) {
  constexpr int kCycles = 100;
  int failures = 0;
  OSStatus firstFailure = noErr;
  for (int i = 0; i < kCycles; ++i) {
    host::UnitInstance unit(target.component);
    const OSStatus status = unit ? unit.Close() : unit.OpenStatus();
    if (status != noErr && failures++ == 0) firstFailure = status;
  }
  report.Check(failures == 0, "open-close",
               failures == 0 ? std::to_string(kCycles) + " opens and closes, each noErr"
                             : std::to_string(failures) + " of " + std::to_string(kCycles) +
                                   " cycles failed, the first with " + StatusText(firstFailure));
}

void CheckManyOpen(Report& report, const Target& target) {
  constexpr std::size_t kInstances = 16;
  std::vector<std::unique_ptr<host::UnitInstance>> units;
  std::size_t opened = 0;
  for (std::size_t i = 0; i < kInstances; ++i) {
    units.push_back(std::make_unique<host::UnitInstance>(target.component));
    if (*units.back()) ++opened;
  }
  // Closed out of order: odd ones first, then the even ones backwards.
  std::size_t closed = 0;
  for (std::size_t i = 1; i < kInstances; i += 2) closed += *units[i] && units[i]->Close() == noErr;
  for (std::size_t i = kInstances; i-- > 0;) {
    if (i % 2 == 0) closed += *units[i] && units[i]->Close() == noErr;
  }
  report.Check(opened == kInstances && closed == kInstances, "open-many",
               std::to_string(opened) + " of " + std::to_string(kInstances) + " instances open at once, " +
                   std::to_string(closed) + " closed out of order");
}

void CheckThreadedOpen(Report& report, const Target& target) {
  constexpr int kThreads = 4;
  constexpr int kCycles = 25;
  std::atomic<int> failures{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kCycles; ++i) {
        host::UnitInstance unit(target.component);
        if (!unit || unit.Close() != noErr) ++failures;
      }
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
  report.Check(failures == 0, "open-threads",
               std::to_string(kThreads) + " threads opening and closing " + std::to_string(kCycles) +
                   " instances each: " + std::to_string(failures.load()) + " failures");
}

void CheckVersion(Report& report, const Target& target, host::UnitInstance& unit) {
  const OSStatus version = CallSelector(unit.Get(), kComponentVersionSelect);
  report.Check(static_cast<UInt32>(version) == target.version, "version",
               fmt::format("the version selector answers 0x{:08X}, the registry 0x{:08X}",
                           static_cast<UInt32>(version), target.version));
}

void CheckCanDo(Report& report, host::UnitInstance& unit) {
  std::string missing;
  for (SInt16 selector : kRequiredSelectors) {
    if (!AudioComponentInstanceCanDo(unit.Get(), selector)) missing += " " + std::to_string(selector);
  }
  report.CheckNone("can-do", missing,
                   std::to_string(kRequiredSelectors.size()) + " selectors a host needs answered yes",
                   "answered no for");

  std::string wrong;
  for (SInt16 selector : kUnknownSelectors) {
    if (AudioComponentInstanceCanDo(unit.Get(), selector)) {
      wrong += " can-do(" + std::to_string(selector) + ") yes;";
    }
    const OSStatus status = CallSelector(unit.Get(), selector);
    if (status != badComponentSelector) {
      wrong += " selector " + std::to_string(selector) + " answers " + StatusText(status) + ";";
    }
  }
  report.CheckNone("unknown-selectors", wrong,
                   "selectors 22, 100, -5 and -100: can-do no, and badComponentSelector when called");

  std::string disagree;
  std::string handled;
  for (SInt16 selector : kOptionalSelectors) {
    if (AudioComponentInstanceCanDo(unit.Get(), selector)) {
      handled += " " + std::to_string(selector);
      continue;
    }
    const OSStatus status = CallSelector(unit.Get(), selector);
    if (status != badComponentSelector) {
      disagree += " selector " + std::to_string(selector) + " answers " + StatusText(status) + ";";
    }
  }
  report.CheckNone("can-do-agrees", disagree,
                   "every optional selector answered no is refused with badComponentSelector" +
                       (handled.empty() ? std::string() : "; handled:" + handled),
                   "can-do says no, but");
}

void CheckLifecycleOrders(Report& report, const Target& target) {
  {
    auto unit = OpenUnit(report, target);
    const OSStatus status = unit->Uninitialize();
    report.Check(status == noErr, "uninitialize-fresh",
                 "uninitializing an instance never initialized: " + StatusText(status));
  }
  {
    auto unit = OpenConfigured(report, target, 44100.0, 2, false);
    const OSStatus first = unit->Initialize();
    const OSStatus second = unit->Initialize();
    const OSStatus third = unit->Uninitialize();
    const OSStatus fourth = unit->Uninitialize();
    const OSStatus again = unit->Initialize();
    report.Check(first == noErr && second == noErr && third == noErr && fourth == noErr && again == noErr,
                 "initialize-twice",
                 "initialize " + StatusText(first) + ", again " + StatusText(second) + "; uninitialize " +
                     StatusText(third) + ", again " + StatusText(fourth) + "; initialize anew " +
                     StatusText(again));
    const OSStatus closed = unit->Close();
    report.Check(closed == noErr, "close-initialized",
                 "closing an initialized instance: " + StatusText(closed));
  }
}

}  // namespace

void CheckComponent(Report& report, const Target& target) {
  report.Pass("registry", host::DescribeComponent(target));
  CheckOpenClose(report, target);
  CheckManyOpen(report, target);
  CheckThreadedOpen(report, target);
  auto unit = OpenUnit(report, target);
  CheckVersion(report, target, *unit);
  CheckCanDo(report, *unit);
  unit.reset();
  CheckLifecycleOrders(report, target);
}

}  // namespace varsile::validate
