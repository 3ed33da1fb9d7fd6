#include "GateHost.h"

#include <cmath>
#include <cstring>

#include "CliError.h"
#include "ModuleComponent.h"
#include "StatusNames.h"

namespace varsile::python {

namespace {

host::AudioUnitHandle OpenGate(bool lookahead) {
  AudioComponent component = nullptr;
  try {
    component = GateComponent(lookahead);
  } catch (const host::HostError& failure) {
    throw cli::CliError("cannot load the Varsile component: {}", failure.what());
  }
  return host::AudioUnitHandle::Open(component);
}

}  // namespace

GateHost::GateHost(double sampleRate, UInt32 channels, UInt32 block, const cli::GateOptions& options,
                   const std::string& presetPath, bool lookahead)
    : mSampleRate(sampleRate), mChannels(channels), mBlock(block), mSession(OpenGate(lookahead)) {
  if (!(sampleRate > 0.0) || !std::isfinite(sampleRate)) {
    throw cli::UsageError("the sample rate must be a positive number of Hz");
  }
  if (channels == 0) throw cli::UsageError("the gate needs at least one channel");
  if (!presetPath.empty()) mSession.LoadPreset(presetPath);
  // The program's defaults, so both give the same output for the same settings.
  Apply(cli::WithMelodyTiming(options, !presetPath.empty() || Catalogue().Find("attack time") == nullptr));
  try {
    mSession.Prepare(sampleRate, channels, block);
  } catch (const host::HostError& failure) {
    if (failure.Status() != kAudioUnitErr_FormatNotSupported) throw;
    throw cli::UsageError("{} channel{} at {} Hz: the component does not accept that ({})", channels,
                          channels == 1 ? "" : "s", std::lround(sampleRate),
                          host::StatusName(failure.Status()));
  }
  mUnitLatency = mSession.LatencyFrames(sampleRate);
  mPending.assign(std::size_t{channels} * block, 0.0f);
  mReady.assign(std::size_t{channels} * 2 * block, 0.0f);
  RestartStream();
}

const host::ParameterDescription* GateHost::FindParameter(const std::string& name) const noexcept {
  for (const host::ParameterDescription& p : Catalogue().All()) {
    if (host::NameStem(p.name) == name || p.name == name) return &p;
  }
  return nullptr;
}

void GateHost::SetParameter(const std::string& name, double value) {
  const host::ParameterDescription* parameter = FindParameter(name);
  if (parameter == nullptr) throw cli::UsageError("unknown parameter '{}'", name);
  if (!parameter->IsWritable()) throw cli::UsageError("{} is read-only", parameter->name);
  if (!parameter->InRange(value)) {
    throw cli::UsageError("{} {} is out of range: {} takes {}", name, cli::NumberText(value), parameter->name,
                          cli::RangeText(*parameter));
  }
  mSession.Unit().SetParameter(parameter->id, static_cast<Float32>(value));
  mSession.ReadCatalogue();
}

void GateHost::RestartStream() {
  // The first mBlock - 1 frames handed out are silence.
  std::fill(mReady.begin(), mReady.end(), 0.0f);
  mReadyStart = 0;
  mReadyEnd = mBlock - 1;
  mPendingFrames = 0;
}

void GateHost::Reset() {
  mSession.Rewind();
  RestartStream();
}

void GateHost::Stream(const Float32* const* input, Float32* const* output, std::size_t frames) {
  std::vector<const Float32*> pending(mChannels);
  std::vector<Float32*> ready(mChannels);
  // Held back are mBlock - 1 - mPendingFrames rendered frames, so every frame
  // taken in either completes a block or has a rendered frame to go out.
  for (std::size_t done = 0; done < frames;) {
    const auto count = static_cast<UInt32>(std::min<std::size_t>(mBlock - mPendingFrames, frames - done));
    for (UInt32 c = 0; c < mChannels; ++c) {
      std::memcpy(Pending(c) + mPendingFrames, input[c] + done, count * sizeof(Float32));
    }
    mPendingFrames += count;
    if (mPendingFrames == mBlock) {
      const UInt32 held = mReadyEnd - mReadyStart;
      for (UInt32 c = 0; c < mChannels; ++c) {
        Float32* channel = Ready(c);
        std::memmove(channel, channel + mReadyStart, held * sizeof(Float32));
        pending[c] = Pending(c);
        ready[c] = channel + held;
      }
      RenderBlock(pending.data(), ready.data(), mBlock);
      mReadyStart = 0;
      mReadyEnd = held + mBlock;
      mPendingFrames = 0;
    }
    for (UInt32 c = 0; c < mChannels; ++c) {
      std::memcpy(output[c] + done, Ready(c) + mReadyStart, count * sizeof(Float32));
    }
    mReadyStart += count;
    done += count;
  }
}

void GateHost::Flush(Float32* const* output) {
  const UInt32 held = mReadyEnd - mReadyStart;
  std::vector<const Float32*> pending(mChannels);
  std::vector<Float32*> rest(mChannels);
  for (UInt32 c = 0; c < mChannels; ++c) {
    std::memcpy(output[c], Ready(c) + mReadyStart, held * sizeof(Float32));
    pending[c] = Pending(c);
    rest[c] = output[c] + held;
  }
  if (mPendingFrames > 0) RenderBlock(pending.data(), rest.data(), mPendingFrames);
  for (UInt32 c = 0; c < mChannels; ++c) rest[c] += mPendingFrames;
  RenderSilence(rest.data(), mUnitLatency);
  Reset();
}

void GateHost::RenderSilence(Float32* const* output, std::size_t frames) {
  std::fill(mPending.begin(), mPending.end(), 0.0f);
  std::vector<const Float32*> silence(mChannels);
  std::vector<Float32*> out(output, output + mChannels);
  for (UInt32 c = 0; c < mChannels; ++c) silence[c] = Pending(c);
  for (std::size_t done = 0; done < frames;) {
    const auto count = static_cast<UInt32>(std::min<std::size_t>(mBlock, frames - done));
    RenderBlock(silence.data(), out.data(), count);
    for (Float32*& channel : out) channel += count;
    done += count;
  }
}

}  // namespace varsile::python
