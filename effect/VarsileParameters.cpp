// The parameter table and the constant strings it names.
#include "VarsileParameters.h"

#include <cmath>

// Defined before the table in this file, so they are made before anything here uses them.
const CFStringRef kName_GateParam_Key = CFSTR("key");
const CFStringRef kName_GateParam_MasterVolume = CFSTR("master volume");
const CFStringRef kName_GateParam_AttackTime = CFSTR("attack time");
const CFStringRef kName_GateParam_ReleaseTime = CFSTR("release time");
const CFStringRef kName_GateParam_A4Frequency = CFSTR("A4 frequency");
const CFStringRef kName_GateParam_AccuracyThreshold = CFSTR("accuracy threshold");
const CFStringRef kName_GateParam_JitterThreshold = CFSTR("jitter threshold");
const CFStringRef kName_GateParam_CurrentVolume = CFSTR("current volume");
const CFStringRef kName_GateParam_CurrentNote = CFSTR("current note");
const CFStringRef kName_GateParam_Accuracy = CFSTR("accuracy");

const CFStringRef kName_TranspositionClump = CFSTR("Transposition");
const CFStringRef kName_VolumeClump = CFSTR("Volume");
const CFStringRef kName_TimingClump = CFSTR("Timing");
const CFStringRef kName_GateMonitorClump = CFSTR("Gate Monitor");
const CFStringRef kName_PitchDetectionClump = CFSTR("Pitch Tracking");

const CFStringRef kRelativeNoteNames[kNumberOfIntervals] = {
    CFSTR("unison"),      CFSTR("minor second"), CFSTR("major second"),  CFSTR("minor third"),
    CFSTR("major third"), CFSTR("fourth"),       CFSTR("aug. fourth"),   CFSTR("fifth"),
    CFSTR("minor sixth"), CFSTR("major sixth"),  CFSTR("minor seventh"), CFSTR("major seventh"),
};

const CFStringRef kAbsoluteNoteNames[kNumberOfPitchClasses + 1] = {
    CFSTR("C  "),
    CFSTR("C#"),
    CFSTR("D  "),
    CFSTR("D#"),
    CFSTR("E  "),
    CFSTR("F  "),
    CFSTR("F#"),
    CFSTR("G  "),
    CFSTR("G#"),
    CFSTR("A  "),
    CFSTR("A#"),
    CFSTR("B  "),
    CFSTR("Pitch tracker off"),
};

const CFStringRef kNoteNameSeparator = CFSTR(" / ");

namespace {

constexpr AudioUnitParameterOptions kControl =
    kAudioUnitParameterFlag_IsWritable | kAudioUnitParameterFlag_IsReadable |
    kAudioUnitParameterFlag_HasCFNameString | kAudioUnitParameterFlag_HasClump;  // 0xC8100000
constexpr AudioUnitParameterOptions kIntervalVolume = kControl | kAudioUnitParameterFlag_IsHighResolution;
// The meters publish a name string but do not say so.
constexpr AudioUnitParameterOptions kMeter = kAudioUnitParameterFlag_IsReadable |
                                             kAudioUnitParameterFlag_HasClump |
                                             kAudioUnitParameterFlag_MeterReadOnly;  // 0x40108000
constexpr AudioUnitParameterOptions kNoteMonitor =
    kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_HasClump;  // 0x40100000

static_assert(kControl == 0xC8100000u && kIntervalVolume == 0xC8900000u && kMeter == 0x40108000u &&
              kNoteMonitor == 0x40100000u);

// The named rows in id order; the twelve interval volumes, which share one
// row, go in after the master volume.
constexpr std::array<GateParameterSpec, kNumberOfGateParams> WithIntervals(
    const std::array<GateParameterSpec, kNumberOfGateParams - kNumberOfIntervals>& named) {
  constexpr GateParameterSpec kInterval{
      nullptr, kVolumeClump, kAudioUnitParameterUnit_Percent, 0.0f, 100.0f, 100.0f, kIntervalVolume};
  std::array<GateParameterSpec, kNumberOfGateParams> table{};
  for (UInt32 id = 0, n = 0; id < kNumberOfGateParams; ++id)
    table[id] = IsIntervalParameter(id) ? kInterval : named[n++];
  return table;
}

// Ids in order up to the release time, then the meters, then the tracking settings.
constexpr std::array<AudioUnitParameterID, kNumberOfGateParams> DefaultOrder() {
  std::array<AudioUnitParameterID, kNumberOfGateParams> order{};
  for (AudioUnitParameterID id = 0; id <= kGateParam_ReleaseTime; ++id) order[id] = id;
  const AudioUnitParameterID rest[] = {kGateParam_CurrentVolume,   kGateParam_CurrentNote,
                                       kGateParam_Accuracy,        kGateParam_A4Frequency,
                                       kGateParam_JitterThreshold, kGateParam_AccuracyThreshold};
  for (UInt32 i = 0; i < std::size(rest); ++i) order[kGateParam_ReleaseTime + 1 + i] = rest[i];
  return order;
}

}  // namespace

