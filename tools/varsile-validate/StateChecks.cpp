// The saved state as a host keeps it in documents and presets: what the
// dictionary holds; save, restore into a fresh instance, save again and
// compare byte for byte; restore while initialized; dictionaries of another
// component or version refused; damaged dictionaries survived; and no value
// left alive afterwards.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

#include "CFValues.h"
#include "Checks.h"
#include "ParameterCatalogue.h"
#include "ParameterSurvey.h"
#include "Text.h"

namespace varsile::validate {

namespace {

// Values of the parameters the state carries for sure: readable, not meters.
std::vector<Float32> Values(host::UnitInstance& unit, const std::vector<ParameterEntry>& parameters) {
  std::vector<Float32> values;
  for (const ParameterEntry& p : parameters) {
    Float32 value = 0.0f;
    if (!IsReadable(p.info) || IsMeter(p.info)) continue;
    unit.GetParameter(p.id, kAudioUnitScope_Global, 0, value);
    values.push_back(value);
  }
  return values;
}

std::string ValuesDifference(const std::vector<ParameterEntry>& parameters,
                             const std::vector<Float32>& expected, const std::vector<Float32>& actual) {
  std::size_t k = 0;
  for (const ParameterEntry& p : parameters) {
    if (!IsReadable(p.info) || IsMeter(p.info)) continue;
    if (k < expected.size() && k < actual.size() &&
        std::memcmp(&expected[k], &actual[k], sizeof(Float32)) != 0) {
      return "parameter #" + std::to_string(p.id) + " is " + FloatText(actual[k]) + ", not " +
             FloatText(expected[k]);
    }
    ++k;
  }
  return {};
}

CFRef<CFPropertyListRef> Save(host::UnitInstance& unit, OSStatus& status) {
  CFRef<CFPropertyListRef> state;
  status = unit.Get(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, *state.Receive());
  if (status != noErr) state.Reset();
  return state;
}

OSStatus Restore(host::UnitInstance& unit, CFPropertyListRef state) {
  return unit.Set(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, state);
}

CFTypeRef Value(CFPropertyListRef dictionary, const char* key) {
  if (!IsDictionary(dictionary)) return nullptr;
  return CFDictionaryGetValue(static_cast<CFDictionaryRef>(dictionary), MakeString(key).Get());
}

// A dictionary's keys and values, in the same order.
std::pair<std::vector<const void*>, std::vector<const void*>> Entries(CFDictionaryRef dictionary) {
  const auto count = static_cast<std::size_t>(CFDictionaryGetCount(dictionary));
  std::pair<std::vector<const void*>, std::vector<const void*>> entries{count, count};
  CFDictionaryGetKeysAndValues(dictionary, entries.first.data(), entries.second.data());
  return entries;
}

std::vector<std::string> Keys(CFDictionaryRef dictionary) {
  const auto entries = Entries(dictionary);
  std::vector<std::string> names;
  for (const void* key : entries.first) names.push_back(host::ToStdString(static_cast<CFStringRef>(key)));
  std::sort(names.begin(), names.end());
  return names;
}

// The first way two saved states differ, or "".
std::string StateDifference(CFPropertyListRef a, CFPropertyListRef b) {
  if (!IsDictionary(a) || !IsDictionary(b)) return "not both dictionaries";
  const auto first = static_cast<CFDictionaryRef>(a);
  const auto second = static_cast<CFDictionaryRef>(b);
  const std::vector<std::string> keys = Keys(first);
  if (keys != Keys(second)) return "the keys differ";
  for (const std::string& key : keys) {
    const CFTypeRef x = Value(first, key.c_str());
    const CFTypeRef y = Value(second, key.c_str());
    if (IsData(x) && IsData(y)) {
      const auto dx = static_cast<CFDataRef>(x);
      const auto dy = static_cast<CFDataRef>(y);
      const CFIndex length = CFDataGetLength(dx);
      if (length != CFDataGetLength(dy)) {
        return "\"" + key + "\" has " + std::to_string(length) + " bytes, then " +
               std::to_string(CFDataGetLength(dy));
      }
      const UInt8* px = CFDataGetBytePtr(dx);
      const UInt8* py = CFDataGetBytePtr(dy);
      for (CFIndex i = 0; i < length; ++i) {
        if (px[i] != py[i]) return "\"" + key + "\" differs at byte " + std::to_string(i);
      }
    } else if (!CFEqual(x, y)) {
      return "\"" + key + "\" differs";
    }
  }
  return {};
}

// Saves the unit's state again: the first way it differs from expected, or
// the status that refused the save.
std::string ResaveDifference(host::UnitInstance& unit, CFPropertyListRef expected) {
  OSStatus status = noErr;
  const CFRef<CFPropertyListRef> again = Save(unit, status);
  return status == noErr ? StateDifference(expected, again.Get()) : StatusText(status);
}

// A copy of a saved state with one key replaced (or added); a null value
// removes the key.
CFRef<CFMutableDictionaryRef> Altered(CFPropertyListRef state, const char* key, CFTypeRef value) {
  CFRef<CFMutableDictionaryRef> copy(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                               &kCFTypeDictionaryValueCallBacks));
  const auto [keys, values] = Entries(static_cast<CFDictionaryRef>(state));
  for (std::size_t i = 0; i < keys.size(); ++i) CFDictionarySetValue(copy.Get(), keys[i], values[i]);
  const CFRef<CFStringRef> name = MakeString(key);
  if (value != nullptr) {
    CFDictionarySetValue(copy.Get(), name.Get(), value);
  } else {
    CFDictionaryRemoveValue(copy.Get(), name.Get());
  }
  return copy;
}

CFRef<CFNumberRef> Number(SInt32 value) {
  return CFRef<CFNumberRef>(CFNumberCreate(nullptr, kCFNumberSInt32Type, &value));
}

bool NumberIs(CFTypeRef value, SInt32 expected) {
  SInt32 number = 0;
  return IsNumber(value) && CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &number) &&
         number == expected;
}

