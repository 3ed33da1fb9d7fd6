// The saved state: the class-info dictionary hosts keep in their documents
// and presets. A persisted format: every key, number type and byte is fixed,
// and a dictionary read back may be damaged, foreign or hostile.
#include <cstddef>
#include <limits>
#include <vector>

#include "AUBase.h"

namespace {

const CFStringRef kVersionString = CFSTR("version");
const CFStringRef kTypeString = CFSTR("type");
const CFStringRef kSubtypeString = CFSTR("subtype");
const CFStringRef kManufacturerString = CFSTR("manufacturer");
const CFStringRef kDataString = CFSTR("data");
const CFStringRef kNameString = CFSTR("name");
const CFStringRef kRenderQualityString = CFSTR("render-quality");
const CFStringRef kCPULoadString = CFSTR("cpu-load");
const CFStringRef kElementNameString = CFSTR("element-name");
const CFStringRef kPartString = CFSTR("part");
const CFStringRef kUntitledString = CFSTR("Untitled");

// Only these scopes carry parameters in the blob.
constexpr AudioUnitScope kSavedParameterScopes = 3;
// Scope, element index and parameter count, each a big-endian UInt32.
constexpr std::size_t kRecordHeaderBytes = 12;
constexpr std::size_t kPairBytes = 8;

varsile::CFRef<CFMutableDictionaryRef> NewDictionary() {
  return varsile::CFCreated(CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                      &kCFTypeDictionaryValueCallBacks));
}

void AppendBigEndian(CFMutableDataRef data, UInt32 value) {
  const UInt8 bytes[4] = {static_cast<UInt8>(value >> 24), static_cast<UInt8>(value >> 16),
                          static_cast<UInt8>(value >> 8), static_cast<UInt8>(value)};
  CFDataAppendBytes(data, bytes, sizeof bytes);
}

UInt32 ReadBigEndian(const UInt8* p) noexcept {
  return (UInt32{p[0]} << 24) | (UInt32{p[1]} << 16) | (UInt32{p[2]} << 8) | UInt32{p[3]};
}

bool IsOfType(CFTypeRef value, CFTypeID type) {
  return value != nullptr && CFGetTypeID(value) == type;
}

// A 32-bit code such as a subtype. Saved as a signed 32-bit number, but an
// exact integer anywhere from -2^31 to 2^32-1 names the same 32 bits, so a
// code another writer kept unsigned still matches. Anything else is not a
// code: a fraction, a NaN, a value out of range, or not a number at all.
bool ReadCode(CFTypeRef value, SInt32& out) {
  if (!IsOfType(value, CFNumberGetTypeID())) return false;
  SInt64 wide = 0;
  if (!CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &wide)) return false;
  if (wide < std::numeric_limits<SInt32>::min() || wide > SInt64{std::numeric_limits<UInt32>::max()}) {
    return false;
  }
  out = static_cast<SInt32>(static_cast<UInt32>(static_cast<UInt64>(wide)));
  return true;
}

// Whether the blob is a whole number of element records: every header and
// every pair that a count announces lies inside it.
bool RecordsFit(const UInt8* bytes, std::size_t length) noexcept {
  std::size_t position = 0;
  while (position < length) {
    if (length - position < kRecordHeaderBytes) return false;
    const std::size_t count = ReadBigEndian(bytes + position + 8);
    position += kRecordHeaderBytes;
    if (count > (length - position) / kPairBytes) return false;
    position += count * kPairBytes;
  }
  return true;
}

// "element-name": per scope a dictionary of names. Only the scope keys the
// restore looks up are examined; odd element keys are the scope's to skip.
bool ElementNamesAreWellTyped(CFTypeRef value, const CFStringRef (&scopeKeys)[AUBase::kNumScopes]) {
  if (!IsOfType(value, CFDictionaryGetTypeID())) return false;
  const auto names = static_cast<CFDictionaryRef>(value);
  for (const CFStringRef key : scopeKeys) {
    const void* scopeNames = nullptr;
    if (!CFDictionaryGetValueIfPresent(names, key, &scopeNames)) continue;
    if (!IsOfType(scopeNames, CFDictionaryGetTypeID())) return false;
    const auto dictionary = static_cast<CFDictionaryRef>(scopeNames);
    const CFIndex count = CFDictionaryGetCount(dictionary);
    if (count <= 0) continue;
    std::vector<const void*> values(static_cast<std::size_t>(count));
    CFDictionaryGetKeysAndValues(dictionary, nullptr, values.data());
    for (const void* name : values) {
      if (!IsOfType(name, CFStringGetTypeID())) return false;
    }
  }
  return true;
}

}  // namespace

