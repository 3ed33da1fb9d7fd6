// Hosts the installed gate through the installed package: load the manifest,
// open, initialize, render a tone and check that it passes.
#include <AudioToolbox/AudioComponentRegistry.h>
#include <AudioToolbox/AudioToolbox.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::printf("FAILED: %s\n", what);
    ++failures;
  }
}

OSStatus Sine(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32 frames,
              AudioBufferList* data) {
  auto* phase = static_cast<double*>(refCon);
  for (UInt32 i = 0; i < frames; ++i) {
    const auto s = static_cast<Float32>(0.25 * std::sin(*phase));
    *phase += 2.0 * 3.141592653589793 * 440.0 / 48000.0;
    for (UInt32 b = 0; b < data->mNumberBuffers; ++b) static_cast<Float32*>(data->mBuffers[b].mData)[i] = s;
  }
  return noErr;
}

}  // namespace

int main() {
  Check(std::filesystem::exists(VARSILE_MODULE), "the imported module target names an existing file");
  AudioComponent component = nullptr;
  const OSStatus loaded = AudioComponentLoadManifest(VARSILE_MANIFEST, &component);
  if (loaded != noErr) std::printf("%s\n", AudioComponentLastLoadError());
  Check(loaded == noErr && component != nullptr, "the installed manifest loads");
  if (component == nullptr) return 1;

  AudioUnit unit = nullptr;
  Check(AudioComponentInstanceNew(component, &unit) == noErr, "open");
  AudioStreamBasicDescription format{};
  format.mSampleRate = 48000.0;
  format.mFormatID = kAudioFormatLinearPCM;
  format.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
  format.mBytesPerPacket = 4;
  format.mFramesPerPacket = 1;
  format.mBytesPerFrame = 4;
  format.mChannelsPerFrame = 1;
  format.mBitsPerChannel = 32;
  Check(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &format,
                             sizeof format) == noErr,
        "input format");
  Check(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &format,
                             sizeof format) == noErr,
        "output format");
  double phase = 0.0;
  const AURenderCallbackStruct input{Sine, &phase};
  Check(AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &input,
                             sizeof input) == noErr,
        "input callback");
  Check(AudioUnitInitialize(unit) == noErr, "initialize");

  Float32 samples[512] = {};
  AudioBufferList list{1, {{1, sizeof samples, samples}}};
  AudioTimeStamp time{};
  time.mFlags = kAudioTimeStampSampleTimeValid;
  AudioUnitRenderActionFlags flags = 0;
  Check(AudioUnitRender(unit, &flags, &time, 0, 512, &list) == noErr, "render");
  double energy = 0.0;
  for (Float32 s : samples) energy += static_cast<double>(s) * s;
  Check(energy > 1.0, "the gate is open at first: the tone passes");

  Check(AudioUnitUninitialize(unit) == noErr, "uninitialize");
  Check(AudioComponentInstanceDispose(unit) == noErr, "close");
  std::printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
  return failures == 0 ? 0 : 1;
}
