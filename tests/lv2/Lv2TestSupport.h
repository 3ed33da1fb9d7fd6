// The LV2 plug-in as a host sees it: its object opened from the bundle with
// dlopen, instances driven through the descriptor, ports found by symbol.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "BundleDescriber.h"
#include "PortTable.h"
#include "RenderLoop.h"

namespace lv2test {

using Planar = std::vector<std::vector<float>>;

inline constexpr std::string_view kMonoURI = "urn:varsile:gate:mono";
inline constexpr std::string_view kStereoURI = "urn:varsile:gate:stereo";
inline constexpr std::string_view kLookaheadURI = "urn:varsile:gate:lookahead:mono";

// The bundle under test: the build tree's.
inline std::string BundlePath() {
  return VARSILE_LV2_BUNDLE;
}

inline std::string BundleParent() {
  const std::string bundle = BundlePath();
  return bundle.substr(0, bundle.rfind('/'));
}

inline AudioComponent BundleComponent() {
  static const AudioComponent component =
      varsile::lv2::LoadBundleComponent(BundlePath() + "/Varsile.component");
  return component;
}

// What the generated description says, rebuilt from the component.
inline const varsile::lv2::BundleDescription& Description() {
  static const varsile::lv2::BundleDescription description =
      varsile::lv2::DescribeBundle(BundlePath(), "varsile.so");
  return description;
}

inline const varsile::lv2::PortTable& Table(std::string_view uri) {
  for (const varsile::lv2::DescribedPlugin& plugin : Description().plugins) {
    if (plugin.variant.uri == uri) return plugin.ports;
  }
  throw std::invalid_argument("no plug-in " + std::string(uri));
}

inline const LV2_Descriptor* Descriptor(std::string_view uri) {
  static void* const library = [] {
    void* handle = dlopen((BundlePath() + "/varsile.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) ADD_FAILURE() << dlerror();
    return handle;
  }();
  if (library == nullptr) return nullptr;
  const auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(library, "lv2_descriptor"));
  if (entry == nullptr) return nullptr;
  for (uint32_t i = 0;; ++i) {
    const LV2_Descriptor* descriptor = entry(i);
    if (descriptor == nullptr) return nullptr;
    if (uri == descriptor->URI) return descriptor;
  }
}

// A host's URID map.
inline LV2_URID MapURI(LV2_URID_Map_Handle, const char* uri) {
  static std::vector<std::string> uris;
  for (std::size_t i = 0; i < uris.size(); ++i) {
    if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
  }
  uris.emplace_back(uri);
  return static_cast<LV2_URID>(uris.size());
}

// One instance with storage for every control port, all connected.
class PluginInstance {
 public:
  PluginInstance(std::string_view uri, double sampleRate, const LV2_Feature* const* features = nullptr)
      : mDescriptor(Descriptor(uri)), mTable(Table(uri)), mControls(mTable.Ports().size(), 0.0f) {
    if (mDescriptor == nullptr) throw std::runtime_error("no descriptor for " + std::string(uri));
    const LV2_Feature* none[] = {nullptr};
    mHandle = mDescriptor->instantiate(mDescriptor, sampleRate, (BundlePath() + "/").c_str(),
                                       features != nullptr ? features : none);
    if (mHandle == nullptr) throw std::runtime_error("instantiating " + std::string(uri) + " failed");
    for (const varsile::lv2::PortSpec& port : mTable.Ports()) {
      if (!port.IsControl()) continue;
      mControls[port.index] = port.defaultValue;
      mDescriptor->connect_port(mHandle, port.index, &mControls[port.index]);
    }
  }
  ~PluginInstance() {
    if (mActive) mDescriptor->deactivate(mHandle);
    mDescriptor->cleanup(mHandle);
  }
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  const varsile::lv2::PortTable& Ports() const { return mTable; }
  UInt32 Channels() const { return mTable.Channels(); }

  float& Control(std::string_view symbol) {
    const varsile::lv2::PortSpec* port = mTable.Find(symbol);
    if (port == nullptr || !port->IsControl())
      throw std::invalid_argument("no control " + std::string(symbol));
    return mControls[port->index];
  }
  // Every control port's value, by symbol: what a host saves.
  std::map<std::string, float> Controls() const {
    std::map<std::string, float> values;
    for (const varsile::lv2::PortSpec& port : mTable.Ports()) {
      if (port.kind == varsile::lv2::PortKind::ControlInput) values[port.symbol] = mControls[port.index];
    }
    return values;
  }

  void Activate() {
    mDescriptor->activate(mHandle);
    mActive = true;
  }
  void Deactivate() {
    mDescriptor->deactivate(mHandle);
    mActive = false;
  }

  void ConnectAudio(UInt32 channel, const float* input, float* output) {
    for (const varsile::lv2::PortSpec& port : mTable.Ports()) {
      if (port.channel != channel) continue;
      if (port.kind == varsile::lv2::PortKind::AudioInput) {
        mDescriptor->connect_port(mHandle, port.index, const_cast<float*>(input));
      } else if (port.kind == varsile::lv2::PortKind::AudioOutput) {
        mDescriptor->connect_port(mHandle, port.index, output);
      }
    }
  }
  void Run(UInt32 frames) { mDescriptor->run(mHandle, frames); }

  // Runs the whole input in blocks, connecting the ports into the signal
  // at every block as hosts do.
  Planar Process(const Planar& input, UInt32 block) {
    Planar output(input.size(), std::vector<float>(input.at(0).size(), 0.0f));
    const std::size_t frames = input[0].size();
    for (std::size_t offset = 0; offset < frames; offset += block) {
      const auto count = static_cast<UInt32>(std::min<std::size_t>(block, frames - offset));
      for (UInt32 c = 0; c < input.size(); ++c)
        ConnectAudio(c, input[c].data() + offset, output[c].data() + offset);
      Run(count);
    }
    return output;
  }

 private:
  const LV2_Descriptor* mDescriptor;
  varsile::lv2::PortTable mTable;
  std::vector<float> mControls;
  LV2_Handle mHandle = nullptr;
  bool mActive = false;
};

// Tones of 0.2 s with two harmonics; every channel its own sequence of
// pitch classes, so that a key lets some through and gates others.
inline Planar Melody(UInt32 channels, double sampleRate, double seconds) {
  static constexpr int kNotes[2][8] = {{62, 63, 66, 69, 70, 64, 61, 74}, {57, 58, 61, 65, 67, 68, 71, 60}};
  const auto frames = static_cast<std::size_t>(seconds * sampleRate);
  const auto noteFrames = static_cast<std::size_t>(0.2 * sampleRate);
  Planar signal(channels, std::vector<float>(frames));
  for (UInt32 c = 0; c < channels; ++c) {
    for (std::size_t i = 0; i < frames; ++i) {
      const int note = kNotes[c % 2][(i / noteFrames) % 8];
      const double frequency = 440.0 * std::pow(2.0, (note - 69) / 12.0);
      const double phase = 2.0 * M_PI * frequency * static_cast<double>(i) / sampleRate;
      signal[c][i] = static_cast<float>(0.4 * std::sin(phase) + 0.15 * std::sin(2.0 * phase));
    }
  }
  return signal;
}

// The same component driven directly through the host calls, with the
// plug-in's defaults and the given parameter values (by port symbol, set in
// port order), in blocks split on the tracker's grid.
inline Planar DirectRender(const Planar& input, double sampleRate, UInt32 block,
                           const std::map<std::string, float>& settings) {
  using namespace varsile;
  const auto channels = static_cast<UInt32>(input.size());
  const lv2::PortTable& table = Table(channels == 1 ? kMonoURI : kStereoURI);
  host::AudioUnitHandle unit = host::AudioUnitHandle::Open(BundleComponent());
  for (const lv2::PortSpec& port : table.Ports()) {
    if (port.kind != lv2::PortKind::ControlInput || port.role != lv2::PortRole::Parameter) continue;
    const auto it = settings.find(port.symbol);
    unit.SetParameter(port.parameter, it != settings.end() ? it->second : port.defaultValue);
  }
  Planar output(channels, std::vector<float>(input[0].size(), 0.0f));
  host::RenderLoop loop(unit, sampleRate, channels, block);
  loop.SplitAtHops(host::kGateHopFrames);
  unit.Initialize();
  std::vector<const float*> in(channels);
  std::vector<float*> out(channels);
  for (std::size_t offset = 0; offset < input[0].size(); offset += block) {
    const auto count = static_cast<UInt32>(std::min<std::size_t>(block, input[0].size() - offset));
    for (UInt32 c = 0; c < channels; ++c) {
      in[c] = input[c].data() + offset;
      out[c] = output[c].data() + offset;
    }
    loop.Render(in.data(), out.data(), count);
  }
  return output;
}

inline float MaxDifference(const Planar& a, const Planar& b) {
  float worst = 0.0f;
  for (std::size_t c = 0; c < a.size(); ++c) {
    for (std::size_t i = 0; i < a[c].size(); ++i) worst = std::max(worst, std::fabs(a[c][i] - b[c][i]));
  }
  return worst;
}

inline double Energy(const std::vector<float>& signal, std::size_t from, std::size_t to) {
  double sum = 0.0;
  for (std::size_t i = from; i < to && i < signal.size(); ++i) sum += double{signal[i]} * signal[i];
  return sum;
}

}  // namespace lv2test