const std::array<GateParameterSpec, kNumberOfGateParams> kGateParameterTable = WithIntervals({{
    {&kName_GateParam_Key, kTranspositionClump, kAudioUnitParameterUnit_Indexed, 0.0f, 11.0f, 0.0f, kControl},
    {&kName_GateParam_MasterVolume, kTranspositionClump, kAudioUnitParameterUnit_Percent, 0.0f, 100.0f,
     100.0f, kControl},
    {&kName_GateParam_AttackTime, kTimingClump, kAudioUnitParameterUnit_Seconds, 0.01f, 10.0f, 1.0f,
     kControl},
    {&kName_GateParam_ReleaseTime, kTimingClump, kAudioUnitParameterUnit_Seconds, 0.01f, 10.0f, 1.0f,
     kControl},
    {&kName_GateParam_A4Frequency, kPitchDetectionClump, kAudioUnitParameterUnit_Hertz, 400.0f, 480.0f,
     440.0f, kControl},
    {&kName_GateParam_AccuracyThreshold, kPitchDetectionClump, kAudioUnitParameterUnit_Percent, 0.0f, 100.0f,
     25.0f, kControl},
    {&kName_GateParam_JitterThreshold, kPitchDetectionClump, kAudioUnitParameterUnit_SampleFrames, 0.0f,
     16.0f, 1.0f, kControl},
    {&kName_GateParam_CurrentVolume, kGateMonitorClump, kAudioUnitParameterUnit_Percent, 0.0f, 100.0f, 100.0f,
     kMeter},
    {&kName_GateParam_CurrentNote, kGateMonitorClump, kAudioUnitParameterUnit_Indexed, 0.0f, 12.0f, 12.0f,
     kNoteMonitor},
    {&kName_GateParam_Accuracy, kGateMonitorClump, kAudioUnitParameterUnit_Percent, 0.0f, 100.0f, 0.0f,
     kMeter},
}});

const std::array<AudioUnitParameterID, kNumberOfGateParams> kGateParameterDefaultOrder = DefaultOrder();

CFStringRef GateClumpName(UInt32 clumpID) noexcept {
  switch (clumpID) {
    case kTranspositionClump:
      return kName_TranspositionClump;
    case kVolumeClump:
      return kName_VolumeClump;
    case kTimingClump:
      return kName_TimingClump;
    case kGateMonitorClump:
      return kName_GateMonitorClump;
    case kPitchDetectionClump:
      return kName_PitchDetectionClump;
    default:
      return nullptr;
  }
}

UInt32 KeyPitchClass(AudioUnitParameterValue key) noexcept {
  if (!std::isfinite(key)) return 0;
  // Both steps are exact for every finite float, so 0..11 keep their old
  // meaning and no value reaches an integer conversion out of range.
  double reduced = std::fmod(std::trunc(static_cast<double>(key)), 12.0);
  if (reduced < 0.0) reduced += 12.0;
  return static_cast<UInt32>(reduced);
}
