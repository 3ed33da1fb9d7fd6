#include "ParameterSurvey.h"

#include <cmath>

namespace varsile::validate {

std::vector<AudioUnitParameterID> ParameterIds(const host::UnitInstance& unit, AudioUnitScope scope,
                                               OSStatus& status) {
  const PropertyInfo info = unit.Info(kAudioUnitProperty_ParameterList, scope, 0);
  status = info.status;
  if (info.status != noErr || info.size < sizeof(AudioUnitParameterID)) return {};
  std::vector<AudioUnitParameterID> ids(info.size / sizeof(AudioUnitParameterID));
  UInt32 size = static_cast<UInt32>(ids.size() * sizeof(AudioUnitParameterID));
  status = unit.GetBytes(kAudioUnitProperty_ParameterList, scope, 0, ids.data(), size);
  if (status != noErr) return {};
  ids.resize(std::min<std::size_t>(ids.size(), size / sizeof(AudioUnitParameterID)));
  return ids;
}

std::vector<ParameterEntry> SurveyParameters(const host::UnitInstance& unit, AudioUnitScope scope) {
  OSStatus status = noErr;
  std::vector<ParameterEntry> parameters;
  for (AudioUnitParameterID id : ParameterIds(unit, scope, status)) {
    ParameterEntry entry{id, {}};
    if (unit.Get(kAudioUnitProperty_ParameterInfo, scope, id, entry.info) != noErr) continue;
    if ((entry.info.flags & kAudioUnitParameterFlag_CFNameRelease) != 0 &&
        entry.info.cfNameString != nullptr) {
      CFRelease(entry.info.cfNameString);
    }
    entry.info.cfNameString = nullptr;
    parameters.push_back(entry);
  }
  return parameters;
}

bool IsReadable(const AudioUnitParameterInfo& info) {
  return (info.flags & kAudioUnitParameterFlag_IsReadable) != 0;
}

bool IsWritable(const AudioUnitParameterInfo& info) {
  return (info.flags & kAudioUnitParameterFlag_IsWritable) != 0;
}

bool IsMeter(const AudioUnitParameterInfo& info) {
  return (info.flags & kAudioUnitParameterFlag_MeterReadOnly) != 0;
}

Float32 ValueAt(const AudioUnitParameterInfo& info, double fraction) {
  const double value = info.minValue + (static_cast<double>(info.maxValue) - info.minValue) * fraction;
  return static_cast<Float32>(info.unit == kAudioUnitParameterUnit_Indexed ? std::round(value) : value);
}

void SetWritable(host::UnitInstance& unit, const std::vector<ParameterEntry>& parameters, double fraction,
                 AudioUnitScope scope) {
  for (const ParameterEntry& p : parameters) {
    if (IsWritable(p.info)) unit.SetParameter(p.id, scope, 0, ValueAt(p.info, fraction));
  }
}

}  // namespace varsile::validate
