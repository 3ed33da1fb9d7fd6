// The plug-in as a host sees it: the module loaded through its manifest and
// driven by the host calls alone.
#include <AudioToolbox/AudioComponentRegistry.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "VarsileTestSupport.h"

namespace {

using varsiletest::HarmonicTone;
using varsiletest::NoteFrequency;
using varsiletest::ParameterEventRecorder;
using varsiletest::Rms;

constexpr AudioComponentDescription kVarsileDescription{0x61756678 /* 'aufx' */, 0x76676174 /* 'vgat' */,
                                                        0x5672736C /* 'Vrsl' */, 0, 0};
constexpr Float64 kRate = 48000.0;
constexpr UInt32 kFrames = 512;

AudioComponent LoadVarsile() {
  AudioComponent component = nullptr;
  const OSStatus status = AudioComponentLoadManifest(VARSILE_COMPONENT_MANIFEST, &component);
  EXPECT_EQ(status, noErr) << AudioComponentLastLoadError();
  return component;
}

std::vector<UInt8> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

OSStatus SetGlobal(AudioUnit unit, AudioUnitParameterID id, Float32 value) {
  return AudioUnitSetParameter(unit, id, kAudioUnitScope_Global, 0, value, 0);
}

Float32 GetGlobal(AudioUnit unit, AudioUnitParameterID id) {
  Float32 value = -1.0f;
  EXPECT_EQ(AudioUnitGetParameter(unit, id, kAudioUnitScope_Global, 0, &value), noErr);
  return value;
}

// The module keeps its own interval-name cache; make it before leak checks.
void WarmModuleNameCache(AudioUnit unit) {
  for (AudioUnitParameterID id = 2; id < 14; ++id) {
    AudioUnitParameterInfo info{};
    UInt32 size = sizeof info;
    ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, id, &info,
                                   &size),
              noErr);
  }
}

class ComponentModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mComponent = LoadVarsile();
    ASSERT_NE(mComponent, nullptr);
    // One instance first, so the module's process-wide values exist before counting.
    AudioUnit warm = nullptr;
    ASSERT_EQ(AudioComponentInstanceNew(mComponent, &warm), noErr);
    WarmModuleNameCache(warm);
    ASSERT_EQ(AudioComponentInstanceDispose(warm), noErr);
    mLiveAtStart = CFLiveObjectCount();
  }
  void TearDown() override { EXPECT_EQ(CFLiveObjectCount(), mLiveAtStart) << "property-list values leaked"; }

  AudioComponent mComponent = nullptr;
  CFIndex mLiveAtStart = 0;
};

TEST_F(ComponentModuleTest, RegisteredFromItsManifest) {
  EXPECT_EQ(AudioComponentFindNext(nullptr, &kVarsileDescription), mComponent);
  AudioComponentDescription description{};
  ASSERT_EQ(AudioComponentGetDescription(mComponent, &description), noErr);
  EXPECT_EQ(description.componentType, kVarsileDescription.componentType);
  EXPECT_EQ(description.componentSubType, kVarsileDescription.componentSubType);
  EXPECT_EQ(description.componentManufacturer, kVarsileDescription.componentManufacturer);
  UInt32 version = 0;
  ASSERT_EQ(AudioComponentGetVersion(mComponent, &version), noErr);
  EXPECT_EQ(version, 0x00010000u);
  CFStringRef name = nullptr;
  ASSERT_EQ(AudioComponentCopyName(mComponent, &name), noErr);
  char text[32] = {};
  CFStringGetCString(name, text, sizeof text, kCFStringEncodingUTF8);
  EXPECT_STREQ(text, "Varsile");
  CFRelease(name);
  // Loading the manifest again changes nothing.
  EXPECT_EQ(LoadVarsile(), mComponent);
}

TEST_F(ComponentModuleTest, OpenAnswersAndClose) {
  AudioUnit unit = nullptr;
  ASSERT_EQ(AudioComponentInstanceNew(mComponent, &unit), noErr);
  ComponentParameters params{};
  params.what = kComponentVersionSelect;
  EXPECT_EQ(CallComponentDispatch(unit, &params), 0x00010000);
  EXPECT_TRUE(AudioComponentInstanceCanDo(unit, kAudioUnitRenderSelect));
  EXPECT_EQ(GetGlobal(unit, kGateParam_MasterVolume), 100.0f);
  EXPECT_EQ(GetGlobal(unit, kGateParam_CurrentNote), 12.0f);

  UInt32 count = 0;
  UInt32 size = sizeof count;
  ASSERT_EQ(AudioUnitGetPropertyInfo(unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, &size,
                                     nullptr),
            noErr);
  EXPECT_EQ(size, 22u * sizeof(AudioUnitParameterID));

  AudioUnitParameterNameInfo clump{kTimingClump, 0, nullptr};
  size = sizeof clump;
  ASSERT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterClumpName, kAudioUnitScope_Global, 0,
                                 &clump, &size),
            noErr);
  char text[32] = {};
  CFStringGetCString(clump.outName, text, sizeof text, kCFStringEncodingUTF8);
  EXPECT_STREQ(text, "Timing");
  CFRelease(clump.outName);
  EXPECT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterClumpName, kAudioUnitScope_Input, 0,
                                 &clump, &size),
            kAudioUnitErr_InvalidScope);

  AudioUnitParameterInfo info{};
  const CFStringRef callersUnitName = CFSTR("left alone");
  info.unitName = callersUnitName;
  size = sizeof info;
  ASSERT_EQ(AudioUnitSetParameter(unit, kGateParam_Key, kAudioUnitScope_Global, 0, 3, 0), noErr);
  ASSERT_EQ(
      AudioUnitGetProperty(unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, 2, &info, &size),
      noErr);
  EXPECT_STREQ(info.name, "unison / D#");
  EXPECT_EQ(info.unitName, callersUnitName);
  EXPECT_EQ(AudioUnitSetParameter(unit, kGateParam_MasterVolume, kAudioUnitScope_Group, 0, 5, 0),
            kAudioUnitErr_InvalidScope);
  EXPECT_EQ(GetGlobal(unit, kGateParam_FirstInterval), 100.0f);
  EXPECT_EQ(AudioComponentInstanceDispose(unit), noErr);
}

