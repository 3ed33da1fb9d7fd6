// The checks against stand-ins of the real module that each carry one fault
// a plug-in could have: every fault must fail the check written for it, and
// the faultless stand-in must pass everything.
#include <AudioToolbox/AudioComponentRegistry.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <sstream>
#include <type_traits>
#include <vector>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "Checks.h"
#include "Report.h"
#include "Target.h"

namespace varsile::validate {
namespace {

enum class Fault {
  None,
  NaNInOutput,
  InfoSizeWrong,
  ReadOnlyReportedWritable,
  TruncatedGetOverruns,
  StateLeaked,
  InitialValueNotDefault,
  CNameDiffers,
  ValueStringMissing,
  TooManyFramesAccepted,
  OutputAltered,
  ExtraPostNotification,
  ListenerCalledTwice,
  ResetIgnored,
  EventsIgnored,
  RestoreIgnored,
  FlushToZeroLeftOn,
  InterleavedAccepted,
  ChannelMismatchAccepted,
  CanDoDenied,
  ListenerNotRemoved,
  LatencyNegative,
};

AudioComponentEntryProc gModuleEntry = nullptr;
// What the leaking stand-in kept, released once its check has seen it.
std::vector<CFTypeRef> gLeaked;
AURenderCallback gNotifyProc = nullptr;
void* gNotifyRefCon = nullptr;

template <typename T>
T Word(const ComponentParameters* params, int k) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<T>(params->params[k]);
  } else {
    return static_cast<T>(params->params[k]);
  }
}

