// Carries the control ports to the component and the meters back.
//
// Hosts save and restore control-port values, so the component's state must
// follow from the port values alone, whatever order they changed in. The
// component's master volume moves all twelve interval volumes by keeping
// each interval's offset from the master, which makes its state depend on
// that order, and an LV2 plug-in cannot move the host's interval ports to
// show the effect. So an interval port is read as the interval's volume at
// the neutral master volume (the master's default, 100 %): an interval is
// always set while the master stands there, and the master is then moved to
// its port's value. The volume that applies is then
//   clamp(interval port + master port - neutral master, 0, 100),
// the same for every history that ends in the same port values.
//
// The plug-in may host one instance per channel: every input goes to each of
// them, and each meter port reads the instance of its channel. The bypass
// port sets the instances' bypass property.
//
// Everything here after construction is realtime-safe: the tables are sized
// once, and parameters travel through the host calls, which take no lock and
// allocate nothing.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <vector>

#include "ParameterCatalogue.h"
#include "PortTable.h"

namespace varsile::lv2 {

class ControlSync {
 public:
  // units: the open instances whose parameters the table describes, one per
  // channel or a single one for all; the catalogue gives the values they
  // hold now.
  ControlSync(std::vector<AudioUnit> units, const PortTable& table,
              const host::ParameterCatalogue& catalogue);

  // False if the index is not a control port.
  bool Connect(UInt32 port, void* data) noexcept;

  // Sends every input port that changed since the last call, at once. True
  // when the gate has just resumed from bypass, its analysis starting over.
  bool SendChanges() noexcept;

  // Reads the meters into their output ports.
  void ReadMeters() noexcept;

 private:
  struct Input {
    AudioUnitParameterID parameter;
    Float32 minimum;
    Float32 maximum;
    bool integer;
    bool interval;
    bool enabled;  // the bypass port, not a parameter
    const Float32* data;
    Float32 applied;  // the port value the component follows
    Float32 pending;  // this block's value, valid while changed
    bool changed;
  };
  struct Meter {
    AudioUnitParameterID parameter;
    AudioUnit unit;
    Float32* data;
    UInt32 port;
  };

  void Send(AudioUnitParameterID parameter, Float32 value) noexcept;
  void SendEnabled(bool enabled) noexcept;

  std::vector<AudioUnit> mUnits;
  std::vector<Input> mInputs;
  std::vector<Meter> mMeters;
  // Per port index: the input (>= 0), the meter (-2 - i) or nothing (-1).
  std::vector<int> mByPort;
  int mMaster = -1;  // the master volume's input, or -1
  Float32 mNeutralMaster = 100.0f;
  Float32 mMasterHeld = 100.0f;  // the master volume the component holds
};

}  // namespace varsile::lv2