void AddNumToDictionary(CFMutableDictionaryRef dictionary, CFStringRef key, SInt32 value) {
  const auto number = varsile::CFCreated(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value));
  CFDictionarySetValue(dictionary, key, number.Get());
}

OSStatus AUBase::SaveState(CFPropertyListRef* outData) {
  const AudioComponentDescription description = GetComponentDescription();
  auto state = NewDictionary();
  const CFMutableDictionaryRef dictionary = state.Get();

  // The codes are saved as their 32 bits read as signed.
  AddNumToDictionary(dictionary, kVersionString, 0);
  AddNumToDictionary(dictionary, kTypeString, static_cast<SInt32>(description.componentType));
  AddNumToDictionary(dictionary, kSubtypeString, static_cast<SInt32>(description.componentSubType));
  AddNumToDictionary(dictionary, kManufacturerString, static_cast<SInt32>(description.componentManufacturer));

  {
    const auto blob = varsile::CFCreated(CFDataCreateMutable(kCFAllocatorDefault, 0));
    const CFMutableDataRef data = blob.Get();
    for (AudioUnitScope scope = 0; scope < kSavedParameterScopes; ++scope) {
      const AUScope& elements = GetScope(scope);
      for (UInt32 index = 0; index < elements.GetNumberOfElements(); ++index) {
        const AUElement* element = elements.GetElement(index);
        if (element == nullptr || element->GetNumberOfParameters() == 0) continue;
        AppendBigEndian(data, scope);
        AppendBigEndian(data, index);
        element->SaveState(data);
      }
    }
    CFDictionarySetValue(dictionary, kDataString, data);
  }

  CFDictionarySetValue(dictionary, kNameString,
                       mCurrentPreset.presetName != nullptr ? mCurrentPreset.presetName : kUntitledString);

  SInt32 renderQuality = 0;
  if (DispatchGetProperty(kAudioUnitProperty_RenderQuality, kAudioUnitScope_Global, 0, &renderQuality) ==
      noErr) {
    AddNumToDictionary(dictionary, kRenderQualityString, renderQuality);
  }
  Float32 cpuLoad = 0.0f;
  if (DispatchGetProperty(kAudioUnitProperty_CPULoad, kAudioUnitScope_Global, 0, &cpuLoad) == noErr) {
    const auto number = varsile::CFCreated(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloatType, &cpuLoad));
    CFDictionarySetValue(dictionary, kCPULoadString, number.Get());
  }

  bool anyName = false;
  for (const AUScope& scope : mScopes) anyName = anyName || scope.HasElementWithName();
  if (anyName) {
    const auto names = NewDictionary();
    for (const AUScope& scope : mScopes) scope.AddElementNamesToDict(names.Get());
    CFDictionarySetValue(dictionary, kElementNameString, names.Get());
  }

  *outData = state.Release();
  return noErr;
}