// Forwards every selector to the module, with one fault on the way.
template <Fault kFault>
OSStatus FaultyEntry(ComponentParameters* params, void* storage) {
  const SInt16 what = params->what;
  const auto id = Word<UInt32>(params, 1);

  if constexpr (kFault == Fault::TruncatedGetOverruns) {
    auto* size = Word<UInt32*>(params, 5);
    if (what == kAudioUnitGetPropertySelect && id == kAudioUnitProperty_MaximumFramesPerSlice &&
        size != nullptr && *size < sizeof(UInt32) && *size > 0) {
      UInt32 value = 0;
      UInt32 full = sizeof value;
      ComponentParameters copy = *params;
      copy.params[4] = reinterpret_cast<long>(&value);
      copy.params[5] = reinterpret_cast<long>(&full);
      const OSStatus status = gModuleEntry(&copy, storage);
      std::memcpy(Word<void*>(params, 4), &value, sizeof value);
      return status;
    }
  }
  if constexpr (kFault == Fault::ResetIgnored) {
    if (what == kAudioUnitResetSelect) return noErr;
  }
  if constexpr (kFault == Fault::EventsIgnored) {
    if (what == kAudioUnitScheduleParametersSelect) return noErr;
  }
  if constexpr (kFault == Fault::RestoreIgnored) {
    if (what == kAudioUnitSetPropertySelect && id == kAudioUnitProperty_ClassInfo) return noErr;
  }
  if constexpr (kFault == Fault::InterleavedAccepted) {
    const auto* format = Word<const AudioStreamBasicDescription*>(params, 4);
    if (what == kAudioUnitSetPropertySelect && id == kAudioUnitProperty_StreamFormat && format != nullptr &&
        (format->mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0) {
      return noErr;
    }
  }
  if constexpr (kFault == Fault::CanDoDenied) {
    if (what == kComponentCanDoSelect && Word<long>(params, 0) == kAudioUnitScheduleParametersSelect)
      return 0;
  }
  if constexpr (kFault == Fault::ListenerNotRemoved) {
    if (what == kAudioUnitRemovePropertyListenerWithUserDataSelect) return noErr;
  }
  if constexpr (kFault == Fault::ExtraPostNotification) {
    if (what == kAudioUnitAddRenderNotifySelect) {
      gNotifyProc = Word<AURenderCallback>(params, 1);
      gNotifyRefCon = Word<void*>(params, 2);
    }
  }
  if constexpr (kFault == Fault::ListenerCalledTwice) {
    if (what == kAudioUnitAddPropertyListenerSelect) gModuleEntry(params, storage);
  }

  OSStatus status = gModuleEntry(params, storage);

  if constexpr (kFault == Fault::NaNInOutput || kFault == Fault::OutputAltered ||
                kFault == Fault::ExtraPostNotification) {
    auto* list = Word<AudioBufferList*>(params, 5);
    if (what == kAudioUnitRenderSelect && status == noErr && list != nullptr &&
        list->mBuffers[0].mData != nullptr) {
      auto* samples = static_cast<float*>(list->mBuffers[0].mData);
      if (kFault == Fault::NaNInOutput) samples[0] = std::numeric_limits<float>::quiet_NaN();
      if (kFault == Fault::OutputAltered) samples[0] *= 0.5f;
      if (kFault == Fault::ExtraPostNotification && gNotifyProc != nullptr) {
        AudioUnitRenderActionFlags flags = kAudioUnitRenderAction_PostRender;
        gNotifyProc(gNotifyRefCon, &flags, Word<const AudioTimeStamp*>(params, 2), Word<UInt32>(params, 3),
                    Word<UInt32>(params, 4), list);
      }
    }
  }
  if constexpr (kFault == Fault::FlushToZeroLeftOn) {
#if defined(__x86_64__)
    if (what == kAudioUnitRenderSelect) _mm_setcsr(_mm_getcsr() | 0x8040);
#endif
  }
  if constexpr (kFault == Fault::ChannelMismatchAccepted) {
    if (what == kAudioUnitInitializeSelect && status == kAudioUnitErr_FormatNotSupported) status = noErr;
  }
  if constexpr (kFault == Fault::TooManyFramesAccepted) {
    if (what == kAudioUnitRenderSelect && status == kAudioUnitErr_TooManyFramesToProcess) status = noErr;
  }
  if constexpr (kFault == Fault::InfoSizeWrong) {
    auto* size = Word<UInt32*>(params, 4);
    if (what == kAudioUnitGetPropertyInfoSelect && id == kAudioUnitProperty_MaximumFramesPerSlice &&
        status == noErr && size != nullptr) {
      *size = 8;
    }
  }
  if constexpr (kFault == Fault::ReadOnlyReportedWritable) {
    auto* writable = Word<Boolean*>(params, 5);
    if (what == kAudioUnitGetPropertyInfoSelect && id == kAudioUnitProperty_Latency && status == noErr &&
        writable != nullptr) {
      *writable = true;
    }
  }
  if (what == kAudioUnitGetPropertySelect && status == noErr && Word<void*>(params, 4) != nullptr) {
    void* data = Word<void*>(params, 4);
    if constexpr (kFault == Fault::StateLeaked) {
      if (id == kAudioUnitProperty_ClassInfo) gLeaked.push_back(CFRetain(*static_cast<CFTypeRef*>(data)));
    }
    if constexpr (kFault == Fault::LatencyNegative) {
      if (id == kAudioUnitProperty_Latency) *static_cast<Float64*>(data) = -0.5;
    }
    if constexpr (kFault == Fault::CNameDiffers) {
      if (id == kAudioUnitProperty_ParameterInfo && Word<UInt32>(params, 3) == 16) {
        static_cast<AudioUnitParameterInfo*>(data)->name[0] = 'X';
      }
    }
    if constexpr (kFault == Fault::ValueStringMissing) {
      if (id == kAudioUnitProperty_ParameterValueStrings) {
        auto* strings = static_cast<CFArrayRef*>(data);
        std::vector<const void*> values;
        for (CFIndex i = 0; i + 1 < CFArrayGetCount(*strings); ++i) {
          values.push_back(CFArrayGetValueAtIndex(*strings, i));
        }
        CFArrayRef shorter = CFArrayCreate(nullptr, values.data(), static_cast<CFIndex>(values.size()),
                                           &kCFTypeArrayCallBacks);
        CFRelease(*strings);
        *strings = shorter;
      }
    }
  }
  if constexpr (kFault == Fault::InitialValueNotDefault) {
    auto* value = Word<Float32*>(params, 4);
    if (what == kAudioUnitGetParameterSelect && id == 16 && status == noErr && value != nullptr) {
      *value += 1.0f;
    }
  }
  return status;
}

struct Case {
  const char* name;
  AudioComponentEntryProc entry;
  void (*group)(Report&, const Target&);
  const char* failingCheck;  // part of the failing check's name
  const char* detail;        // part of its detail
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

// Loads the module once and registers each stand-in under its own subtype.
Target StandIn(AudioComponentEntryProc entry) {
  if (gModuleEntry == nullptr) {
    void* library = dlopen(VARSILE_COMPONENT_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (library != nullptr) {
      gModuleEntry = reinterpret_cast<AudioComponentEntryProc>(dlsym(library, "VarsileEntry"));
    }
  }
  static UInt32 nextSubtype = 0x66303030;                                                         // 'f000'
  AudioComponentDescription description{kAudioUnitType_Effect, nextSubtype++, 0x54657374, 0, 0};  // 'Test'
  Target target;
  target.component = AudioComponentRegister(&description, CFSTR("Stand-in"), 0x00010000, entry);
  target.description = description;
  target.name = "Stand-in";
  target.version = 0x00010000;
  return target;
}

class FaultInjection : public testing::TestWithParam<Case> {};

TEST_P(FaultInjection, TheCheckForTheFaultFails) {
  const Case& c = GetParam();
  const Target target = StandIn(c.entry);
  ASSERT_NE(gModuleEntry, nullptr) << dlerror();
  ASSERT_NE(target.component, nullptr);

  std::ostringstream out;
  Report report(out);
  report.BeginGroup("g", "faulty");
#if defined(__x86_64__)
  const unsigned int mode = _mm_getcsr();
#endif
  try {
    c.group(report, target);
  } catch (const GroupAborted&) {
  }
#if defined(__x86_64__)
  _mm_setcsr(mode);
#endif
  for (CFTypeRef leaked : gLeaked) CFRelease(leaked);
  gLeaked.clear();
  bool found = false;
  for (const CheckResult& result : report.Results()) {
    found |= !result.passed && result.name.find(c.failingCheck) != std::string::npos &&
             result.detail.find(c.detail) != std::string::npos;
  }
  EXPECT_TRUE(found) << "no failing check \"" << c.failingCheck << "\" mentioning \"" << c.detail << "\":\n"
                     << out.str();
}

const std::vector<Case> kCases {
  Case{"NaNInOutput", &FaultyEntry<Fault::NaNInOutput>, &CheckRendering, "512 frames", "NaN"},
      Case{"InfoSizeWrong", &FaultyEntry<Fault::InfoSizeWrong>, &CheckProperties, "14 MaximumFramesPerSlice",
           "the value is 4"},
      Case{"ReadOnlyReportedWritable", &FaultyEntry<Fault::ReadOnlyReportedWritable>, &CheckProperties,
           "12 Latency", "info says writable"},
      Case{"TruncatedGetOverruns", &FaultyEntry<Fault::TruncatedGetOverruns>, &CheckProperties,
           "14 MaximumFramesPerSlice", "wrote past"},
      Case{"StateLeaked", &FaultyEntry<Fault::StateLeaked>, &CheckState, "round-trip-released", "alive"},
      Case{"InitialValueNotDefault", &FaultyEntry<Fault::InitialValueNotDefault>, &CheckParameters, "#16",
           "is not the default"},
      Case{"CNameDiffers", &FaultyEntry<Fault::CNameDiffers>, &CheckParameters, "#16",
           "is not the string name"},
      Case{"ValueStringMissing", &FaultyEntry<Fault::ValueStringMissing>, &CheckParameters, "#0",
           "11 value strings"},
      Case{"TooManyFramesAccepted", &FaultyEntry<Fault::TooManyFramesAccepted>, &CheckRendering,
           "too-many-frames", "noErr (0)"},
      Case{"OutputAltered", &FaultyEntry<Fault::OutputAltered>, &CheckBypass, "output-is-input", "frame 0"},
      Case{"ExtraPostNotification", &FaultyEntry<Fault::ExtraPostNotification>, &CheckNotifications,
           "pre-and-post", "3 calls"},
      Case{"ListenerCalledTwice", &FaultyEntry<Fault::ListenerCalledTwice>, &CheckListeners, "max-frames",
           "2 calls"},
      Case{"ResetIgnored", &FaultyEntry<Fault::ResetIgnored>, &CheckReset, "same-output", "after reset"},
      Case{"EventsIgnored", &FaultyEntry<Fault::EventsIgnored>, &CheckScheduledEvents, "immediate", "reads"},
#if defined(__x86_64__)
      Case{"FlushToZeroLeftOn", &FaultyEntry<Fault::FlushToZeroLeftOn>, &CheckRendering, "1 frames",
           "floating-point mode changed"},
#endif
      Case{"InterleavedAccepted", &FaultyEntry<Fault::InterleavedAccepted>, &CheckFormats,
           "refuse interleaved", "noErr (0)"},
      Case{"ChannelMismatchAccepted", &FaultyEntry<Fault::ChannelMismatchAccepted>, &CheckInitialization,
           "channels 1-2", "to be refused"},
      Case{"CanDoDenied", &FaultyEntry<Fault::CanDoDenied>, &CheckComponent, "can-do", "answered no for 17"},
      Case{"ListenerNotRemoved", &FaultyEntry<Fault::ListenerNotRemoved>, &CheckListeners, "remove",
           "then heard 1 call"},
      Case{"LatencyNegative", &FaultyEntry<Fault::LatencyNegative>, &CheckProperties, "latency", "-0.5 s"},
      Case{"RestoreIgnored", &FaultyEntry<Fault::RestoreIgnored>, &CheckState, "round-trip", "parameter #"},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultInjection, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

// The stand-in itself adds nothing wrong: without a fault, every check of
// every group passes, so each fault above is what its check caught.
TEST(FaultInjection, TheFaultlessStandInPassesEverything) {
  const Target target = StandIn(&FaultyEntry<Fault::None>);
  ASSERT_NE(gModuleEntry, nullptr) << dlerror();
  std::ostringstream out;
  Report report(out, true);
  ASSERT_TRUE(RunChecks(report, target, {}));
  EXPECT_EQ(report.Failed(), 0u) << out.str();
  EXPECT_GT(report.Passed(), 150u);
}

TEST(RunChecks, RefusesAnUnknownGroupAndRunsNothing) {
  std::ostringstream out;
  Report report(out);
  const std::vector<std::string> only{"render", "colour"};
  EXPECT_FALSE(RunChecks(report, Target{}, only));
  EXPECT_TRUE(report.Results().empty());
}

}  // namespace
}  // namespace varsile::validate
