// One instance of the LV2 plug-in: a host of the gate component, which it
// reaches only through the platform's host calls. The component module is
// loaded from the bundle, so the bundle needs nothing from outside.
//
// Each channel gets a mono instance of its own. The component gates its
// channels independently, so the sound is the same as from one instance of
// all channels, but its meters follow its first channel only: this way each
// channel has meters.
#pragma once

#include <AudioUnit/AudioUnit.h>
#include <lv2/core/lv2.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AudioUnitHandle.h"
#include "ControlSync.h"
#include "PluginVariants.h"
#include "PortTable.h"
#include "RenderLoop.h"

namespace varsile::lv2 {

class GateInstance {
 public:
  // Loads the variant's component from the bundle, opens an instance per
  // channel and sets them up for the host's rate. Throws on failure.
  GateInstance(const PluginVariant& variant, double sampleRate, const std::string& bundlePath,
               const LV2_Feature* const* features);
  ~GateInstance();
  GateInstance(const GateInstance&) = delete;
  GateInstance& operator=(const GateInstance&) = delete;

  void ConnectPort(UInt32 port, void* data) noexcept;
  // Initializes the component: fresh kernels, so analysis and gain start
  // over; parameters stay. A failure leaves the instance silent.
  void Activate() noexcept;
  void Run(UInt32 frames) noexcept;
  void Deactivate() noexcept;

 private:
  // Declared first, so that they go last: the loops unhook their
  // callbacks from the units on the way out.
  std::vector<host::AudioUnitHandle> mUnits;  // by channel
  PortTable mTable;
  std::vector<std::unique_ptr<host::RenderLoop>> mLoops;  // by channel
  std::optional<ControlSync> mControls;
  // The audio ports by channel; null while not connected.
  std::vector<const Float32*> mInputs;
  std::vector<Float32*> mOutputs;
  double mSampleRate;
  Float32* mLatencyPort = nullptr;
  Float32 mLatencyFrames = 0.0f;  // what the component reported when activated
  bool mActive = false;
};

}  // namespace varsile::lv2
