// Every property a host may ask for, in every scope, as a careful host asks:
// the info query, a size query, a get with the size the info reports, with a
// larger and a smaller buffer, and sets: a read-only property refuses one, a
// writable one takes back its own value. Then the buffer protocol's refusals
// and an unknown id.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <set>
#include <vector>

#include "CFValues.h"
#include "Checks.h"
#include "ParameterCatalogue.h"
#include "ParameterSurvey.h"
#include "PropertyCatalogue.h"
#include "Text.h"

namespace varsile::validate {

namespace {

constexpr std::array<AudioUnitScope, 6> kScopes{kAudioUnitScope_Global, kAudioUnitScope_Input,
                                                kAudioUnitScope_Output, kAudioUnitScope_Group,
                                                kAudioUnitScope_Part,   5};
constexpr std::byte kGuard{0xA5};
constexpr UInt32 kGuardBytes = 32;

// The statuses with which a property request may be refused.
bool IsPropertyRefusal(OSStatus status) {
  switch (status) {
    case kAudioUnitErr_InvalidProperty:
    case kAudioUnitErr_InvalidScope:
    case kAudioUnitErr_InvalidElement:
    case kAudioUnitErr_InvalidPropertyValue:
    case kAudioUnitErr_InvalidParameter:
    case kAudioUnitErr_PropertyNotWritable:
    case kAudioUnitErr_Initialized:
    case kAudioUnitErr_Uninitialized:
      return true;
    default:
      return false;
  }
}

bool ScopeAllowed(ScopeRule rule, AudioUnitScope scope) {
  switch (rule) {
    case ScopeRule::Any:
      return true;
    case ScopeRule::GlobalOnly:
      return scope == kAudioUnitScope_Global;
    case ScopeRule::GlobalOrInput:
      return scope == kAudioUnitScope_Global || scope == kAudioUnitScope_Input;
    case ScopeRule::InputOrOutput:
      return scope == kAudioUnitScope_Input || scope == kAudioUnitScope_Output;
  }
  return true;
}

std::string Where(AudioUnitScope scope, AudioUnitElement element) {
  return ScopeText(scope) + "/" +
         (element == 0xFFFFFFFF ? std::string("0xFFFFFFFF") : std::to_string(element));
}

template <typename T>
T ReadAt(const std::vector<std::byte>& bytes, std::size_t offset) {
  T value{};
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

// Releases what a value read from the property hands to the caller.
void ReleaseHeld(Payload payload, const std::vector<std::byte>& value, UInt32 size) {
  const auto release = [](CFTypeRef ref) {
    if (ref != nullptr) CFRelease(ref);
  };
  switch (payload) {
    case Payload::Reference:
      if (size >= sizeof(CFTypeRef)) release(ReadAt<CFTypeRef>(value, 0));
      break;
    case Payload::ParameterInfo:
      if (size >= sizeof(AudioUnitParameterInfo)) {
        const auto info = ReadAt<AudioUnitParameterInfo>(value, 0);
        if ((info.flags & kAudioUnitParameterFlag_CFNameRelease) != 0) release(info.cfNameString);
      }
      break;
    case Payload::ClumpName:
      if (size >= sizeof(AudioUnitParameterNameInfo)) release(ReadAt<CFTypeRef>(value, 8));
      break;
    case Payload::Preset:
      if (size >= sizeof(AUPreset)) release(ReadAt<CFTypeRef>(value, 8));
      break;
    case Payload::Plain:
    case Payload::SetOnly:
      break;
  }
}

// What the checks of one property found, over every scope and both states.
struct Ledger {
  std::vector<std::string> failures;
  std::vector<std::string> available;
  std::set<OSStatus> refusals;
};

// True when nothing was written into the guard bytes from offset on.
bool GuardIntact(const std::vector<std::byte>& buffer, std::size_t offset) {
  return std::all_of(buffer.begin() + offset, buffer.end(), [](std::byte b) { return b == kGuard; });
}

class PropertyWalk {
 public:
  PropertyWalk(host::UnitInstance& unit, bool initialized, AudioUnitParameterID parameter, UInt32 clump)
      : mUnit(unit), mInitialized(initialized), mParameter(parameter), mClump(clump) {}

  void Walk(const PropertyTraits& traits, Ledger& ledger) {
    for (AudioUnitScope scope : kScopes) {
      for (AudioUnitElement element : Elements(traits)) Probe({traits, scope, element, ledger});
    }
  }

 private:
  // One property in one scope and element, and where its findings go.
  struct Spot {
    const PropertyTraits& traits;
    AudioUnitScope scope;
    AudioUnitElement element;
    Ledger& ledger;
  };

  std::vector<AudioUnitElement> Elements(const PropertyTraits& traits) const {
    switch (traits.element) {
      case ElementMeaning::ParameterId:
        return {mParameter, 0xFFFFFFFF};
      case ElementMeaning::Selector:
        return {kAudioUnitGetParameterSelect, kAudioUnitSetParameterSelect, kAudioUnitRenderSelect,
                kAudioUnitResetSelect};
      case ElementMeaning::Element:
        break;
    }
    return {0, 1};
  }

  void Fail(const Spot& at, const std::string& text) const {
    at.ledger.failures.push_back(std::string(mInitialized ? "initialized, " : "") +
                                 Where(at.scope, at.element) + ": " + text);
  }
  OSStatus Get(const Spot& at, void* data, UInt32& size) const {
    return mUnit.GetBytes(at.traits.id, at.scope, at.element, data, size);
  }
  OSStatus Set(const Spot& at, const void* data, UInt32 size) const {
    return mUnit.SetBytes(at.traits.id, at.scope, at.element, data, size);
  }

  // A value buffer with guard bytes after the value; input fields filled in.
  std::vector<std::byte> Buffer(const PropertyTraits& traits, UInt32 size) const {
    std::vector<std::byte> buffer(size + kGuardBytes, kGuard);
    if (traits.payload == Payload::ClumpName && size >= 8) {
      const AudioUnitParameterNameInfo in{mClump, -1, nullptr};
      std::memcpy(buffer.data(), &in, 8);
    }
    return buffer;
  }

  void Probe(const Spot& at) {
    const PropertyTraits& traits = at.traits;
    const PropertyInfo info = mUnit.Info(traits.id, at.scope, at.element);

    UInt32 queried = 0xDEADBEEF;
    const OSStatus queryStatus = Get(at, nullptr, queried);
    if (info.status != noErr) {
      if (!IsPropertyRefusal(info.status)) {
        Fail(at, "info refused with a status no property request answers: " + StatusText(info.status));
      }
      if (queryStatus == noErr) {
        Fail(at, "info refused (" + StatusText(info.status) + ") but a size query succeeds");
      }
      at.ledger.refusals.insert(info.status);
      return;
    }
    if (!mInitialized) {
      at.ledger.available.push_back(Where(at.scope, at.element) + " " + std::to_string(info.size) + " B" +
                                    (info.writable ? " rw" : " r"));
    }
    const std::string reported = "info reports " + std::to_string(info.size) + " bytes";
    if (queryStatus != noErr || queried != info.size) {
      Fail(at, reported + ", a size query (null data) answers " + StatusText(queryStatus) + " with " +
                   std::to_string(queried) + " bytes");
    }
    if (traits.size != 0 && info.size != traits.size) {
      Fail(at, reported + "; the value is " + std::to_string(traits.size));
    }
    if (traits.arrayUnit != 0 && info.size % traits.arrayUnit != 0) {
      Fail(at, reported + ", not a whole number of " + std::to_string(traits.arrayUnit) + "-byte entries");
    }
    if (!ScopeAllowed(traits.scopes, at.scope)) Fail(at, "available in a scope it does not live in");
    if (traits.access == Access::ReadOnly && info.writable) Fail(at, "read-only, but info says writable");
    if (traits.access == Access::Writable && !info.writable) Fail(at, "writable, but info says read-only");
    if (traits.payload == Payload::SetOnly) return;

    // A get with the size the info reports.
    const UInt32 size = info.size;
    std::vector<std::byte> value = Buffer(traits, size);
    UInt32 got = size;
    const OSStatus status = size == 0 ? kAudio_ParamError : Get(at, value.data(), got);
    if (size == 0) {
      // An empty array: a careful host does not read it.
    } else if (status != noErr) {
      // A refusal the unit returns clears the size word; one raised deep
      // inside may leave it as the caller gave it. Nothing else is right.
      if (got != 0 && got != size) {
        Fail(at, "a failed get (" + StatusText(status) + ") set the size word to " + std::to_string(got) +
                     ", neither 0 nor the size given");
      }
      if (!IsPropertyRefusal(status)) {
        Fail(at, "get refused with a status no property request answers: " + StatusText(status));
      }
    } else {
      CheckValue(at, value, got, size);
    }
    const bool readable = size != 0 && status == noErr && got == size;

    if (readable) {
      CheckLargerBuffer(at, size);
      CheckTruncated(at, value, size);
    }
    CheckSets(at, info, readable ? &value : nullptr);
    if (readable) ReleaseHeld(traits.payload, value, size);
  }

  void CheckValue(const Spot& at, const std::vector<std::byte>& value, UInt32 got, UInt32 size) const {
    if (got != size) {
      Fail(at, "a get with the reported " + std::to_string(size) + " bytes set the size word to " +
                   std::to_string(got));
    }
    if (!GuardIntact(value, size)) {
      Fail(at, "a get wrote past the " + std::to_string(size) + " bytes the info reports");
    }
    const Payload payload = at.traits.payload;
    const bool needsReference = payload == Payload::Reference || payload == Payload::ClumpName;
    const std::size_t referenceAt = payload == Payload::ClumpName ? 8 : 0;
    if (needsReference && ReadAt<CFTypeRef>(value, referenceAt) == nullptr) {
      Fail(at, "a get answered noErr with a null reference");
    }
    if (at.traits.element == ElementMeaning::Selector && ReadAt<void*>(value, 0) == nullptr) {
      Fail(at, "a get answered noErr with a null function");
    }
  }

  // A larger buffer: the size word must come back as the value's size.
  void CheckLargerBuffer(const Spot& at, UInt32 size) const {
    std::vector<std::byte> larger = Buffer(at.traits, size + 16);
    UInt32 got = size + 16;
    const OSStatus status = Get(at, larger.data(), got);
    if (status != noErr || got != size) {
      Fail(at, "a get with " + std::to_string(size + 16) + " bytes of room answered " + StatusText(status) +
                   " with the size word at " + std::to_string(got) + ", not " + std::to_string(size));
    }
    if (status == noErr) ReleaseHeld(at.traits.payload, larger, size);
  }

  // A smaller buffer: noErr, the first bytes of the value, nothing beyond,
  // and the size word unchanged. Only for values without references, which
  // a truncated copy would leak.
  void CheckTruncated(const Spot& at, const std::vector<std::byte>& value, UInt32 size) const {
    if (at.traits.payload != Payload::Plain || size < 2) return;
    const UInt32 length = size - 1;
    std::vector<std::byte> part(size + kGuardBytes, kGuard);
    UInt32 got = length;
    const OSStatus status = Get(at, part.data(), got);
    const std::string what =
        "a truncated get of " + std::to_string(length) + " of " + std::to_string(size) + " bytes";
    if (status != noErr) {
      Fail(at, what + " answered " + StatusText(status));
      return;
    }
    if (got != length) Fail(at, what + " changed the size word to " + std::to_string(got));
    if (!GuardIntact(part, length)) Fail(at, what + " wrote past the buffer");
    if (std::memcmp(part.data(), value.data(), length) != 0) {
      Fail(at, what + " gave bytes that differ from the value's first bytes");
    }
  }

  void CheckSets(const Spot& at, const PropertyInfo& info, const std::vector<std::byte>* value) {
    const PropertyTraits& traits = at.traits;
    // A format that is not writable still takes the identical format, and a
    // layout's writability is whatever the unit reports.
    const bool settableAnyway = traits.id == kAudioUnitProperty_SampleRate ||
                                traits.id == kAudioUnitProperty_StreamFormat ||
                                traits.id == kAudioUnitProperty_AudioChannelLayout;
    const bool readOnly = traits.access == Access::ReadOnly || (!info.writable && !settableAnyway);
    if (readOnly) {
      // The value itself when there is one: a refusal must not depend on junk.
      std::vector<std::byte> data(std::max<UInt32>(info.size, 4), std::byte{0});
      if (value != nullptr) std::copy(value->begin(), value->begin() + info.size, data.begin());
      const OSStatus status = Set(at, data.data(), static_cast<UInt32>(data.size()));
      if (status == noErr) Fail(at, "a set of this read-only property answered noErr");
      if (status != noErr && value != nullptr && traits.payload == Payload::Plain &&
          traits.id != kAudioUnitProperty_LastRenderError) {
        std::vector<std::byte> after(info.size);
        UInt32 got = info.size;
        if (Get(at, after.data(), got) == noErr && std::memcmp(after.data(), value->data(), info.size) != 0) {
          Fail(at, "a refused set changed the value");
        }
      }
      return;
    }
    // Writable and readable, before initialization: its own value must be
    // taken back.
    if (mInitialized || !info.writable || value == nullptr) return;
    const OSStatus status = Set(at, value->data(), info.size);
    if (status != noErr) {
      Fail(at, "setting the value just read back refused with " + StatusText(status));
      return;
    }
    if (traits.payload != Payload::Plain) return;
    std::vector<std::byte> after(info.size);
    UInt32 got = info.size;
    const OSStatus reread = Get(at, after.data(), got);
    if (reread != noErr || got != info.size || std::memcmp(after.data(), value->data(), info.size) != 0) {
      Fail(at, "after setting its own value back, the value reads differently");
    }
  }

  host::UnitInstance& mUnit;
  bool mInitialized;
  AudioUnitParameterID mParameter;
  UInt32 mClump;
};

// The first global parameter, and the first clump one of them names.
void FindSamples(host::UnitInstance& unit, AudioUnitParameterID& parameter, UInt32& clump) {
  const std::vector<ParameterEntry> parameters = SurveyParameters(unit);
  parameter = parameters.empty() ? 0 : parameters.front().id;
  clump = 1;
  for (const ParameterEntry& p : parameters) {
    if ((p.info.flags & kAudioUnitParameterFlag_HasClump) != 0 &&
        p.info.clumpID != kAudioUnitClumpID_System) {
      clump = p.info.clumpID;
      return;
    }
  }
}

std::string RefusalText(const std::set<OSStatus>& refusals) {
  std::string text;
  for (OSStatus status : refusals) text += (text.empty() ? "" : ", ") + StatusText(status);
  return text;
}

void CheckEveryProperty(Report& report, const Target& target) {
  auto unit = OpenUnit(report, target);
  AudioUnitParameterID parameter = 0;
  UInt32 clump = 1;
  FindSamples(*unit, parameter, clump);

  std::vector<Ledger> ledgers(KnownProperties().size());
  const auto walkAll = [&](PropertyWalk walk) {
    for (std::size_t i = 0; i < KnownProperties().size(); ++i) walk.Walk(KnownProperties()[i], ledgers[i]);
  };
  walkAll(PropertyWalk(*unit, false, parameter, clump));

  // Again on an initialized instance, if the unit gets that far; the
  // initialization checks say why not.
  host::UnitInstance initializedUnit(target.component);
  if (initializedUnit.ConfigureIO(44100.0, 2) == noErr && initializedUnit.Initialize() == noErr) {
    walkAll(PropertyWalk(initializedUnit, true, parameter, clump));
  } else {
    report.Note("(no initialized instance: the properties were checked uninitialized only)");
  }

  for (std::size_t i = 0; i < KnownProperties().size(); ++i) {
    const Ledger& ledger = ledgers[i];
    const std::string name = "property " + PropertyText(KnownProperties()[i].id);
    // A unit that gets one thing wrong everywhere gets it wrong in every
    // scope; a few lines say so as well as all of them.
    constexpr std::size_t kShown = 6;
    for (std::size_t k = 0; k < ledger.failures.size() && k < kShown; ++k) {
      report.Fail(name, ledger.failures[k]);
    }
    if (ledger.failures.size() > kShown) {
      report.Note("(and " + std::to_string(ledger.failures.size() - kShown) +
                  " more failures of this property)");
    }
    if (!ledger.failures.empty()) continue;
    std::string detail;
    if (ledger.available.empty()) {
      detail = "not available (" + RefusalText(ledger.refusals) + ")";
    } else {
      for (const std::string& where : ledger.available) detail += (detail.empty() ? "" : ", ") + where;
      if (!ledger.refusals.empty()) detail += "; elsewhere " + RefusalText(ledger.refusals);
    }
    report.Pass(name, detail);
  }
}

// Ids that no property has: every request is refused as an invalid property.
void CheckUnknownIds(Report& report, host::UnitInstance& unit) {
  constexpr std::array<AudioUnitPropertyID, 4> kUnknown{10, 17, 1000, 0x7FFFFFFF};
  std::string wrong;
  for (AudioUnitPropertyID id : kUnknown) {
    const auto expectRefusal = [&](const char* call, OSStatus status) {
      if (status != kAudioUnitErr_InvalidProperty) {
        wrong += std::string(" ") + call + "(" + std::to_string(id) + ") " + StatusText(status) + ";";
      }
    };
    expectRefusal("info", unit.Info(id, kAudioUnitScope_Global, 0).status);
    UInt64 value = 0;
    UInt32 size = sizeof value;
    expectRefusal("get", unit.GetBytes(id, kAudioUnitScope_Global, 0, &value, size));
    expectRefusal("set", unit.SetBytes(id, kAudioUnitScope_Global, 0, &value, sizeof value));
  }
  report.CheckNone("unknown-ids", wrong,
                   "ids 10, 17, 1000 and 0x7FFFFFFF: info, get and set answer kAudioUnitErr_InvalidProperty");
}

// The host calls' own refusals, which come before the property is looked at.
void CheckProtocol(Report& report, host::UnitInstance& unit) {
  const AudioUnitPropertyID id = kAudioUnitProperty_MaximumFramesPerSlice;
  const UInt32 before = unit.MaxFrames();
  UInt32 value = 0;
  const OSStatus noSize = AudioUnitGetProperty(unit.Get(), id, kAudioUnitScope_Global, 0, &value, nullptr);
  report.Check(noSize == kAudio_ParamError, "get-without-size-word",
               "a get without a size word: " + StatusText(noSize));
  UInt32 zero = 0;
  const OSStatus zeroSize = unit.GetBytes(id, kAudioUnitScope_Global, 0, &value, zero);
  report.Check(zeroSize == kAudio_ParamError, "get-with-size-0",
               "a get with a size word of 0: " + StatusText(zeroSize));

  const UInt32 other = before + 1;
  const OSStatus emptySet = unit.SetBytes(id, kAudioUnitScope_Global, 0, &other, 0);
  const OSStatus nullSet = unit.SetBytes(id, kAudioUnitScope_Global, 0, nullptr, sizeof other);
  const UInt32 after = unit.MaxFrames();
  report.Check(emptySet == kAudio_ParamError && nullSet == kAudio_ParamError && after == before,
               "set-with-inconsistent-size",
               "data with size 0: " + StatusText(emptySet) + "; no data with size 4: " + StatusText(nullSet) +
                   "; maximum frames " + std::to_string(before) + " before, " + std::to_string(after) +
                   " after");
}

// The context name, a writable reference: set, read back, remove.
void CheckContextName(Report& report, host::UnitInstance& unit) {
  const PropertyInfo info = unit.Info(kAudioUnitProperty_ContextName, kAudioUnitScope_Global, 0);
  if (info.status != noErr) {
    report.Pass("context-name", "not available (" + StatusText(info.status) + ")");
    return;
  }
  const CFRef<CFStringRef> name = MakeString("validation context");
  const CFStringRef given = name.Get();
  const OSStatus set = unit.Set(kAudioUnitProperty_ContextName, kAudioUnitScope_Global, 0, given);
  CFRef<CFStringRef> read;
  const OSStatus get = unit.Get(kAudioUnitProperty_ContextName, kAudioUnitScope_Global, 0, *read.Receive());
  const std::string text = host::ToStdString(read.Get());
  read.Reset();
  const OSStatus removed =
      unit.SetBytes(kAudioUnitProperty_ContextName, kAudioUnitScope_Global, 0, nullptr, 0);
  CFRef<CFStringRef> gone;
  const OSStatus after = unit.Get(kAudioUnitProperty_ContextName, kAudioUnitScope_Global, 0, *gone.Receive());
  report.Check(
      set == noErr && get == noErr && text == "validation context" && removed == noErr && after != noErr,
      "context-name",
      "set " + StatusText(set) + "; get " + StatusText(get) + " \"" + text + "\"; remove " +
          StatusText(removed) + "; get after removal " + StatusText(after));
}

// Latency and tail time: durations in seconds, finite and not negative.
void CheckDurations(Report& report, host::UnitInstance& unit) {
  for (AudioUnitPropertyID id : {kAudioUnitProperty_Latency, kAudioUnitProperty_TailTime}) {
    const PropertyInfo info = unit.Info(id, kAudioUnitScope_Global, 0);
    if (info.status != noErr) {
      report.Check(id != kAudioUnitProperty_Latency,
                   id == kAudioUnitProperty_Latency ? "latency" : "tail-time",
                   "not available (" + StatusText(info.status) + ")");
      continue;
    }
    Float64 seconds = -1.0;
    const OSStatus status = unit.Get(id, kAudioUnitScope_Global, 0, seconds);
    report.Check(status == noErr && std::isfinite(seconds) && seconds >= 0.0,
                 id == kAudioUnitProperty_Latency ? "latency" : "tail-time",
                 StatusText(status) + ", " + FloatText(seconds) + " s");
  }
}

// An effect has at least one input and one output element.
void CheckBuses(Report& report, host::UnitInstance& unit) {
  UInt32 inputs = 0;
  UInt32 outputs = 0;
  const OSStatus in = unit.Get(kAudioUnitProperty_ElementCount, kAudioUnitScope_Input, 0, inputs);
  const OSStatus out = unit.Get(kAudioUnitProperty_ElementCount, kAudioUnitScope_Output, 0, outputs);
  report.Check(in == noErr && out == noErr && inputs >= 1 && outputs >= 1, "buses",
               "input elements " + std::to_string(inputs) + " (" + StatusText(in) + "), output elements " +
                   std::to_string(outputs) + " (" + StatusText(out) + ")");
}

}  // namespace

void CheckProperties(Report& report, const Target& target) {
  CheckEveryProperty(report, target);
  auto unit = OpenUnit(report, target);
  CheckUnknownIds(report, *unit);
  CheckProtocol(report, *unit);
  CheckContextName(report, *unit);
  CheckDurations(report, *unit);
  CheckBuses(report, *unit);
}

}  // namespace varsile::validate