OSStatus AUBase::RestoreState(CFPropertyListRef plist) {
  static const CFStringRef kScopeKeys[kNumScopes] = {CFSTR("0"), CFSTR("1"), CFSTR("2"), CFSTR("3"),
                                                     CFSTR("4")};

  // Everything that can be judged without changing anything is judged first:
  // a dictionary refused here leaves the instance exactly as it was.
  if (!IsOfType(plist, CFDictionaryGetTypeID())) return kAudioUnitErr_InvalidPropertyValue;
  const auto dictionary = static_cast<CFDictionaryRef>(plist);
  if (CFDictionaryContainsKey(dictionary, kPartString)) return kAudioUnitErr_InvalidPropertyValue;

  const AudioComponentDescription description = GetComponentDescription();
  SInt32 code = 0;
  if (!ReadCode(CFDictionaryGetValue(dictionary, kVersionString), code) || code != 0) {
    return kAudioUnitErr_InvalidPropertyValue;
  }
  if (!ReadCode(CFDictionaryGetValue(dictionary, kSubtypeString), code) ||
      code != static_cast<SInt32>(description.componentSubType)) {
    return kAudioUnitErr_InvalidPropertyValue;
  }
  if (!ReadCode(CFDictionaryGetValue(dictionary, kManufacturerString), code) ||
      code != static_cast<SInt32>(description.componentManufacturer)) {
    return kAudioUnitErr_InvalidPropertyValue;
  }

  const CFTypeRef data = CFDictionaryGetValue(dictionary, kDataString);
  const UInt8* bytes = nullptr;
  std::size_t length = 0;
  if (data != nullptr) {
    if (!IsOfType(data, CFDataGetTypeID())) return kAudioUnitErr_InvalidPropertyValue;
    const CFIndex dataLength = CFDataGetLength(static_cast<CFDataRef>(data));
    if (dataLength > 0) {
      bytes = CFDataGetBytePtr(static_cast<CFDataRef>(data));
      length = static_cast<std::size_t>(dataLength);
    }
    if (!RecordsFit(bytes, length)) return kAudioUnitErr_InvalidPropertyValue;
  }
  const CFTypeRef name = CFDictionaryGetValue(dictionary, kNameString);
  if (name != nullptr && !IsOfType(name, CFStringGetTypeID())) return kAudioUnitErr_InvalidPropertyValue;
  const CFTypeRef renderQuality = CFDictionaryGetValue(dictionary, kRenderQualityString);
  if (renderQuality != nullptr && !IsOfType(renderQuality, CFNumberGetTypeID())) {
    return kAudioUnitErr_InvalidPropertyValue;
  }
  const CFTypeRef cpuLoad = CFDictionaryGetValue(dictionary, kCPULoadString);
  if (cpuLoad != nullptr && !IsOfType(cpuLoad, CFNumberGetTypeID()))
    return kAudioUnitErr_InvalidPropertyValue;
  const CFTypeRef elementNames = CFDictionaryGetValue(dictionary, kElementNameString);
  if (elementNames != nullptr && !ElementNamesAreWellTyped(elementNames, kScopeKeys)) {
    return kAudioUnitErr_InvalidPropertyValue;
  }

  // Parameters go straight into the element storage: no SetParameter call,
  // no parameter event. A scope above 4 or an id beyond a table ends the
  // restore with that status, keeping what was applied before it.
  const UInt8* position = bytes;
  const UInt8* const end = bytes + length;
  while (position < end) {
    const AudioUnitScope scope = ReadBigEndian(position);
    const AudioUnitElement index = ReadBigEndian(position + 4);
    AUElement* element = GetScope(scope).GetElement(index);
    if (element == nullptr) break;  // the rest of the blob is ignored
    position = element->RestoreState(position + 8, end);
  }

  const CFStringRef presetName = name != nullptr ? static_cast<CFStringRef>(name) : kUntitledString;
  CFRetain(presetName);
  if (mCurrentPreset.presetName != nullptr) CFRelease(mCurrentPreset.presetName);
  mCurrentPreset.presetName = presetName;
  mCurrentPreset.presetNumber = -1;
  PropertyChanged(kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0);

  // The instance may refuse these; that does not fail the restore.
  if (renderQuality != nullptr) {
    SInt32 quality = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(renderQuality), kCFNumberSInt32Type, &quality);
    DispatchSetProperty(kAudioUnitProperty_RenderQuality, kAudioUnitScope_Global, 0, &quality,
                        sizeof quality);
  }
  if (cpuLoad != nullptr) {
    Float32 load = 0.0f;
    CFNumberGetValue(static_cast<CFNumberRef>(cpuLoad), kCFNumberFloatType, &load);
    DispatchSetProperty(kAudioUnitProperty_CPULoad, kAudioUnitScope_Global, 0, &load, sizeof load);
  }

  if (elementNames != nullptr) {
    const auto names = static_cast<CFDictionaryRef>(elementNames);
    for (AudioUnitScope scope = 0; scope < kNumScopes; ++scope) {
      const void* scopeNames = nullptr;
      if (!CFDictionaryGetValueIfPresent(names, kScopeKeys[scope], &scopeNames)) continue;
      // Growing a scope while initialized would move the elements a render reads.
      if (mScopes[scope].RestoreElementNames(static_cast<CFDictionaryRef>(scopeNames), !IsInitialized())) {
        PropertyChanged(kAudioUnitProperty_ElementCount, scope, 0);
      }
    }
  }
  return noErr;
}
