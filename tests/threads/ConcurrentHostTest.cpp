// One render thread renders continuously while control threads do what a
// host may do at the same time: set and read parameters (through the
// dispatcher and the fast entries), read the meters, add and remove render
// notifications, add and remove property listeners, and read the interval
// names of several instances. Run under ThreadSanitizer in CI.
//
// The host's side of the contract is kept: initialization, formats and
// connections never change during a render; events are scheduled on the
// render thread (between renders and from the pre-render notification),
// since the pending-event list is the render's own; the meters have one
// reading thread; and property listeners are added and removed on the thread
// that changes properties. The render thread announces only the
// last-render-error property, whose listener is added before rendering
// starts and stays; no render fails here, so listeners of other properties
// may come and go meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "HostedGate.h"

namespace {

using namespace reliability;
using Clock = std::chrono::steady_clock;

constexpr Float64 kRate = 48000.0;
constexpr UInt32 kFrames = 256;
constexpr auto kRunTime = std::chrono::milliseconds(2000);

const char* const kIntervalNames[] = {"unison",      "minor second", "major second",  "minor third",
                                      "major third", "fourth",       "aug. fourth",   "fifth",
                                      "minor sixth", "major sixth",  "minor seventh", "major seventh"};
const char* const kNoteNames[] = {"C  ", "C#",  "D  ", "D#",  "E  ", "F  ",
                                  "F#",  "G  ", "G#",  "A  ", "A#",  "B  "};

// "<interval> / <note>" for interval n, with any key.
bool IsIntervalName(const char* name, UInt32 n) {
  const std::string text(name);
  const std::string prefix = std::string(kIntervalNames[n]) + " / ";
  if (text.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string note = text.substr(prefix.size());
  for (const char* candidate : kNoteNames) {
    if (note == candidate) return true;
  }
  return false;
}

// Counts its passes; a render notification may be called only in pairs.
struct CountingNotification {
  std::atomic<long> pre{0};
  std::atomic<long> post{0};
  AudioUnit scheduleFor = nullptr;  // schedules a ramp from the pre-render pass when set
  AudioUnitParameterID rampFor = kGateParam_JitterThreshold;

  static OSStatus Notify(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp*, UInt32,
                         UInt32 frames, AudioBufferList*) noexcept {
    auto& self = *static_cast<CountingNotification*>(refCon);
    if (*flags & kAudioUnitRenderAction_PreRender) {
      self.pre.fetch_add(1, std::memory_order_relaxed);
      if (self.scheduleFor != nullptr) {
        const AudioUnitParameterEvent ramp = RampedEvent(self.rampFor, 0, frames, 0.0f, 2.0f);
        (void)AudioUnitScheduleParameters(self.scheduleFor, &ramp, 1);
      }
    }
    if (*flags & kAudioUnitRenderAction_PostRender) self.post.fetch_add(1, std::memory_order_relaxed);
    return noErr;
  }
};

struct ListenerCount {
  std::atomic<long> calls{0};
  static void Proc(void* refCon, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
    static_cast<ListenerCount*>(refCon)->calls.fetch_add(1, std::memory_order_relaxed);
  }
};

class ConcurrentHost : public ::testing::Test {
 protected:
  void SetUp() override {
    mGate = std::make_unique<HostedGate>(GateComponent(), 2, kRate, 1024, &Melody::Render, &mMelody);
    // Two more instances, only for their parameter information.
    for (int i = 0; i < 2; ++i) {
      mOthers.push_back(
          std::make_unique<HostedGate>(GateComponent(), 1, kRate, 1024, &Melody::Render, &mMelody));
    }
    mGate->Initialize();
    Check(AudioUnitAddPropertyListener(mGate->Unit(), kAudioUnitProperty_LastRenderError, ListenerCount::Proc,
                                       &mRenderErrors),
          "adding the render-error listener");
    mSetFast = mGate->FastEntry<AudioUnitSetParameterProc>(kAudioUnitSetParameterSelect);
    mGetFast = mGate->FastEntry<AudioUnitGetParameterProc>(kAudioUnitGetParameterSelect);
    mPinned.scheduleFor = mGate->Unit();
    Check(AudioUnitAddRenderNotify(mGate->Unit(), CountingNotification::Notify, &mPinned),
          "adding a notification");
  }

  // Runs every thread for a while, then checks what they saw.
  void RunAll();

  bool Running() const { return !mStop.load(std::memory_order_relaxed); }

  // A failure on a worker thread is recorded and reported by the test body.
  void Fail(std::string what) {
    bool expected = false;
    if (mFailed.compare_exchange_strong(expected, true)) mFailure = std::move(what);
  }

  void RenderThread() {
    long renders = 0;
    while (Running()) {
      if (renders % 4 == 0) {
        // Parameters no control thread sets, unless the test asks for the overlap.
        // Shared: now and then the master, whose coupling writes every interval's distance.
        const AudioUnitParameterID immediate = !mShareScheduled   ? kGateParam_AccuracyThreshold
                                               : renders % 8 == 0 ? kGateParam_MasterVolume
                                                                  : kGateParam_AttackTime;
        const AudioUnitParameterID ramped =
            mShareScheduled ? kGateParam_FirstInterval + 7 : kGateParam_JitterThreshold;
        const AudioUnitParameterEvent events[] = {
            ImmediateEvent(immediate, kFrames / 4, 5.0f + static_cast<Float32>(renders % 5)),
            RampedEvent(ramped, 0, kFrames, 1.0f, 3.0f),
        };
        if (AudioUnitScheduleParameters(mGate->Unit(), events, 2) != noErr) Fail("scheduling refused");
      }
      const OSStatus status = mGate->Render(kFrames, renders % 2 == 0);
      if (status != noErr) Fail("render failed: " + std::to_string(status));
      for (UInt32 c = 0; c < 2; ++c) {
        for (UInt32 i = 0; i < kFrames; ++i) {
          if (!std::isfinite(mGate->Output(c)[i])) Fail("non-finite output");
        }
      }
      ++renders;
    }
    mRenders = renders;
  }

  // Parameters, property listeners and bypass: all on this one thread, the
  // one that changes properties.
  void ParameterThread() {
    ListenerCount infoListener;
    long round = 0;
    while (Running()) {
      const AudioUnit unit = mGate->Unit();
      // Every writable parameter but the two the render thread schedules.
      const auto id = static_cast<AudioUnitParameterID>(round % kGateParam_AccuracyThreshold);
      const Float32 value = id == kGateParam_Key           ? static_cast<Float32>(round % 12)
                            : id == kGateParam_A4Frequency ? 430.0f + static_cast<Float32>(round % 20)
                            : id == kGateParam_AttackTime || id == kGateParam_ReleaseTime
                                ? 0.05f * static_cast<Float32>(1 + round % 9)
                                : static_cast<Float32>(round % 101);
      if (round % 2 == 0) {
        if (AudioUnitSetParameter(unit, id, kAudioUnitScope_Global, 0, value, 0) != noErr)
          Fail("set refused");
      } else if (mSetFast(mGate->Storage(), id, kAudioUnitScope_Global, 0, value, 0) != noErr) {
        Fail("fast set refused");
      }
      Float32 back = 0.0f;
      if (mGetFast(mGate->Storage(), id, kAudioUnitScope_Global, 0, &back) != noErr) Fail("fast get refused");
      if (!std::isfinite(back)) Fail("a parameter read back non-finite");
      if (round % 16 == 0) {
        Check(AudioUnitAddPropertyListener(unit, kAudioUnitProperty_ParameterInfo, ListenerCount::Proc,
                                           &infoListener),
              "adding a listener");
      }
      if (round % 16 == 8) {
        Check(AudioUnitRemovePropertyListenerWithUserData(unit, kAudioUnitProperty_ParameterInfo,
                                                          ListenerCount::Proc, &infoListener),
              "removing a listener");
      }
      if (mToggleBypass && round % 64 == 0) mGate->SetBypass(true);
      if (mToggleBypass && round % 64 == 16) mGate->SetBypass(false);
      if (mToggleBypass && round % 32 == 8) {
        const UInt32 inPlace = (round / 32) % 2;
        Check(AudioUnitSetProperty(unit, kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, 0,
                                   &inPlace, sizeof inPlace),
              "switching in-place processing");
      }
      if (mShareScheduled && round % 64 == 32) {
        // A preset loaded during playback.
        CFPropertyListRef state = nullptr;
        UInt32 size = sizeof state;
        Check(AudioUnitGetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &state,
                                   &size),
              "saving the state");
        if (AudioUnitSetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &state,
                                 sizeof state) != noErr)
          Fail("restore refused");
        CFRelease(state);
      }
      for (auto& other : mOthers) other->SetParameter(kGateParam_Key, static_cast<Float32>((round / 3) % 12));
      ++round;
      std::this_thread::yield();
    }
    Check(AudioUnitRemovePropertyListenerWithUserData(mGate->Unit(), kAudioUnitProperty_ParameterInfo,
                                                      ListenerCount::Proc, &infoListener),
          "removing a listener");
    mParameterRounds = round;
  }

