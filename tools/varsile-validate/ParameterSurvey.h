// The parameters of a unit as the checks need them: ids, information with
// any name reference already released, and values inside each range.
#pragma once

#include <AudioUnit/AudioUnit.h>

#include <vector>

#include "UnitInstance.h"

namespace varsile::validate {

using host::PropertyInfo;

struct ParameterEntry {
  AudioUnitParameterID id = 0;
  AudioUnitParameterInfo info{};  // cfNameString cleared: it may be gone
};

// The scope's parameter list; status is that of the info query or the get.
std::vector<AudioUnitParameterID> ParameterIds(const host::UnitInstance& unit, AudioUnitScope scope,
                                               OSStatus& status);
// Every listed parameter of the scope whose information can be read.
std::vector<ParameterEntry> SurveyParameters(const host::UnitInstance& unit,
                                             AudioUnitScope scope = kAudioUnitScope_Global);

bool IsReadable(const AudioUnitParameterInfo& info);
bool IsWritable(const AudioUnitParameterInfo& info);
bool IsMeter(const AudioUnitParameterInfo& info);
// The value a fraction of the way from min to max; a whole number for an
// indexed parameter.
Float32 ValueAt(const AudioUnitParameterInfo& info, double fraction);
// Sets every writable parameter to ValueAt(fraction), so that a unit's
// output and state differ from its defaults.
void SetWritable(host::UnitInstance& unit, const std::vector<ParameterEntry>& parameters, double fraction,
                 AudioUnitScope scope = kAudioUnitScope_Global);

}  // namespace varsile::validate
