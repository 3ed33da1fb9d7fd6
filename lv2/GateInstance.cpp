#include "GateInstance.h"

#include <algorithm>
#include <cmath>

#include "BlockLength.h"
#include "BundleDescriber.h"
#include "ParameterCatalogue.h"
#include "PluginVariants.h"

namespace varsile::lv2 {

GateInstance::GateInstance(const PluginVariant& variant, double sampleRate, const std::string& bundlePath,
                           const LV2_Feature* const* features)
    : mInputs(variant.channels, nullptr), mOutputs(variant.channels, nullptr), mSampleRate(sampleRate) {
  const UInt32 channels = variant.channels;
  const AudioComponent component = LoadBundleComponent(BundleManifestPath(bundlePath, variant.manifest));
  std::vector<AudioUnit> units;
  for (UInt32 c = 0; c < channels; ++c) {
    mUnits.push_back(host::AudioUnitHandle::Open(component));
    units.push_back(mUnits.back().Get());
  }
  const host::ParameterCatalogue catalogue = host::ParameterCatalogue::Read(mUnits.front());
  mTable = PortTable::Build(catalogue, channels, variant.reportsLatency);
  const UInt32 maxFrames = MaxFramesFromFeatures(features);
  for (host::AudioUnitHandle& unit : mUnits) {
    mLoops.push_back(std::make_unique<host::RenderLoop>(unit, sampleRate, 1, maxFrames));
    // Decisions on the tracker's grid: the same sound for any block length.
    mLoops.back()->SplitAtHops(host::kGateHopFrames);
  }
  mControls.emplace(std::move(units), mTable, catalogue);
}

GateInstance::~GateInstance() {
  Deactivate();
}

void GateInstance::ConnectPort(UInt32 port, void* data) noexcept {
  if (mControls->Connect(port, data) || port >= mTable.Ports().size()) return;
  const PortSpec& row = mTable.Ports()[port];
  if (row.role == PortRole::Latency) {
    mLatencyPort = static_cast<Float32*>(data);
  } else if (row.kind == PortKind::AudioInput) {
    mInputs[row.channel] = static_cast<const Float32*>(data);
  } else if (row.kind == PortKind::AudioOutput) {
    mOutputs[row.channel] = static_cast<Float32*>(data);
  }
}

void GateInstance::Activate() noexcept {
  if (mActive) return;
  try {
    for (host::AudioUnitHandle& unit : mUnits) unit.Initialize();
    // Every channel's instance has the same delay.
    const auto seconds =
        mUnits.front().GetProperty<Float64>(kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0);
    // Whatever a unit answers, the port gets whole frames within its range.
    const double frames =
        std::isfinite(seconds) ? std::clamp(seconds * mSampleRate, 0.0, double{kLatencyMaximum}) : 0.0;
    mLatencyFrames = static_cast<Float32>(std::round(frames));
    for (const std::unique_ptr<host::RenderLoop>& loop : mLoops) loop->RestartGrid();
    mActive = true;
  } catch (...) {
    for (host::AudioUnitHandle& unit : mUnits) unit.Uninitialize();
    mActive = false;
  }
}

void GateInstance::Deactivate() noexcept {
  if (!mActive) return;
  for (host::AudioUnitHandle& unit : mUnits) unit.Uninitialize();
  mActive = false;
}

void GateInstance::Run(UInt32 frames) noexcept {
  if (mLatencyPort != nullptr) *mLatencyPort = mLatencyFrames;
  if (!mActive) {
    for (Float32* output : mOutputs) {
      if (output != nullptr) std::fill_n(output, frames, 0.0f);
    }
    return;
  }
  const bool resumed = mControls->SendChanges();
  for (std::size_t c = 0; c < mLoops.size(); ++c) {
    if (resumed) mLoops[c]->RestartGrid();
    // A failed call is silence; the plug-in has no one to tell.
    static_cast<void>(mLoops[c]->TryRender(&mInputs[c], &mOutputs[c], frames));
  }
  mControls->ReadMeters();
}

}  // namespace varsile::lv2
