// Parameters as a host's generic editor meets them: the lists, each
// parameter's information (range, default, names, flags), its initial value,
// value strings for indexed parameters, clump names, sets that read back,
// and the refusals for parameters that do not exist.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "CFValues.h"
#include "Checks.h"
#include "ParameterCatalogue.h"
#include "ParameterSurvey.h"
#include "Text.h"

namespace varsile::validate {

namespace {

constexpr Float32 kSentinel = -123456.75f;

// Spelled as the report always has, where the listings' names differ.
std::string UnitText(AudioUnitParameterUnit unit) {
  if (unit == kAudioUnitParameterUnit_SampleFrames) return "frames";
  const std::string_view name = host::UnitName(unit);
  return name == "other" ? "unit " + std::to_string(static_cast<UInt32>(unit)) : std::string(name);
}

bool IsWhole(Float32 value) {
  return std::isfinite(value) && std::trunc(value) == value;
}

class ParameterCheck {
 public:
  ParameterCheck(Report& report, host::UnitInstance& unit, AudioUnitScope scope, AudioUnitParameterID id)
      : mReport(report), mUnit(unit), mScope(scope), mId(id) {}

  // Everything but sets, so that sets of one parameter (which may move
  // others) do not disturb the initial values of the next. Adds the
  // parameter's clump to clumps.
  void Inspect(std::map<UInt32, std::vector<AudioUnitParameterID>>& clumps) {
    const OSStatus status = mUnit.Get(kAudioUnitProperty_ParameterInfo, mScope, mId, mInfo);
    if (status != noErr) {
      Fail("its information: " + StatusText(status));
      return;
    }
    mHasInfo = true;
    CFRef<CFStringRef> releasedName;
    if ((mInfo.flags & kAudioUnitParameterFlag_CFNameRelease) != 0) releasedName.Reset(mInfo.cfNameString);
    mName = std::string(mInfo.name, strnlen(mInfo.name, sizeof mInfo.name));

    CheckNames(mInfo);
    CheckRange(mInfo);
    CheckInitialValue(mInfo);
    if (mInfo.unit == kAudioUnitParameterUnit_Indexed) CheckValueStrings(mInfo);
    if ((mInfo.flags & kAudioUnitParameterFlag_HasClump) != 0 && mInfo.clumpID != kAudioUnitClumpID_System) {
      clumps[mInfo.clumpID].push_back(mId);
      mSummary += ", clump " + std::to_string(mInfo.clumpID);
    }
  }

  void SetAndFinish() {
    if (mHasInfo && IsWritable(mInfo)) CheckSets(mInfo);
    if (mFailures == 0) mReport.Pass(Name(), mSummary);
  }

 private:
  std::string Name() const {
    return "parameter " + ScopeText(mScope) + " #" + std::to_string(mId) +
           (mName.empty() ? "" : " \"" + mName + "\"");
  }

  void Fail(const std::string& text) {
    ++mFailures;
    mReport.Fail(Name(), text);
  }

  void CheckNames(const AudioUnitParameterInfo& info) {
    if (std::memchr(info.name, '\0', sizeof info.name) == nullptr) {
      Fail("the C-string name has no terminator");
    }
    if (mName.empty()) Fail("the C-string name is empty");
    if ((info.flags & kAudioUnitParameterFlag_HasCFNameString) == 0) return;
    if (!IsString(info.cfNameString)) {
      Fail("flagged as having a string name, but cfNameString is not a string");
      return;
    }
    const std::string cfName = host::ToStdString(info.cfNameString);
    if (cfName.empty()) Fail("the string name is empty");
    // The C string is the name, cut to fit when it is longer than the field.
    const bool fits = cfName.size() < sizeof info.name;
    if (fits ? cfName != mName : cfName.compare(0, mName.size(), mName) != 0) {
      Fail("the C-string name \"" + mName + "\" is not the string name \"" + cfName + "\"");
    }
  }

