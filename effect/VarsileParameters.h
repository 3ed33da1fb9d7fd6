// The gate's parameter set: ids, names, groups, units, ranges, defaults and
// flags, in one table that every other part of the effect reads.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <CoreFoundation/CoreFoundation.h>

#include <array>

enum : AudioUnitParameterID {
  kGateParam_Key = 0,
  kGateParam_MasterVolume = 1,
  kGateParam_FirstInterval = 2,  // 2..13: unison .. major seventh above the key
  kGateParam_AttackTime = 14,
  kGateParam_ReleaseTime = 15,
  kGateParam_A4Frequency = 16,
  kGateParam_AccuracyThreshold = 17,
  kGateParam_JitterThreshold = 18,
  kGateParam_CurrentVolume = 19,
  kGateParam_CurrentNote = 20,
  kGateParam_Accuracy = 21,
  kNumberOfGateParams = 22,
};

inline constexpr UInt32 kNumberOfIntervals = 12;
inline constexpr UInt32 kNumberOfPitchClasses = 12;
// The current-note meter's value while the tracker holds no pitch class.
inline constexpr UInt32 kNotePitchTrackerOff = 12;

constexpr bool IsIntervalParameter(AudioUnitParameterID id) noexcept {
  return id >= kGateParam_FirstInterval && id < kGateParam_FirstInterval + kNumberOfIntervals;
}

enum : UInt32 {
  kTranspositionClump = 1,
  kVolumeClump = 2,
  kTimingClump = 3,
  kGateMonitorClump = 4,
  kPitchDetectionClump = 5,
};
inline constexpr UInt32 kNumberOfClumps = 5;

// Constant strings: owned by nobody, never released.
extern const CFStringRef kName_GateParam_Key;
extern const CFStringRef kName_GateParam_MasterVolume;
extern const CFStringRef kName_GateParam_AttackTime;
extern const CFStringRef kName_GateParam_ReleaseTime;
extern const CFStringRef kName_GateParam_A4Frequency;
extern const CFStringRef kName_GateParam_AccuracyThreshold;
extern const CFStringRef kName_GateParam_JitterThreshold;
extern const CFStringRef kName_GateParam_CurrentVolume;
extern const CFStringRef kName_GateParam_CurrentNote;
extern const CFStringRef kName_GateParam_Accuracy;

extern const CFStringRef kName_TranspositionClump;
extern const CFStringRef kName_VolumeClump;
extern const CFStringRef kName_TimingClump;
extern const CFStringRef kName_GateMonitorClump;
extern const CFStringRef kName_PitchDetectionClump;

// Index n: n semitones above the key.
extern const CFStringRef kRelativeNoteNames[kNumberOfIntervals];
// Index: pitch class; the natural notes carry two trailing blanks, the last
// entry names the "no pitch class" state.
extern const CFStringRef kAbsoluteNoteNames[kNumberOfPitchClasses + 1];
extern const CFStringRef kNoteNameSeparator;

// One row of the parameter table. `name` points at one of the constants above,
// or is null for the interval volumes, whose names are built from the key.
struct GateParameterSpec {
  const CFStringRef* name;
  UInt32 clumpID;
  AudioUnitParameterUnit unit;
  AudioUnitParameterValue minValue;
  AudioUnitParameterValue maxValue;
  AudioUnitParameterValue defaultValue;
  AudioUnitParameterOptions flags;
};

extern const std::array<GateParameterSpec, kNumberOfGateParams> kGateParameterTable;

// The order in which a new instance sets its defaults; the coupling of the
// master volume depends on it (master before the intervals it moves).
extern const std::array<AudioUnitParameterID, kNumberOfGateParams> kGateParameterDefaultOrder;

// The clump's name, or null for an id that names no clump.
CFStringRef GateClumpName(UInt32 clumpID) noexcept;

// The pitch class of a stored key value. For 0..11 it is the value truncated
// toward zero, as always; any other value (the storage accepts anything) is
// truncated and reduced modulo 12 into 0..11, and a non-finite one counts as 0,
// so that it can neither index past a name table nor convert undefinedly.
UInt32 KeyPitchClass(AudioUnitParameterValue key) noexcept;