  // The meters have one reading thread: reading the accuracy refreshes the
  // current note, which is that thread's own state. Both entries, in turn.
  void MeterThread() {
    bool fast = false;
    while (Running()) {
      fast = !fast;
      Float32 volume = -1.0f, accuracy = -1.0f, note = -1.0f;
      const AudioUnit unit = mGate->Unit();
      if (fast) {
        mGetFast(mGate->Storage(), kGateParam_CurrentVolume, kAudioUnitScope_Global, 0, &volume);
        mGetFast(mGate->Storage(), kGateParam_Accuracy, kAudioUnitScope_Global, 0, &accuracy);
        mGetFast(mGate->Storage(), kGateParam_CurrentNote, kAudioUnitScope_Global, 0, &note);
      } else {
        AudioUnitGetParameter(unit, kGateParam_CurrentVolume, kAudioUnitScope_Global, 0, &volume);
        AudioUnitGetParameter(unit, kGateParam_Accuracy, kAudioUnitScope_Global, 0, &accuracy);
        AudioUnitGetParameter(unit, kGateParam_CurrentNote, kAudioUnitScope_Global, 0, &note);
      }
      if (!(volume >= 0.0f && volume <= 100.0f))
        Fail("current volume out of range: " + std::to_string(volume));
      if (!(accuracy >= 0.0f && accuracy <= 100.0f))
        Fail("accuracy out of range: " + std::to_string(accuracy));
      if (!(note >= 0.0f && note <= 12.0f) || note != std::floor(note)) {
        Fail("current note out of range: " + std::to_string(note));
      }
      mMeterReads.fetch_add(1, std::memory_order_relaxed);
      std::this_thread::yield();
    }
  }