  void CheckRange(const AudioUnitParameterInfo& info) {
    const bool finite =
        std::isfinite(info.minValue) && std::isfinite(info.maxValue) && std::isfinite(info.defaultValue);
    const std::string range = FloatText(info.minValue) + ".." + FloatText(info.maxValue) + ", default " +
                              FloatText(info.defaultValue);
    mSummary = UnitText(info.unit) + " " + range;
    if (!finite) Fail("range or default not finite: " + range);
    if (!(info.minValue <= info.defaultValue && info.defaultValue <= info.maxValue)) {
      Fail("not min <= default <= max: " + range);
    }
    if (info.unit == kAudioUnitParameterUnit_Indexed &&
        (!IsWhole(info.minValue) || !IsWhole(info.maxValue))) {
      Fail("indexed, but the range is not whole numbers: " + range);
    }
  }

  void CheckInitialValue(const AudioUnitParameterInfo& info) {
    if (!IsReadable(info)) return;
    Float32 value = kSentinel;
    const OSStatus status = mUnit.GetParameter(mId, mScope, 0, value);
    const bool meter = (info.flags & kAudioUnitParameterFlag_MeterReadOnly) != 0;
    if (status != noErr) {
      Fail("reading its value: " + StatusText(status));
    } else if (value == kSentinel) {
      // A meter with nothing to measure yet may leave the value alone.
      if (!meter) Fail("reading its value answered noErr but wrote no value");
      mSummary += ", meter (no reading before initialization)";
    } else if (meter) {
      mSummary += ", meter reads " + FloatText(value);
    } else if (value != info.defaultValue) {
      Fail("initial value " + FloatText(value) + " is not the default " + FloatText(info.defaultValue));
    } else {
      mSummary += " = initial value";
    }
  }

  void CheckValueStrings(const AudioUnitParameterInfo& info) {
    const PropertyInfo stringsInfo = mUnit.Info(kAudioUnitProperty_ParameterValueStrings, mScope, mId);
    if (stringsInfo.status != noErr || stringsInfo.size != sizeof(CFArrayRef)) {
      Fail("indexed, but its value strings: info " + StatusText(stringsInfo.status) + ", " +
           std::to_string(stringsInfo.size) + " bytes");
      return;
    }
    CFRef<CFArrayRef> strings;
    const OSStatus status =
        mUnit.Get(kAudioUnitProperty_ParameterValueStrings, mScope, mId, *strings.Receive());
    if (status != noErr || !IsArray(strings.Get())) {
      Fail("its value strings: " + StatusText(status) + (status == noErr ? ", not an array" : ""));
      return;
    }
    const CFIndex count = CFArrayGetCount(strings.Get());
    const double expected = static_cast<double>(info.maxValue) - static_cast<double>(info.minValue) + 1.0;
    if (static_cast<double>(count) != expected) {
      Fail(std::to_string(count) + " value strings for the range " + FloatText(info.minValue) + ".." +
           FloatText(info.maxValue) + ", which has " + FloatText(expected) + " values");
    }
    std::string first;
    std::string last;
    for (CFIndex i = 0; i < count; ++i) {
      const auto entry = static_cast<CFStringRef>(CFArrayGetValueAtIndex(strings.Get(), i));
      const std::string text = host::ToStdString(entry);
      if (!IsString(entry) || text.empty()) {
        Fail("value string " + std::to_string(i) + " is not a non-empty string");
        return;
      }
      (i == 0 ? first : last) = text;
    }
    mSummary += ", " + std::to_string(count) + " value strings (\"" + first + "\" .. \"" + last + "\")";
  }