void CheckContents(Report& report, const Target& target, host::UnitInstance& unit) {
  const PropertyInfo info = unit.Info(kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0);
  report.Require(info.status == noErr && info.size == sizeof(CFPropertyListRef) && info.writable, "info",
                 "class info: " + StatusText(info.status) + ", " + std::to_string(info.size) + " bytes, " +
                     (info.writable ? "writable" : "read-only"));
  OSStatus status = noErr;
  const CFRef<CFPropertyListRef> state = Save(unit, status);
  report.Require(status == noErr && IsDictionary(state.Get()), "save",
                 "saving a fresh instance: " + StatusText(status) +
                     (status == noErr && !IsDictionary(state.Get()) ? ", not a dictionary" : ""));
  const AudioComponentDescription& d = target.description;
  std::string wrong;
  const std::array<std::tuple<const char*, UInt32, const char*>, 4> numbers{{
      {"version", 0, "the number 0"},
      {"type", d.componentType, "the type"},
      {"subtype", d.componentSubType, "the subtype"},
      {"manufacturer", d.componentManufacturer, "the manufacturer"},
  }};
  for (const auto& [key, expected, what] : numbers) {
    if (!NumberIs(Value(state.Get(), key), static_cast<SInt32>(expected))) {
      wrong += std::string(" \"") + key + "\" is not " + what + ";";
    }
  }
  const CFTypeRef data = Value(state.Get(), "data");
  if (!IsData(data)) wrong += " \"data\" is not byte data;";
  const CFTypeRef name = Value(state.Get(), "name");
  if (!IsString(name)) wrong += " \"name\" is not a string;";
  std::string keys;
  for (const std::string& key : Keys(static_cast<CFDictionaryRef>(state.Get()))) {
    keys += (keys.empty() ? "" : ", ") + key;
  }
  report.Check(wrong.empty(), "contents",
               wrong.empty()
                   ? "keys " + keys + "; \"data\" " +
                         std::to_string(CFDataGetLength(static_cast<CFDataRef>(data))) +
                         " bytes; \"name\" \"" + host::ToStdString(static_cast<CFStringRef>(name)) + "\""
                   : "keys " + keys + ";" + wrong);

  report.CheckNone("stable", ResaveDifference(unit, state.Get()), "two saves in a row are identical");
}

