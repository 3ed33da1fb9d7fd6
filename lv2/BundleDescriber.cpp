#include "BundleDescriber.h"

#include <AudioToolbox/AudioComponentRegistry.h>

#include <filesystem>
#include <stdexcept>

#include "AudioUnitHandle.h"
#include "HostError.h"
#include "ParameterCatalogue.h"

namespace varsile::lv2 {

AudioComponent LoadBundleComponent(const std::string& manifestPath) {
  AudioComponent component = nullptr;
  if (AudioComponentLoadManifest(manifestPath.c_str(), &component) != noErr || component == nullptr) {
    throw std::runtime_error(AudioComponentLastLoadError());
  }
  return component;
}

std::string BundleManifestPath(const std::string& bundlePath, std::string_view manifest) {
  return std::filesystem::path(bundlePath) / manifest;
}

BundleDescription DescribeBundle(const std::string& bundlePath, const std::string& binaryFile) {
  BundleDescription bundle;
  bundle.binaryFile = binaryFile;
  for (const PluginVariant& variant : kPluginVariants) {
    const AudioComponent component = LoadBundleComponent(BundleManifestPath(bundlePath, variant.manifest));
    // The components share a module, and with it a version.
    host::ThrowIfError(AudioComponentGetVersion(component, &bundle.version),
                       "reading the component's version");
    // A fresh instance: its interval names are those of the default key.
    const host::AudioUnitHandle unit = host::AudioUnitHandle::Open(component);
    const host::ParameterCatalogue catalogue = host::ParameterCatalogue::Read(unit);
    bundle.plugins.push_back(
        DescribedPlugin{variant, PortTable::Build(catalogue, variant.channels, variant.reportsLatency)});
  }
  bundle.presets = ScalePresets(bundle.plugins.front().ports);
  return bundle;
}

}  // namespace varsile::lv2
