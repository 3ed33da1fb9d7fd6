#include "GateInstance.h"

#include <algorithm>

#include "BlockLength.h"
#include "BundleDescriber.h"
#include "ParameterCatalogue.h"
#include "PluginVariants.h"

namespace varsile::lv2 {

std::string BundleManifestPath(const std::string& bundlePath) {
  std::string path = bundlePath;
  if (!path.empty() && path.back() != '/') path += '/';
  return path + std::string(kComponentManifestFile);
}

GateInstance::GateInstance(UInt32 channels, double sampleRate, const std::string& bundlePath,
                           const LV2_Feature* const* features)
    : mUnit(host::AudioUnitHandle::Open(LoadBundleComponent(BundleManifestPath(bundlePath)))),
      mOutputs(channels, nullptr) {
  const host::ParameterCatalogue catalogue = host::ParameterCatalogue::Read(mUnit);
  mTable = PortTable::Build(catalogue, channels);
  mRenderer.emplace(mUnit.Get(), sampleRate, channels, MaxFramesFromFeatures(features));
  mControls.emplace(mUnit.Get(), mTable, catalogue);
}

GateInstance::~GateInstance() {
  Deactivate();
}

void GateInstance::ConnectPort(UInt32 port, void* data) noexcept {
  if (mControls->Connect(port, data) || port >= mTable.Ports().size()) return;
  const PortSpec& row = mTable.Ports()[port];
  if (row.kind == PortKind::AudioInput) {
    mRenderer->ConnectInput(row.channel, static_cast<const Float32*>(data));
  } else if (row.kind == PortKind::AudioOutput) {
    mRenderer->ConnectOutput(row.channel, static_cast<Float32*>(data));
    mOutputs[row.channel] = static_cast<Float32*>(data);
  }
}

void GateInstance::Activate() noexcept {
  if (mActive) return;
  try {
    mUnit.Initialize();
    mActive = true;
  } catch (...) {
    mActive = false;
  }
}

void GateInstance::Deactivate() noexcept {
  if (!mActive) return;
  mUnit.Uninitialize();
  mActive = false;
}

void GateInstance::Run(UInt32 frames) noexcept {
  if (!mActive) {
    for (Float32* output : mOutputs) {
      if (output != nullptr) std::fill_n(output, frames, 0.0f);
    }
    return;
  }
  mControls->SendChanges();
  mRenderer->Render(frames);
  mControls->ReadMeters();
}

}  // namespace varsile::lv2