void CheckRoundTrip(Report& report, const Target& target) {
  const CFIndex before = CFLiveObjectCount();
  {
    auto source = OpenUnit(report, target);
    const std::vector<ParameterEntry> parameters = SurveyParameters(*source);
    SetWritable(*source, parameters, 0.37);
    const std::vector<Float32> wanted = Values(*source, parameters);
    OSStatus status = noErr;
    const CFRef<CFPropertyListRef> saved = Save(*source, status);
    RequireNoErr(report, status, "round-trip", "saving the changed instance");

    auto fresh = OpenUnit(report, target);
    const OSStatus restored = Restore(*fresh, saved.Get());
    const std::string values = ValuesDifference(parameters, wanted, Values(*fresh, parameters));
    const std::string difference = ResaveDifference(*fresh, saved.Get());
    report.Check(restored == noErr && values.empty() && difference.empty(), "round-trip",
                 "save with changed parameters, restore into a fresh instance: " + StatusText(restored) +
                     "; " + (values.empty() ? "every parameter restored" : values) + "; saved again: " +
                     (difference.empty() ? "identical, \"data\" byte for byte" : difference));

    const PropertyInfo presetInfo = fresh->Info(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0);
    if (presetInfo.status == noErr) {
      AUPreset preset{};
      const OSStatus get = fresh->Get(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, preset);
      CFRef<CFStringRef> presetName(get == noErr ? preset.presetName : nullptr);
      const CFTypeRef savedName = Value(saved.Get(), "name");
      report.Check(get == noErr && presetName && CFEqual(presetName.Get(), savedName), "preset-name",
                   "after the restore the present preset is \"" + host::ToStdString(presetName.Get()) +
                       "\" (" + StatusText(get) + "), the state's name \"" +
                       host::ToStdString(static_cast<CFStringRef>(savedName)) + "\"");
    }

    auto initialized = OpenConfigured(report, target, 44100.0, 2);
    const OSStatus live = Restore(*initialized, saved.Get());
    const std::string liveValues = ValuesDifference(parameters, wanted, Values(*initialized, parameters));
    const std::string liveDifference = ResaveDifference(*initialized, saved.Get());
    report.Check(live == noErr && liveValues.empty() && liveDifference.empty(), "round-trip-initialized",
                 "restore into an initialized instance: " + StatusText(live) + "; " +
                     (liveValues.empty() ? "every parameter restored" : liveValues) +
                     "; saved again: " + (liveDifference.empty() ? "identical" : liveDifference));
  }
  const CFIndex after = CFLiveObjectCount();
  report.Check(after == before, "round-trip-released",
               std::to_string(before) + " property-list values alive before the round trips, " +
                   std::to_string(after) + " after the instances closed");
}

void CheckRefusals(Report& report, const Target& target) {
  auto unit = OpenUnit(report, target);
  const std::vector<ParameterEntry> parameters = SurveyParameters(*unit);
  OSStatus status = noErr;
  const CFRef<CFPropertyListRef> saved = Save(*unit, status);
  RequireNoErr(report, status, "refusals", "saving");
  SetWritable(*unit, parameters, 0.37);
  const std::vector<Float32> values = Values(*unit, parameters);
  const AudioComponentDescription& d = target.description;

  const CFRef<CFStringRef> notDictionary = MakeString("not a state");
  const CFRef<CFNumberRef> otherManufacturer = Number(static_cast<SInt32>(d.componentManufacturer ^ 0x20));
  const CFRef<CFNumberRef> otherSubtype = Number(static_cast<SInt32>(d.componentSubType ^ 0x20));
  const CFRef<CFNumberRef> otherVersion = Number(1);
  CFRef<CFMutableDictionaryRef> part(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                               &kCFTypeDictionaryValueCallBacks));
  const auto manufacturer = Altered(saved.Get(), "manufacturer", otherManufacturer.Get());
  const auto subtype = Altered(saved.Get(), "subtype", otherSubtype.Get());
  const auto version = Altered(saved.Get(), "version", otherVersion.Get());
  const auto noVersion = Altered(saved.Get(), "version", nullptr);
  const auto withPart = Altered(saved.Get(), "part", part.Get());

  const std::array<std::pair<const char*, CFPropertyListRef>, 6> refused{{
      {"not-a-dictionary", notDictionary.Get()},
      {"other-manufacturer", manufacturer.Get()},
      {"other-subtype", subtype.Get()},
      {"other-version", version.Get()},
      {"no-version", noVersion.Get()},
      {"with-part", withPart.Get()},
  }};
  for (const auto& [name, state] : refused) {
    const OSStatus restored = Restore(*unit, state);
    const std::string changed = ValuesDifference(parameters, values, Values(*unit, parameters));
    report.Check(
        restored == kAudioUnitErr_InvalidPropertyValue && changed.empty(), std::string("refuse ") + name,
        "restore: " + StatusText(restored) + (changed.empty() ? ", parameters unchanged" : ", " + changed));
  }
}