  void NotificationThread() {
    CountingNotification notifications[3];
    long round = 0;
    while (Running()) {
      CountingNotification& n = notifications[round % 3];
      const OSStatus status =
          round % 2 == 0 ? AudioUnitAddRenderNotify(mGate->Unit(), CountingNotification::Notify, &n)
                         : AudioUnitRemoveRenderNotify(mGate->Unit(), CountingNotification::Notify, &n);
      if (status != noErr) Fail("a notification request was refused");
      ++round;
      std::this_thread::yield();
    }
    for (CountingNotification& n : notifications) {
      AudioUnitRemoveRenderNotify(mGate->Unit(), CountingNotification::Notify, &n);
    }
    // Removal takes effect at the next render; the notifications outlive it.
    mStoppedNotifications.store(true);
    while (!mFinalRenderDone.load()) std::this_thread::yield();
  }

  void NamesThread(std::size_t first) {
    std::vector<HostedGate*> gates{mGate.get()};
    for (auto& other : mOthers) gates.push_back(other.get());
    long round = 0;
    while (Running()) {
      HostedGate& gate = *gates[(first + static_cast<std::size_t>(round)) % gates.size()];
      const auto n = static_cast<UInt32>(round % 12);
      AudioUnitParameterInfo info{};
      UInt32 size = sizeof info;
      if (AudioUnitGetProperty(gate.Unit(), kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global,
                               kGateParam_FirstInterval + n, &info, &size) != noErr) {
        Fail("parameter information refused");
      } else if (!IsIntervalName(info.name, n)) {
        Fail(std::string("a garbled interval name: ") + info.name);
      }
      mNameReads.fetch_add(1, std::memory_order_relaxed);
      ++round;
      std::this_thread::yield();
    }
  }

  Melody mMelody{kRate};
  std::unique_ptr<HostedGate> mGate;
  std::vector<std::unique_ptr<HostedGate>> mOthers;
  AudioUnitSetParameterProc mSetFast = nullptr;
  AudioUnitGetParameterProc mGetFast = nullptr;
  CountingNotification mPinned;
  ListenerCount mRenderErrors;