  // The extremes and the default, each read back as set.
  void CheckSets(const AudioUnitParameterInfo& info) {
    for (Float32 value : {info.minValue, info.maxValue, info.defaultValue}) {
      const OSStatus set = mUnit.SetParameter(mId, mScope, 0, value);
      Float32 read = kSentinel;
      const OSStatus get = mUnit.GetParameter(mId, mScope, 0, read);
      if (set != noErr || get != noErr || read != value) {
        Fail("set to " + FloatText(value) + ": " + StatusText(set) + ", read back " + StatusText(get) + " " +
             FloatText(read));
        return;
      }
    }
    mSummary += ", min/max/default read back";
  }

  Report& mReport;
  host::UnitInstance& mUnit;
  AudioUnitScope mScope;
  AudioUnitParameterID mId;
  AudioUnitParameterInfo mInfo{};
  bool mHasInfo = false;
  std::string mName;
  std::string mSummary;
  int mFailures = 0;
};

void CheckClumps(Report& report, host::UnitInstance& unit,
                 const std::map<UInt32, std::vector<AudioUnitParameterID>>& clumps) {
  for (const auto& [clump, members] : clumps) {
    std::string ids;
    for (AudioUnitParameterID id : members) ids += (ids.empty() ? "" : ", ") + std::to_string(id);
    AudioUnitParameterNameInfo request{clump, -1, nullptr};
    const OSStatus status =
        unit.Get(kAudioUnitProperty_ParameterClumpName, kAudioUnitScope_Global, 0, request);
    CFRef<CFStringRef> name(status == noErr ? request.outName : nullptr);
    const std::string text = host::ToStdString(name.Get());
    report.Check(status == noErr && IsString(name.Get()) && !text.empty(), "clump " + std::to_string(clump),
                 status == noErr ? "\"" + text + "\", used by parameters " + ids
                                 : "no name: " + StatusText(status) + ", used by parameters " + ids);
  }
  if (clumps.empty()) report.Pass("clumps", "no parameter names a clump");
}

void CheckMissingParameters(Report& report, host::UnitInstance& unit,
                            const std::vector<AudioUnitParameterID>& ids) {
  const AudioUnitParameterID absent = ids.empty() ? 0 : *std::max_element(ids.begin(), ids.end()) + 1;
  AudioUnitParameterInfo info{};
  const OSStatus infoStatus =
      unit.Get(kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, absent, info);
  if (infoStatus == noErr && (info.flags & kAudioUnitParameterFlag_CFNameRelease) != 0 && info.cfNameString) {
    CFRelease(info.cfNameString);
  }
  Float32 value = kSentinel;
  const OSStatus getStatus = unit.GetParameter(absent, kAudioUnitScope_Global, 0, value);
  report.Check(infoStatus == kAudioUnitErr_InvalidParameter && getStatus == kAudioUnitErr_InvalidParameter,
               "absent-parameter",
               "parameter " + std::to_string(absent) + " (not listed): information " +
                   StatusText(infoStatus) + ", value " + StatusText(getStatus));

  const AudioUnitParameterID listed = ids.empty() ? 0 : ids.front();
  const OSStatus badScope = unit.GetParameter(listed, 5, 0, value);
  const OSStatus badElement = unit.GetParameter(listed, kAudioUnitScope_Global, 7, value);
  const OSStatus noOutput = AudioUnitGetParameter(unit.Get(), listed, kAudioUnitScope_Global, 0, nullptr);
  report.Check(badScope == kAudioUnitErr_InvalidScope && badElement == kAudioUnitErr_InvalidElement &&
                   noOutput == kAudio_ParamError,
               "parameter-refusals",
               "value of #" + std::to_string(listed) + " in scope 5: " + StatusText(badScope) +
                   "; in global element 7: " + StatusText(badElement) +
                   "; without an output: " + StatusText(noOutput));
}

// The fast parameter entries the unit hands out agree with the selectors.
void CheckFastParameters(Report& report, host::UnitInstance& unit) {
  AudioUnitGetParameterProc fastGet = nullptr;
  AudioUnitSetParameterProc fastSet = nullptr;
  const OSStatus getStatus = unit.Get(kAudioUnitProperty_FastDispatch, kAudioUnitScope_Global,
                                      kAudioUnitGetParameterSelect, fastGet);
  const OSStatus setStatus = unit.Get(kAudioUnitProperty_FastDispatch, kAudioUnitScope_Global,
                                      kAudioUnitSetParameterSelect, fastSet);
  if (getStatus != noErr || setStatus != noErr || fastGet == nullptr || fastSet == nullptr) {
    report.Pass("fast-dispatch", "no fast parameter entries offered (" + StatusText(getStatus) + ", " +
                                     StatusText(setStatus) + ")");
    return;
  }
  void* storage = GetComponentInstanceStorage(unit.Get());
  std::string wrong;
  std::size_t compared = 0;
  for (const ParameterEntry& p : SurveyParameters(unit)) {
    if (!IsReadable(p.info) || IsMeter(p.info)) continue;
    Float32 slow = kSentinel;
    Float32 fast = kSentinel;
    unit.GetParameter(p.id, kAudioUnitScope_Global, 0, slow);
    const OSStatus read = fastGet(storage, p.id, kAudioUnitScope_Global, 0, &fast);
    if (read != noErr || std::memcmp(&slow, &fast, sizeof slow) != 0) {
      wrong += " #" + std::to_string(p.id) + " fast get " + StatusText(read) + " " + FloatText(fast) +
               ", selector " + FloatText(slow) + ";";
    }
    ++compared;
    if (!IsWritable(p.info)) continue;
    const Float32 value = ValueAt(p.info, 0.25);
    const OSStatus written = fastSet(storage, p.id, kAudioUnitScope_Global, 0, value, 0);
    unit.GetParameter(p.id, kAudioUnitScope_Global, 0, slow);
    if (written != noErr || slow != value) {
      wrong += " #" + std::to_string(p.id) + " fast set " + StatusText(written) + ", selector reads " +
               FloatText(slow) + ";";
    }
  }
  const OSStatus noOutput = fastGet(storage, 0, kAudioUnitScope_Global, 0, nullptr);
  if (noOutput != kAudio_ParamError) {
    wrong += " a fast get without an output answers " + StatusText(noOutput) + ";";
  }
  report.CheckNone("fast-dispatch", wrong,
                   "the fast get and set entries agree with the selectors on " + std::to_string(compared) +
                       " parameters; a fast get without an output is refused");
}

}  // namespace

void CheckParameters(Report& report, const Target& target) {
  auto unit = OpenUnit(report, target);
  std::map<UInt32, std::vector<AudioUnitParameterID>> clumps;
  std::vector<AudioUnitParameterID> globalIds;
  for (AudioUnitScope scope : {kAudioUnitScope_Global, kAudioUnitScope_Input, kAudioUnitScope_Output}) {
    OSStatus status = noErr;
    const std::vector<AudioUnitParameterID> ids = ParameterIds(*unit, scope, status);
    const std::set<AudioUnitParameterID> distinct(ids.begin(), ids.end());
    report.Check(status == noErr && distinct.size() == ids.size(), "list " + ScopeText(scope),
                 status != noErr ? "the parameter list: " + StatusText(status)
                                 : std::to_string(ids.size()) + " parameters" +
                                       (distinct.size() == ids.size() ? "" : ", some listed twice"));
    std::vector<ParameterCheck> checks;
    for (AudioUnitParameterID id : distinct) checks.emplace_back(report, *unit, scope, id);
    for (ParameterCheck& check : checks) check.Inspect(clumps);
    for (ParameterCheck& check : checks) check.SetAndFinish();
    if (scope == kAudioUnitScope_Global) globalIds = ids;
  }
  CheckClumps(report, *unit, clumps);
  CheckMissingParameters(report, *unit, globalIds);
  CheckFastParameters(report, *unit);
}

}  // namespace varsile::validate