TEST_F(ComponentModuleTest, TwoHostThreadsOpenAndCloseInstances) {
  std::atomic<int> failures{0};
  auto host = [&] {
    for (int i = 0; i < 8; ++i) {
      AudioUnit unit = nullptr;
      if (AudioComponentInstanceNew(mComponent, &unit) != noErr || unit == nullptr) {
        ++failures;
        continue;
      }
      Float32 master = 0.0f;
      if (AudioUnitGetParameter(unit, kGateParam_MasterVolume, kAudioUnitScope_Global, 0, &master) != noErr ||
          master != 100.0f) {
        ++failures;
      }
      if (AudioComponentInstanceDispose(unit) != noErr) ++failures;
    }
  };
  std::thread a(host);
  std::thread b(host);
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST_F(ComponentModuleTest, TheDefaultStateMatchesTheGoldenBlob) {
  const std::vector<UInt8> golden = ReadFile(VARSILE_FIXTURES_DIR "/default-state-data.bin");
  ASSERT_EQ(golden.size(), 188u);

  AudioUnit unit = nullptr;
  ASSERT_EQ(AudioComponentInstanceNew(mComponent, &unit), noErr);
  CFPropertyListRef state = nullptr;
  UInt32 size = sizeof state;
  ASSERT_EQ(
      AudioUnitGetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &state, &size),
      noErr);
  ASSERT_NE(state, nullptr);
  const auto data =
      static_cast<CFDataRef>(CFDictionaryGetValue(static_cast<CFDictionaryRef>(state), CFSTR("data")));
  ASSERT_NE(data, nullptr);
  const std::vector<UInt8> blob(CFDataGetBytePtr(data), CFDataGetBytePtr(data) + CFDataGetLength(data));
  EXPECT_EQ(blob, golden);
  CFRelease(state);
  EXPECT_EQ(AudioComponentInstanceDispose(unit), noErr);
}

TEST_F(ComponentModuleTest, StateRoundTripCarriesTheCoupling) {
  AudioUnit first = nullptr;
  ASSERT_EQ(AudioComponentInstanceNew(mComponent, &first), noErr);
  ASSERT_EQ(SetGlobal(first, kGateParam_MasterVolume, 80), noErr);
  ASSERT_EQ(SetGlobal(first, kGateParam_FirstInterval + 7, 50), noErr);
  ASSERT_EQ(SetGlobal(first, kGateParam_Key, 4), noErr);
  CFPropertyListRef state = nullptr;
  UInt32 size = sizeof state;
  ASSERT_EQ(
      AudioUnitGetProperty(first, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &state, &size),
      noErr);

  AudioUnit second = nullptr;
  ASSERT_EQ(AudioComponentInstanceNew(mComponent, &second), noErr);
  ASSERT_EQ(AudioUnitSetProperty(second, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &state,
                                 sizeof state),
            noErr);
  CFRelease(state);
  EXPECT_EQ(GetGlobal(second, kGateParam_Key), 4.0f);
  EXPECT_EQ(GetGlobal(second, kGateParam_FirstInterval + 7), 50.0f);
  // The offset of -30 came back with the state: the master moves the fifth along.
  ASSERT_EQ(SetGlobal(second, kGateParam_MasterVolume, 100), noErr);
  EXPECT_EQ(GetGlobal(second, kGateParam_FirstInterval + 7), 70.0f);
  EXPECT_EQ(GetGlobal(second, kGateParam_FirstInterval + 6), 100.0f);

  EXPECT_EQ(AudioComponentInstanceDispose(first), noErr);
  EXPECT_EQ(AudioComponentInstanceDispose(second), noErr);
}

// The host's side of an input callback: the melody, channel by channel.
struct MelodySource {
  const std::vector<Float32>* left = nullptr;
  const std::vector<Float32>* right = nullptr;
  std::size_t position = 0;
  int calls = 0;