// Damaged states: the restore may refuse them or take what it can, but must
// not read past the data, and the instance must go on working.
void CheckDamaged(Report& report, const Target& target) {
  auto unit = OpenUnit(report, target);
  OSStatus status = noErr;
  const CFRef<CFPropertyListRef> saved = Save(*unit, status);
  RequireNoErr(report, status, "damaged", "saving");
  const auto data = static_cast<CFDataRef>(Value(saved.Get(), "data"));
  const CFIndex length = IsData(data) ? CFDataGetLength(data) : 0;
  const UInt8* bytes = IsData(data) ? CFDataGetBytePtr(data) : nullptr;

  const auto cut = [&](CFIndex keep) {
    return CFRef<CFDataRef>(CFDataCreate(nullptr, bytes, std::clamp<CFIndex>(keep, 0, length)));
  };
  // One record claiming far more values than follow it.
  const std::array<UInt8, 20> overlong{0,    0,    0, 0, 0, 0, 0,    0,    0x7F, 0xFF,
                                       0xFF, 0xFF, 0, 0, 0, 0, 0x3F, 0x80, 0,    0};
  // A record for an element that does not exist.
  const std::array<UInt8, 20> absent{0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 0, 0x3F, 0x80, 0, 0};
  const CFRef<CFDataRef> cuts[] = {cut(10), cut(length - 3), cut(length / 2 + 1)};
  const CFRef<CFDataRef> overlongData(CFDataCreate(nullptr, overlong.data(), overlong.size()));
  const CFRef<CFDataRef> absentData(CFDataCreate(nullptr, absent.data(), absent.size()));
  const CFRef<CFStringRef> text = MakeString("not data");
  const CFRef<CFNumberRef> number = Number(7);

  const std::array<std::tuple<const char*, const char*, CFTypeRef>, 8> damaged{{
      {"data-cut-to-10-bytes", "data", cuts[0].Get()},
      {"data-3-bytes-short", "data", cuts[1].Get()},
      {"data-cut-in-half", "data", cuts[2].Get()},
      {"data-count-too-large", "data", overlongData.Get()},
      {"data-absent-element", "data", absentData.Get()},
      {"data-not-data", "data", text.Get()},
      {"name-not-string", "name", number.Get()},
      {"element-name-not-dictionary", "element-name", number.Get()},
  }};
  for (const auto& [name, key, value] : damaged) {
    const auto state = Altered(saved.Get(), key, value);
    const OSStatus restored = Restore(*unit, state.Get());
    OSStatus again = noErr;
    const CFRef<CFPropertyListRef> after = Save(*unit, again);
    report.Check(again == noErr && IsDictionary(after.Get()), std::string("survive ") + name,
                 "restore answered " + StatusText(restored) + "; saving afterwards: " + StatusText(again));
  }
  const OSStatus healed = Restore(*unit, saved.Get());
  report.Check(healed == noErr, "restore-after-damage", "the good state again: " + StatusText(healed));
}

}  // namespace

void CheckState(Report& report, const Target& target) {
  {
    auto unit = OpenUnit(report, target);
    CheckContents(report, target, *unit);
  }
  CheckRoundTrip(report, target);
  CheckRefusals(report, target);
  CheckDamaged(report, target);
}

}  // namespace varsile::validate