  bool mToggleBypass = false;
  bool mShareScheduled = false;

  std::atomic<bool> mStop{false};
  std::atomic<bool> mFailed{false};
  std::string mFailure;
  std::atomic<bool> mStoppedNotifications{false};
  std::atomic<bool> mFinalRenderDone{false};
  long mRenders = 0;
  long mParameterRounds = 0;
  std::atomic<long> mMeterReads{0};
  std::atomic<long> mNameReads{0};
};

void ConcurrentHost::RunAll() {
  if (mShareScheduled) mPinned.rampFor = kGateParam_FirstInterval + 3;
  std::vector<std::thread> threads;
  threads.emplace_back([this] { RenderThread(); });
  threads.emplace_back([this] { ParameterThread(); });
  threads.emplace_back([this] { MeterThread(); });
  std::thread notificationThread([this] { NotificationThread(); });
  threads.emplace_back([this] { NamesThread(0); });
  threads.emplace_back([this] { NamesThread(1); });

  std::this_thread::sleep_for(kRunTime);
  mStop = true;
  for (std::thread& t : threads) t.join();
  // One more render applies the removals while the notifications still live.
  while (!mStoppedNotifications.load()) std::this_thread::yield();
  EXPECT_EQ(mGate->Render(kFrames), noErr);
  mFinalRenderDone = true;
  notificationThread.join();

  EXPECT_FALSE(mFailed.load()) << mFailure;
  EXPECT_GT(mRenders, 10);
  EXPECT_GT(mParameterRounds, 10);
  EXPECT_GT(mMeterReads.load(), 10);
  EXPECT_GT(mNameReads.load(), 10);
  // Every render ran both passes of the pinned notification.
  EXPECT_EQ(mPinned.pre.load(), mRenders + 1);
  EXPECT_EQ(mPinned.post.load(), mRenders + 1);
  EXPECT_EQ(mRenderErrors.calls.load(), 0);
  std::printf("%ld renders of %u frames, %ld parameter rounds, %ld meter reads, %ld name reads\n", mRenders,
              kFrames, mParameterRounds, mMeterReads.load(), mNameReads.load());
}

TEST_F(ConcurrentHost, RendersWhileControlThreadsWork) {
  RunAll();
}

// Bypass and in-place processing may be switched at any time; switching
// bypass off has the render thread reset the kernels.
TEST_F(ConcurrentHost, BypassAndInPlaceSwitchedWhileRendering) {
  mToggleBypass = true;
  RunAll();
}

// An immediate set on a control thread and a scheduled event applied by the
// render thread write the same parameter's event kind; scheduled master
// events and restores write the volume coupling beside the control thread.
TEST_F(ConcurrentHost, ScheduledEventsAndRestoresBesideParameterSets) {
  mShareScheduled = true;
  RunAll();
}

// Hosts that load a project open instances on several threads at once. Each
// instance's interval names are its own: valid until its next request.
TEST(ConcurrentInstances, OpenedNamedAndClosedOnEightThreads) {
  std::atomic<bool> failed{false};
  auto host = [&](UInt32 seed) {
    for (UInt32 round = 0; round < 200 && !failed; ++round) {
      AudioUnit unit = nullptr;
      if (AudioComponentInstanceNew(GateComponent(), &unit) != noErr) {
        failed = true;
        return;
      }
      AudioUnitSetParameter(unit, kGateParam_Key, kAudioUnitScope_Global, 0,
                            static_cast<Float32>((seed + round) % 12), 0);
      AudioUnitParameterInfo infos[12] = {};
      for (UInt32 n = 0; n < 12; ++n) {
        UInt32 size = sizeof infos[n];
        if (AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global,
                                 kGateParam_FirstInterval + n, &infos[n], &size) != noErr)
          failed = true;
      }
      for (UInt32 n = 0; n < 12; ++n) {
        char text[64] = {};
        CFStringGetCString(infos[n].cfNameString, text, sizeof text, kCFStringEncodingUTF8);
        if (!IsIntervalName(text, n) || std::strcmp(text, infos[n].name) != 0) failed = true;
      }
      AudioComponentInstanceDispose(unit);
    }
  };
  std::vector<std::thread> threads;
  for (UInt32 t = 0; t < 8; ++t) threads.emplace_back(host, t);
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(failed.load());
}

}  // namespace