  static OSStatus Proc(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                       UInt32 frames, AudioBufferList* ioData) {
    auto* self = static_cast<MelodySource*>(refCon);
    ++self->calls;
    if (ioData->mNumberBuffers != 2) return kAudio_ParamError;
    const std::vector<Float32>* channels[2] = {self->left, self->right};
    for (UInt32 c = 0; c < 2; ++c) {
      std::memcpy(ioData->mBuffers[c].mData, channels[c]->data() + self->position, frames * sizeof(Float32));
    }
    self->position += frames;
    return noErr;
  }
};

TEST_F(ComponentModuleTest, GatesAMelodyInCMajorEndToEnd) {
  struct Note {
    int pitchClass;
    int octave;
    bool inScale;
  };
  const Note melody[] = {{0, 4, true}, {4, 4, true},  {6, 4, false}, {7, 4, true}, {8, 4, false},
                         {9, 4, true}, {1, 5, false}, {11, 4, true}, {2, 5, true}, {10, 4, false}};
  constexpr std::size_t kBuffersPerNote = 47;  // about half a second
  constexpr std::size_t kNoteFrames = kBuffersPerNote * kFrames;

  std::vector<Float32> left;
  for (const Note& note : melody) {
    const std::vector<Float32> tone =
        HarmonicTone(NoteFrequency(note.pitchClass, note.octave), kRate, kNoteFrames);
    left.insert(left.end(), tone.begin(), tone.end());
  }
  std::vector<Float32> right(left.size());
  for (std::size_t i = 0; i < left.size(); ++i) right[i] = 0.5f * left[i];

  AudioUnit unit = nullptr;
  ASSERT_EQ(AudioComponentInstanceNew(mComponent, &unit), noErr);
  ParameterEventRecorder events(unit);
  const AudioStreamBasicDescription format = varsile::CanonicalFormat(kRate, 2);
  for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
    ASSERT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, scope, 0, &format, sizeof format),
              noErr);
  }
  MelodySource source{&left, &right};
  const AURenderCallbackStruct callback{MelodySource::Proc, &source};
  ASSERT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                                 &callback, sizeof callback),
            noErr);
  // C major: the five black keys closed; quick enough times to hear it per note.
  for (UInt32 n : {1u, 3u, 6u, 8u, 10u}) ASSERT_EQ(SetGlobal(unit, kGateParam_FirstInterval + n, 0), noErr);
  ASSERT_EQ(SetGlobal(unit, kGateParam_AttackTime, 0.05f), noErr);
  ASSERT_EQ(SetGlobal(unit, kGateParam_ReleaseTime, 0.05f), noErr);
  ASSERT_EQ(AudioUnitInitialize(unit), noErr);
  events.Clear();

  std::vector<Float32> outLeft(left.size());
  std::vector<Float32> outRight(right.size());
  varsiletest::StereoBufferList list;
  AudioTimeStamp time{};
  time.mFlags = kAudioTimeStampSampleTimeValid;

  for (std::size_t n = 0; n < std::size(melody); ++n) {
    SCOPED_TRACE(testing::Message() << "note " << n << ", pitch class " << melody[n].pitchClass);
    for (std::size_t b = 0; b < kBuffersPerNote; ++b) {
      const std::size_t at = n * kNoteFrames + b * kFrames;
      AudioBufferList& buffers = list.Set(outLeft.data() + at, outRight.data() + at, kFrames);
      AudioUnitRenderActionFlags flags = 0;
      ASSERT_EQ(AudioUnitRender(unit, &flags, &time, 0, kFrames, &buffers), noErr);
      time.mSampleTime += kFrames;
    }
    // The meters at the end of the note, as a host polling them sees it.
    const Float32 accuracy = GetGlobal(unit, kGateParam_Accuracy);
    EXPECT_GE(accuracy, 25.0f);
    EXPECT_EQ(GetGlobal(unit, kGateParam_CurrentNote), static_cast<Float32>(melody[n].pitchClass));
    EXPECT_EQ(GetGlobal(unit, kGateParam_CurrentVolume), melody[n].inScale ? 100.0f : 0.0f);

    // From 0.2 s into the note: detection and a 0.05 s ramp are long done.
    const std::size_t from = n * kNoteFrames + 9600;
    const std::size_t count = kNoteFrames - 9600;
    const double gainLeft = Rms(outLeft.data() + from, count) / Rms(left.data() + from, count);
    const double gainRight = Rms(outRight.data() + from, count) / Rms(right.data() + from, count);
    if (melody[n].inScale) {
      EXPECT_NEAR(gainLeft, 1.0, 1e-6);
      EXPECT_NEAR(gainRight, 1.0, 1e-6);
    } else {
      EXPECT_EQ(gainLeft, 0.0);
      EXPECT_EQ(gainRight, 0.0);
    }
  }
  EXPECT_EQ(source.calls, static_cast<int>(std::size(melody) * kBuffersPerNote));
  EXPECT_EQ(events.CountFor(kGateParam_CurrentNote), std::size(melody)) << "one event per new note";

  ASSERT_EQ(AudioUnitUninitialize(unit), noErr);
  EXPECT_EQ(AudioComponentInstanceDispose(unit), noErr);
}

}  // namespace
