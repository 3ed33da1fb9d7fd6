// The LV2 entry: one descriptor per plug-in variant, each a thin shell over
// GateInstance. Nothing here needs a feature from the host.
#include <lv2/core/lv2.h>

#include <cstdio>
#include <exception>

#include "GateInstance.h"
#include "PluginVariants.h"

namespace {

using varsile::lv2::GateInstance;
using varsile::lv2::kPluginVariants;

template <std::size_t kVariant>
LV2_Handle Instantiate(const LV2_Descriptor*, double sampleRate, const char* bundlePath,
                       const LV2_Feature* const* features) {
  try {
    if (bundlePath == nullptr || !(sampleRate > 0.0)) return nullptr;
    return new GateInstance(kPluginVariants[kVariant], sampleRate, bundlePath, features);
  } catch (const std::exception& error) {
    // The host learns only that instantiation failed; this says why.
    std::fprintf(stderr, "%s: %s\n", kPluginVariants[kVariant].uri.data(), error.what());
  } catch (...) {
  }
  return nullptr;
}

GateInstance* Instance(LV2_Handle handle) noexcept {
  return static_cast<GateInstance*>(handle);
}

template <std::size_t kVariant>
constexpr LV2_Descriptor MakeDescriptor() {
  // The URIs are string literals, so data() is terminated.
  return LV2_Descriptor{
      kPluginVariants[kVariant].uri.data(),
      &Instantiate<kVariant>,
      [](LV2_Handle handle, uint32_t port, void* data) { Instance(handle)->ConnectPort(port, data); },
      [](LV2_Handle handle) { Instance(handle)->Activate(); },
      [](LV2_Handle handle, uint32_t frames) { Instance(handle)->Run(frames); },
      [](LV2_Handle handle) { Instance(handle)->Deactivate(); },
      [](LV2_Handle handle) { delete Instance(handle); },
      [](const char*) -> const void* { return nullptr; }};
}

constexpr LV2_Descriptor kDescriptors[] = {MakeDescriptor<0>(), MakeDescriptor<1>(), MakeDescriptor<2>(),
                                           MakeDescriptor<3>()};
static_assert(std::size(kDescriptors) == kPluginVariants.size());

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index < std::size(kDescriptors) ? &kDescriptors[index] : nullptr;
}
