#include "ControlSync.h"

#include <algorithm>
#include <cmath>

namespace varsile::lv2 {

namespace {

// Reading the accuracy meter refreshes the current note from the tracker,
// so it is read before the others.
constexpr std::string_view kRefreshingMeterSymbol = "accuracy";

}  // namespace

ControlSync::ControlSync(std::vector<AudioUnit> units, const PortTable& table,
                         const host::ParameterCatalogue& catalogue)
    : mUnits(std::move(units)), mByPort(table.Ports().size(), -1) {
  const PortSpec* const refreshing = table.Find(kRefreshingMeterSymbol);
  for (const PortSpec& port : table.Ports()) {
    if (port.kind == PortKind::ControlInput) {
      const bool enabled = port.role == PortRole::Enabled;
      const host::ParameterDescription* parameter = enabled ? nullptr : catalogue.FindID(port.parameter);
      // The instances start processing, as the bypass port's default says.
      const Float32 current = parameter != nullptr ? parameter->value : port.defaultValue;
      mByPort[port.index] = static_cast<int>(mInputs.size());
      if (port.symbol == kMasterVolumeSymbol) {
        mMaster = static_cast<int>(mInputs.size());
        mNeutralMaster = port.defaultValue;
        mMasterHeld = current;
      }
      mInputs.push_back(Input{port.parameter, port.minimum, port.maximum, port.integer,
                              port.IsIntervalVolume(), enabled, nullptr, current, current, false});
    } else if (port.kind == PortKind::ControlOutput && port.role == PortRole::Parameter) {
      const AudioUnit unit = mUnits[std::min<std::size_t>(port.channel, mUnits.size() - 1)];
      mMeters.push_back(Meter{port.parameter, unit, nullptr, port.index});
    }
  }
  std::partition(mMeters.begin(), mMeters.end(), [&](const Meter& meter) {
    return refreshing != nullptr && meter.parameter == refreshing->parameter;
  });
  for (std::size_t i = 0; i < mMeters.size(); ++i) mByPort[mMeters[i].port] = -2 - static_cast<int>(i);
}

bool ControlSync::Connect(UInt32 port, void* data) noexcept {
  if (port >= mByPort.size() || mByPort[port] == -1) return false;
  const int slot = mByPort[port];
  if (slot >= 0) {
    mInputs[static_cast<std::size_t>(slot)].data = static_cast<const Float32*>(data);
  } else {
    mMeters[static_cast<std::size_t>(-2 - slot)].data = static_cast<Float32*>(data);
  }
  return true;
}

void ControlSync::Send(AudioUnitParameterID parameter, Float32 value) noexcept {
  // A refusal leaves the component as it was; there is no one to tell.
  for (const AudioUnit unit : mUnits) {
    static_cast<void>(AudioUnitSetParameter(unit, parameter, kAudioUnitScope_Global, 0, value, 0));
  }
}

void ControlSync::SendEnabled(bool enabled) noexcept {
  // The component passes its input through while bypassed and starts its
  // analysis over when it resumes.
  const UInt32 bypass = enabled ? 0 : 1;
  for (const AudioUnit unit : mUnits) {
    static_cast<void>(AudioUnitSetProperty(unit, kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, 0,
                                           &bypass, sizeof(bypass)));
  }
}

bool ControlSync::SendChanges() noexcept {
  bool intervalChanged = false;
  bool resumed = false;
  for (Input& input : mInputs) {
    input.changed = false;
    if (input.data == nullptr) continue;
    Float32 value = *input.data;
    // Hosts are asked to keep to the ranges but not all do; the component
    // is only ever given values it declared.
    if (std::isnan(value)) continue;
    if (input.integer) value = std::nearbyint(value);
    value = std::fmin(std::fmax(value, input.minimum), input.maximum);
    if (value == input.applied) continue;
    input.pending = value;
    input.changed = true;
    intervalChanged = intervalChanged || input.interval;
  }

  Input* const master = mMaster >= 0 ? &mInputs[static_cast<std::size_t>(mMaster)] : nullptr;
  if (intervalChanged && master != nullptr && mMasterHeld != mNeutralMaster) {
    Send(master->parameter, mNeutralMaster);
    mMasterHeld = mNeutralMaster;
  }
  for (Input& input : mInputs) {
    if (!input.changed || &input == master) continue;
    if (input.enabled) {
      SendEnabled(input.pending != 0.0f);
      resumed = input.pending != 0.0f;
    } else {
      Send(input.parameter, input.pending);
    }
    input.applied = input.pending;
  }
  if (master != nullptr) {
    if (master->changed) master->applied = master->pending;
    if (master->applied != mMasterHeld) {
      Send(master->parameter, master->applied);
      mMasterHeld = master->applied;
    }
  }
  return resumed;
}

void ControlSync::ReadMeters() noexcept {
  for (const Meter& meter : mMeters) {
    Float32 value = 0.0f;
    if (AudioUnitGetParameter(meter.unit, meter.parameter, kAudioUnitScope_Global, 0, &value) != noErr)
      continue;
    if (meter.data != nullptr) *meter.data = value;
  }
}

}  // namespace varsile::lv2
