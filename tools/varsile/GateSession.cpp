#include "GateSession.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <vector>

#include "CliError.h"
#include "PlainStatus.h"
#include "Presets.h"

namespace varsile::cli {

namespace {

host::AudioUnitHandle OpenUnit(const host::ComponentSearch& search) {
  AudioComponent component = nullptr;
  try {
    component = host::LocateComponent(search);
  } catch (const host::HostError& failure) {
    throw CliError("cannot load the Varsile component: {}", failure.what());
  }
  try {
    return host::AudioUnitHandle::Open(component);
  } catch (const host::HostError& failure) {
    throw CliError("cannot open the Varsile component: {}", failure.what());
  }
}

}  // namespace

host::ComponentSearch LookaheadSearch(const host::ComponentSearch& gate) {
  host::ComponentSearch search = gate;
  search.componentName = "Varsile Lookahead";
  search.manifestName = "VarsileLookahead.component";
  for (std::string& manifest : search.defaultManifests)
    manifest = (std::filesystem::path(manifest).parent_path() / search.manifestName).string();
  return search;
}

GateSession::GateSession(const host::ComponentSearch& search) : GateSession(OpenUnit(search)) {}

GateSession::GateSession(host::AudioUnitHandle unit)
    : mUnit(std::move(unit)), mCatalogue(host::ParameterCatalogue::Read(mUnit)) {}

void GateSession::LoadPreset(const std::string& path) {
  cli::LoadPreset(mUnit, path);
  ReadCatalogue();
  // The component takes a preset's values as they are; a damaged one is
  // refused here rather than gated with or written back out.
  for (const host::ParameterDescription& parameter : mCatalogue.All()) {
    if (!parameter.IsWritable() || (std::isfinite(parameter.value) && parameter.InRange(parameter.value)))
      continue;
    throw CliError("cannot use preset '{}': it sets {} to {}, outside {}", path, parameter.name,
                   NumberText(parameter.value), RangeText(parameter));
  }
}

void GateSession::SavePreset(const std::string& path) {
  cli::SavePreset(mUnit, path);
}

void GateSession::Apply(const GateOptions& options) {
  ApplyGateSettings(mUnit, ResolveGateOptions(options, mCatalogue), options.bypass);
  ReadCatalogue();
}

UInt32 GateSession::LatencyFrames(Float64 sampleRate) const {
  const Float64 seconds = mUnit.GetProperty<Float64>(kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0);
  return seconds > 0.0 && std::isfinite(seconds) ? static_cast<UInt32>(std::llround(seconds * sampleRate))
                                                 : 0;
}

MeterReading GateSession::ReadMeters(double timeSeconds) {
  if (!mMeterIDs) {
    mMeterIDs = MeterIDs{mCatalogue.Require("accuracy").id, mCatalogue.Require("current note").id,
                         mCatalogue.Require("current volume").id};
  }
  MeterReading reading;
  reading.timeSeconds = timeSeconds;
  // The accuracy first: reading it brings the current note up to date.
  reading.accuracy = mUnit.GetParameter(mMeterIDs->accuracy);
  reading.currentNote = static_cast<int>(std::lround(mUnit.GetParameter(mMeterIDs->currentNote)));
  reading.currentVolume = mUnit.GetParameter(mMeterIDs->currentVolume);
  return reading;
}

void AddLevels(MeterReading& reading, const Float32* in, const Float32* out, UInt32 frames) noexcept {
  for (UInt32 i = 0; i < frames; ++i) {
    reading.inputPeak = std::max(reading.inputPeak, std::fabs(in[i]));
    reading.energyIn += double{in[i]} * in[i];
    reading.energyOut += double{out[i]} * out[i];
  }
  reading.frames += frames;
}

void GateSession::Prepare(Float64 sampleRate, UInt32 channels, UInt32 block) {
  mLoop.reset();
  mUnit.Uninitialize();
  mLoop.emplace(mUnit, sampleRate, channels, block);
  // The same output for any block size.
  mLoop->SplitAtHops(host::kGateHopFrames);
  mUnit.Initialize();
}

void GateSession::Prepare(const AudioFileReader& input, UInt32 channels, UInt32 block) {
  try {
    Prepare(input.SampleRate(), channels, block);
  } catch (const host::HostError& failure) {
    if (failure.Status() != kAudioUnitErr_FormatNotSupported) throw;
    throw CliError("'{}' has {} channel{} at {} Hz, which the component does not accept ({})", input.Path(),
                   input.Channels(), input.Channels() == 1 ? "" : "s", std::lround(input.SampleRate()),
                   PlainStatus(failure.Status()));
  }
}

void GateSession::Run(AudioFileReader& input, const RunOptions& options) {
  const UInt32 channels = input.Channels();
  const UInt32 block = options.blockSize;
  Prepare(input, channels, block);

  std::vector<Float32> inputMemory(std::size_t{channels} * block);
  std::vector<Float32> outputMemory(std::size_t{channels} * block);
  std::vector<Float32*> in(channels);
  std::vector<Float32*> out(channels);
  for (UInt32 c = 0; c < channels; ++c) {
    in[c] = inputMemory.data() + std::size_t{c} * block;
    out[c] = outputMemory.data() + std::size_t{c} * block;
  }

  // Frames of output still to drop, and of silence still to feed after the
  // input, to undo the unit's latency.
  SInt64 toDrop = LatencyFrames(input.SampleRate());
  SInt64 toFlush = toDrop;
  std::vector<Float32*> kept(channels);

  SInt64 done = 0;
  for (;;) {
    UInt32 frames = input.Read(in.data(), block);
    const UInt32 read = frames;
    if (frames == 0) {
      if (toFlush == 0) break;
      frames = static_cast<UInt32>(std::min<SInt64>(toFlush, block));
      for (Float32* channel : in) std::fill(channel, channel + frames, 0.0f);
      toFlush -= frames;
    }
    Render(in.data(), out.data(), frames);
    done += frames;
    const auto dropped = static_cast<UInt32>(std::min<SInt64>(toDrop, frames));
    toDrop -= dropped;
    if (options.write && dropped < frames) {
      for (UInt32 c = 0; c < channels; ++c) kept[c] = out[c] + dropped;
      options.write(kept.data(), frames - dropped);
    }
    if (options.meters) {
      MeterReading reading = ReadMeters(static_cast<double>(done) / input.SampleRate());
      AddLevels(reading, in[0], out[0], frames);
      options.meters(reading);
    }
    if (options.progress != nullptr) options.progress->Advance(read);
  }
  if (options.progress != nullptr) options.progress->Finish();
}

}  // namespace varsile::cli
