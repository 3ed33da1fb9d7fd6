// Stream formats: the defaults are canonical, canonical formats are taken at
// many rates and both channel counts, the sample-rate property and the
// global scope agree with the output element, formats that are not
// canonical are refused, and an initialized unit refuses a change but takes
// back its own format.
#include <fmt/format.h>

#include <array>

#include "Checks.h"
#include "Text.h"

namespace varsile::validate {

namespace {

constexpr std::array<Float64, 7> kRates{8000.0, 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0};

std::string FormatText(const AudioStreamBasicDescription& format) {
  return fmt::format("{} Hz, {}, flags 0x{:X}, {} ch, {} bits, {} bytes per frame",
                     FloatText(format.mSampleRate), FourCCText(format.mFormatID), format.mFormatFlags,
                     format.mChannelsPerFrame, format.mBitsPerChannel, format.mBytesPerFrame);
}

void CheckDefaults(Report& report, host::UnitInstance& unit) {
  for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
    AudioStreamBasicDescription format{};
    const OSStatus status = unit.GetFormat(scope, 0, format);
    report.Check(status == noErr && IsCanonicalFormat(format), "default " + ScopeText(scope),
                 status != noErr ? StatusText(status)
                                 : FormatText(format) + (IsCanonicalFormat(format) ? "" : ": not canonical"));
  }
}

void CheckCanonicalRates(Report& report, host::UnitInstance& unit) {
  for (Float64 rate : kRates) {
    std::string wrong;
    for (UInt32 channels : {1u, 2u}) {
      for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
        const AudioStreamBasicDescription wanted = CanonicalFormat(rate, channels);
        const OSStatus set = unit.SetFormat(scope, 0, wanted);
        AudioStreamBasicDescription read{};
        const OSStatus get = unit.GetFormat(scope, 0, read);
        if (set != noErr || get != noErr || !SameFormat(read, wanted)) {
          wrong += " " + std::to_string(channels) + " ch " + ScopeText(scope) + ": set " + StatusText(set) +
                   ", reads " + (get == noErr ? FormatText(read) : StatusText(get)) + ";";
        }
      }
    }
    report.CheckNone("canonical " + FloatText(rate), wrong,
                     "1 and 2 channels taken and read back on input and output");
  }
}

void CheckSampleRateProperty(Report& report, host::UnitInstance& unit) {
  unit.ConfigureIO(44100.0, 2);
  const Float64 rate = 48000.0;
  const OSStatus set = unit.Set(kAudioUnitProperty_SampleRate, kAudioUnitScope_Output, 0, rate);
  AudioStreamBasicDescription output{};
  const OSStatus get = unit.GetFormat(kAudioUnitScope_Output, 0, output);
  Float64 read = 0.0;
  const OSStatus getRate = unit.Get(kAudioUnitProperty_SampleRate, kAudioUnitScope_Output, 0, read);
  report.Check(set == noErr && get == noErr && SameFormat(output, CanonicalFormat(rate, 2)) &&
                   getRate == noErr && read == rate,
               "sample-rate-property",
               "output sample rate set to 48000: " + StatusText(set) + "; the output format then reads " +
                   (get == noErr ? FormatText(output) : StatusText(get)) + "; the rate reads " +
                   FloatText(read));

  AudioStreamBasicDescription global{};
  const OSStatus getGlobal = unit.GetFormat(kAudioUnitScope_Global, 0, global);
  report.Check(getGlobal == noErr && SameFormat(global, output), "global-is-output",
               "the global scope's format " +
                   (getGlobal == noErr ? FormatText(global) : StatusText(getGlobal)) +
                   " is output element 0's");
}

void CheckRefusals(Report& report, host::UnitInstance& unit) {
  unit.ConfigureIO(44100.0, 2);
  AudioStreamBasicDescription interleaved = CanonicalFormat(44100.0, 2);
  interleaved.mFormatFlags = kAudioFormatFlagsNativeFloatPacked;
  interleaved.mBytesPerFrame = interleaved.mBytesPerPacket = 8;
  AudioStreamBasicDescription bigEndian = CanonicalFormat(44100.0, 2);
  bigEndian.mFormatFlags |= kAudioFormatFlagIsBigEndian;
  AudioStreamBasicDescription integer = CanonicalFormat(44100.0, 2);
  integer.mFormatFlags =
      kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
  integer.mBitsPerChannel = 16;
  integer.mBytesPerFrame = integer.mBytesPerPacket = 2;
  AudioStreamBasicDescription compressed = CanonicalFormat(44100.0, 2);
  compressed.mFormatID = 0x61616320;  // 'aac '

  const std::array<std::pair<const char*, AudioStreamBasicDescription>, 4> refused{{
      {"interleaved", interleaved},
      {"big-endian", bigEndian},
      {"16-bit integer", integer},
      {"not linear PCM", compressed},
  }};
  for (const auto& [what, format] : refused) {
    for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
      AudioStreamBasicDescription before{};
      unit.GetFormat(scope, 0, before);
      const OSStatus status = unit.SetFormat(scope, 0, format);
      AudioStreamBasicDescription after{};
      unit.GetFormat(scope, 0, after);
      report.Check(
          status == kAudioUnitErr_FormatNotSupported && SameFormat(before, after),
          std::string("refuse ") + what + " " + ScopeText(scope),
          StatusText(status) + (SameFormat(before, after) ? ", format unchanged" : ", format changed"));
    }
  }
}

void CheckInitializedChanges(Report& report, const Target& target) {
  auto unit = OpenConfigured(report, target, 44100.0, 2);
  const PropertyInfo info = unit->Info(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0);
  const OSStatus other = unit->SetFormat(kAudioUnitScope_Output, 0, CanonicalFormat(48000.0, 2));
  const OSStatus same = unit->SetFormat(kAudioUnitScope_Output, 0, CanonicalFormat(44100.0, 2));
  AudioStreamBasicDescription after{};
  unit->GetFormat(kAudioUnitScope_Output, 0, after);
  report.Check(info.status == noErr && !info.writable && other == kAudioUnitErr_PropertyNotWritable &&
                   same == noErr && SameFormat(after, CanonicalFormat(44100.0, 2)),
               "initialized",
               std::string("while initialized the output format is ") +
                   (info.writable ? "reported writable" : "reported read-only") +
                   "; a new rate: " + StatusText(other) + "; the same format: " + StatusText(same) +
                   "; it reads " + FormatText(after));
}

}  // namespace

void CheckFormats(Report& report, const Target& target) {
  auto unit = OpenUnit(report, target);
  CheckDefaults(report, *unit);
  CheckCanonicalRates(report, *unit);
  CheckSampleRateProperty(report, *unit);
  CheckRefusals(report, *unit);
  CheckInitializedChanges(report, target);
}

}  // namespace varsile::validate
