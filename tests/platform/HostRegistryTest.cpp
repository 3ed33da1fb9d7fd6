// The component registry is process-wide and only grows, so every test here
// registers under a manufacturer code of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "HostFakeComponent.h"

namespace host_test {
namespace {

std::vector<AudioComponent> FindAll(const AudioComponentDescription* desc) {
  std::vector<AudioComponent> found;
  for (AudioComponent c = AudioComponentFindNext(nullptr, desc); c != nullptr;
       c = AudioComponentFindNext(c, desc)) {
    found.push_back(c);
  }
  return found;
}

AudioComponent Register(OSType type, OSType subtype, OSType manufacturer, UInt32 flags = 0) {
  const AudioComponentDescription desc = Describe(type, subtype, manufacturer, flags);
  return AudioComponentRegister(&desc, CFSTR("Fake"), 1, RecordingEntry);
}

TEST(HostRegistry, RefusesIncompleteRegistrations) {
  const AudioComponentDescription good = Describe(FourCC("aufx"), FourCC("rf00"), FourCC("Rg00"));
  EXPECT_EQ(AudioComponentRegister(nullptr, CFSTR("x"), 1, RecordingEntry), nullptr);
  EXPECT_EQ(AudioComponentRegister(&good, CFSTR("x"), 1, nullptr), nullptr);
  for (int zeroed = 0; zeroed < 3; ++zeroed) {
    AudioComponentDescription desc = good;
    (zeroed == 0 ? desc.componentType : zeroed == 1 ? desc.componentSubType : desc.componentManufacturer) = 0;
    EXPECT_EQ(AudioComponentRegister(&desc, CFSTR("x"), 1, RecordingEntry), nullptr) << zeroed;
  }
  EXPECT_EQ(AudioComponentCount(&good), 0u);
}

TEST(HostRegistry, ZeroFieldsAreWildcardsAndOrderIsRegistrationOrder) {
  const OSType maker = FourCC("Rg01");
  const AudioComponent a = Register(FourCC("aufx"), FourCC("gat1"), maker);
  const AudioComponent b = Register(FourCC("aumf"), FourCC("gat1"), maker);
  const AudioComponent c = Register(FourCC("aufx"), FourCC("gat2"), maker);
  const AudioComponent d = Register(FourCC("aufx"), FourCC("gat1"), maker);  // same description as a
  ASSERT_TRUE(a && b && c && d);

  AudioComponentDescription byMaker = Describe(0, 0, maker);
  EXPECT_EQ(FindAll(&byMaker), (std::vector<AudioComponent>{a, b, c, d}));
  EXPECT_EQ(AudioComponentCount(&byMaker), 4u);

  AudioComponentDescription effects = Describe(FourCC("aufx"), 0, maker);
  EXPECT_EQ(FindAll(&effects), (std::vector<AudioComponent>{a, c, d}));
  EXPECT_EQ(AudioComponentCount(&effects), 3u);

  AudioComponentDescription gate1 = Describe(0, FourCC("gat1"), maker);
  EXPECT_EQ(FindAll(&gate1), (std::vector<AudioComponent>{a, b, d}));

  AudioComponentDescription exact = Describe(FourCC("aufx"), FourCC("gat2"), maker);
  EXPECT_EQ(FindAll(&exact), (std::vector<AudioComponent>{c}));

  AudioComponentDescription nobody = Describe(FourCC("aufx"), FourCC("gat3"), maker);
  EXPECT_EQ(AudioComponentFindNext(nullptr, &nobody), nullptr);
  EXPECT_EQ(AudioComponentCount(&nobody), 0u);

  // With no description (or all zeros) every component matches, ours in order.
  AudioComponentDescription any{};
  for (const AudioComponentDescription* all : {static_cast<const AudioComponentDescription*>(nullptr),
                                               static_cast<const AudioComponentDescription*>(&any)}) {
    std::vector<AudioComponent> ours;
    for (AudioComponent x : FindAll(all)) {
      if (x == a || x == b || x == c || x == d) ours.push_back(x);
    }
    EXPECT_EQ(ours, (std::vector<AudioComponent>{a, b, c, d}));
    EXPECT_EQ(AudioComponentCount(all), FindAll(all).size());
  }
}

TEST(HostRegistry, FlagsMatchUnderTheMask) {
  const OSType maker = FourCC("Rg02");
  const AudioComponent plain = Register(FourCC("aufx"), FourCC("flg0"), maker, 0);
  const AudioComponent flagged = Register(FourCC("aufx"), FourCC("flg1"), maker, 0x5);
  AudioComponentDescription want = Describe(0, 0, maker, 0x4);
  want.componentFlagsMask = 0x4;
  EXPECT_EQ(FindAll(&want), (std::vector<AudioComponent>{flagged}));
  want.componentFlags = 0;
  EXPECT_EQ(FindAll(&want), (std::vector<AudioComponent>{plain}));
  want.componentFlagsMask = 0;
  EXPECT_EQ(FindAll(&want), (std::vector<AudioComponent>{plain, flagged}));
}

TEST(HostRegistry, ReportsWhatWasRegistered) {
  const CFIndex liveBefore = CFLiveObjectCount();
  CFStringRef name = CFStringCreateWithCString(kCFAllocatorDefault, "Registered name", kCFStringEncodingUTF8);
  const AudioComponentDescription desc = Describe(FourCC("aufx"), FourCC("rep0"), FourCC("Rg03"), 0x2);
  const AudioComponent component = AudioComponentRegister(&desc, name, 0x00010203, RecordingEntry);
  ASSERT_NE(component, nullptr);
  CFRelease(name);  // the registry keeps its own reference

  AudioComponentDescription got{};
  EXPECT_EQ(AudioComponentGetDescription(component, &got), noErr);
  EXPECT_EQ(std::memcmp(&got, &desc, sizeof(desc)), 0);

  UInt32 version = 0;
  EXPECT_EQ(AudioComponentGetVersion(component, &version), noErr);
  EXPECT_EQ(version, 0x00010203u);

  CFStringRef copied = nullptr;
  ASSERT_EQ(AudioComponentCopyName(component, &copied), noErr);
  char text[64] = {};
  ASSERT_TRUE(CFStringGetCString(copied, text, sizeof(text), kCFStringEncodingUTF8));
  EXPECT_STREQ(text, "Registered name");
  CFRelease(copied);
  // The one reference the registry holds for the process' life.
  EXPECT_EQ(CFLiveObjectCount(), liveBefore + 1);
}

TEST(HostRegistry, NullNameBecomesEmpty) {
  const AudioComponentDescription desc = Describe(FourCC("aufx"), FourCC("nul0"), FourCC("Rg04"));
  const AudioComponent component = AudioComponentRegister(&desc, nullptr, 0, RecordingEntry);
  ASSERT_NE(component, nullptr);
  CFStringRef name = nullptr;
  ASSERT_EQ(AudioComponentCopyName(component, &name), noErr);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(CFStringGetLength(name), 0);
  CFRelease(name);
}

TEST(HostRegistry, BadHandlesAndPointersGiveAStatus) {
  const AudioComponent component = Register(FourCC("aufx"), FourCC("bad0"), FourCC("Rg05"));
  AudioComponentDescription desc{};
  UInt32 version = 0;
  CFStringRef name = nullptr;
  EXPECT_EQ(AudioComponentGetDescription(nullptr, &desc), kAudio_ParamError);
  EXPECT_EQ(AudioComponentGetDescription(component, nullptr), kAudio_ParamError);
  EXPECT_EQ(AudioComponentGetVersion(nullptr, &version), kAudio_ParamError);
  EXPECT_EQ(AudioComponentGetVersion(component, nullptr), kAudio_ParamError);
  EXPECT_EQ(AudioComponentCopyName(nullptr, &name), kAudio_ParamError);
  EXPECT_EQ(AudioComponentCopyName(component, nullptr), kAudio_ParamError);

  // Never dereferenced: only compared with the registered handles.
  int notAComponent = 0;
  auto stranger = reinterpret_cast<AudioComponent>(&notAComponent);
  EXPECT_EQ(AudioComponentGetDescription(stranger, &desc), invalidComponentID);
  EXPECT_EQ(AudioComponentGetVersion(stranger, &version), invalidComponentID);
  EXPECT_EQ(AudioComponentCopyName(stranger, &name), invalidComponentID);
  EXPECT_EQ(AudioComponentFindNext(stranger, nullptr), nullptr);
}

TEST(HostRegistry, RegistersAndSearchesFromSeveralThreads) {
  constexpr int kThreads = 4;
  constexpr int kEach = 50;
  const OSType maker = FourCC("Rg06");
  std::vector<std::vector<AudioComponent>> registered(kThreads);
  std::atomic<bool> done{false};
  std::thread searcher([&] {
    const AudioComponentDescription mine = Describe(0, 0, maker);
    while (!done.load()) {
      // Every step of an iteration lands on one of ours, never on garbage.
      for (AudioComponent c = AudioComponentFindNext(nullptr, &mine); c;
           c = AudioComponentFindNext(c, &mine)) {
        AudioComponentDescription desc{};
        ASSERT_EQ(AudioComponentGetDescription(c, &desc), noErr);
        ASSERT_EQ(desc.componentManufacturer, maker);
      }
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        registered[t].push_back(
            Register(FourCC("aufx"), FourCC("th00") + static_cast<OSType>(t * kEach + i), maker));
      }
    });
  }
  for (auto& w : writers) w.join();
  done = true;
  searcher.join();

  const AudioComponentDescription mine = Describe(0, 0, maker);
  EXPECT_EQ(AudioComponentCount(&mine), static_cast<UInt32>(kThreads * kEach));
  // Each thread's components appear in the order that thread registered them.
  const std::vector<AudioComponent> all = FindAll(&mine);
  for (const auto& own : registered) {
    std::vector<AudioComponent> seen;
    for (AudioComponent c : all) {
      if (std::find(own.begin(), own.end(), c) != own.end()) seen.push_back(c);
    }
    EXPECT_EQ(seen, own);
  }
}

}  // namespace
}  // namespace host_test
