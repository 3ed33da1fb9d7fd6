// run() must not allocate, free, lock or wait. The project's render-thread
// counter replaces the allocation and lock functions for everything loaded
// into this program (the plug-in, the component module, the platform
// library); the waiting calls are counted here the same way.
#include <AudioToolbox/AudioUnitUtilities.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "Lv2TestSupport.h"
#include "RenderThreadCounter.h"

namespace {

constinit thread_local bool tCountingWaits = false;
std::atomic<long> gWaits{0};

}  // namespace

extern "C" {

int sched_yield() noexcept {
  static std::atomic<int (*)()> next{nullptr};
  if (tCountingWaits) gWaits.fetch_add(1, std::memory_order_relaxed);
  return reliability::Next("sched_yield", next)();
}

int nanosleep(const timespec* duration, timespec* remaining) {
  static std::atomic<int (*)(const timespec*, timespec*)> next{nullptr};
  if (tCountingWaits) gWaits.fetch_add(1, std::memory_order_relaxed);
  return reliability::Next("nanosleep", next)(duration, remaining);
}

}  // extern "C"

namespace {

using lv2test::Planar;
using lv2test::PluginInstance;

struct Counts {
  std::uint64_t allocations = 0;
  std::uint64_t releases = 0;
  std::uint64_t locks = 0;
  long waits = 0;
};

// Counts what this thread does while it lives.
class CountingScope {
 public:
  CountingScope() {
    reliability::RenderThreadCounter::Reset();
    gWaits = 0;
    mSection.emplace();
    tCountingWaits = true;
  }
  ~CountingScope() { Stop(); }
  Counts Stop() {
    tCountingWaits = false;
    mSection.reset();
    const reliability::RenderThreadCounts counts = reliability::RenderThreadCounter::Counts();
    return Counts{counts.allocations, counts.deallocations, counts.locks, gWaits.load()};
  }

 private:
  std::optional<reliability::CountedSection> mSection;
};

void* volatile gSink = nullptr;

TEST(RealtimeSafety, TheCountersSeeWhatTheyCount) {
  if (!reliability::RenderThreadCounter::Available()) GTEST_SKIP() << "this build counts nothing";
  sched_yield();  // looks its next definition up, outside the count
  CountingScope scope;
  gSink = std::malloc(24);
  std::free(gSink);
  auto* object = new int(5);
  gSink = object;
  delete object;
  std::mutex mutex;
  mutex.lock();
  mutex.unlock();
  sched_yield();
  const Counts counts = scope.Stop();
  EXPECT_EQ(counts.allocations, 2u);
  EXPECT_EQ(counts.releases, 2u);
  EXPECT_EQ(counts.locks, 1u);
  EXPECT_EQ(counts.waits, 1);

  // Calls made inside the plug-in, the component module and the platform
  // library are seen too: opening an instance allocates, and takes the
  // component's process-wide open mutex.
  CountingScope instantiation;
  { const PluginInstance plugin(lv2test::kStereoURI, 48000.0); }
  const Counts opened = instantiation.Stop();
  EXPECT_GT(opened.allocations, 10u);
  EXPECT_GT(opened.releases, 10u);
  EXPECT_GE(opened.locks, 1u);
}

std::atomic<long> gEvents{0};

void HearEvent(void*, void*, const AudioUnitEvent*, UInt64, AudioUnitParameterValue) {
  gEvents.fetch_add(1, std::memory_order_relaxed);
}

TEST(RealtimeSafety, RunAllocatesNothingAndNeverLocksOrWaits) {
  if (!reliability::RenderThreadCounter::Available()) GTEST_SKIP() << "this build counts nothing";
  // A host listening to every unit's parameter changes: the master volume's
  // coupling and the note meter then tell it from inside run().
  AUEventListenerRef listener = nullptr;
  ASSERT_EQ(AUEventListenerCreateWithCallback(&HearEvent, nullptr, &listener), noErr);
  AudioUnitEvent everything{};
  everything.mEventType = kAudioUnitEvent_ParameterValueChange;
  everything.mArgument.mParameter = AudioUnitParameter{nullptr, kAUEventListener_AnyParameter, 0, 0};
  ASSERT_EQ(AUEventListenerAddEventType(listener, nullptr, &everything), noErr);

  constexpr double kRate = 48000.0;
  const Planar input = lv2test::Melody(2, kRate, 0.6);
  for (const UInt32 block : {1u, 2u, 3u, 64u, 511u, 4096u, 5000u}) {
    SCOPED_TRACE("block " + std::to_string(block));
    PluginInstance plugin(lv2test::kStereoURI, kRate);
    Planar output(2, std::vector<float>(input[0].size()));
    float& key = plugin.Control("key");
    float& master = plugin.Control("master_volume");
    float& interval = plugin.Control("vol_minor_second");
    float& attack = plugin.Control("attack_time");
    float& enabled = plugin.Control("enabled");
    const float& note = plugin.Control("current_note");
    plugin.Activate();
    gEvents = 0;

    CountingScope scope;
    float lowestNote = 12.0f;
    std::size_t blocks = 0;
    for (std::size_t offset = 0; offset < input[0].size(); offset += block, ++blocks) {
      const auto frames = static_cast<UInt32>(std::min<std::size_t>(block, input[0].size() - offset));
      // Controls move every few blocks, as under automation.
      if (blocks % 3 == 0) key = static_cast<float>((blocks / 3) % 12);
      if (blocks % 5 == 0) master = (blocks / 5) % 2 == 0 ? 60.0f : 100.0f;
      if (blocks % 7 == 0) interval = (blocks / 7) % 2 == 0 ? 0.0f : 50.0f;
      if (blocks % 11 == 0) attack = (blocks / 11) % 2 == 0 ? 0.1f : 1.0f;
      // Resuming from bypass resets the analysis.
      enabled = (offset / 12000) % 2 == 0 ? 1.0f : 0.0f;
      for (UInt32 c = 0; c < 2; ++c)
        plugin.ConnectAudio(c, input[c].data() + offset, output[c].data() + offset);
      plugin.Run(frames);
      lowestNote = std::min(lowestNote, note);
    }
    const Counts counts = scope.Stop();

    EXPECT_EQ(counts.allocations, 0u);
    EXPECT_EQ(counts.releases, 0u);
    EXPECT_EQ(counts.locks, 0u);
    EXPECT_EQ(counts.waits, 0);
    // The work that could have allocated did happen.
    EXPECT_LT(lowestNote, 12.0f);
    EXPECT_GT(gEvents.load(), 12);
  }
  EXPECT_EQ(AUListenerDispose(listener), noErr);
}

}  // namespace
