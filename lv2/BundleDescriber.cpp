#include "BundleDescriber.h"

#include <AudioToolbox/AudioComponentRegistry.h>

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

BundleDescription DescribeBundle(AudioComponent component, const std::string& binaryFile) {
  BundleDescription bundle;
  bundle.binaryFile = binaryFile;
  host::ThrowIfError(AudioComponentGetVersion(component, &bundle.version), "reading the component's version");
  // A fresh instance: its interval names are those of the default key.
  const host::AudioUnitHandle unit = host::AudioUnitHandle::Open(component);
  const host::ParameterCatalogue catalogue = host::ParameterCatalogue::Read(unit);
  for (const PluginVariant& variant : kPluginVariants) {
    bundle.plugins.push_back(DescribedPlugin{variant, PortTable::Build(catalogue, variant.channels)});
  }
  bundle.presets = ScalePresets(bundle.plugins.front().ports);
  return bundle;
}

}  // namespace varsile::lv2
