// The element's parameter store and its saved state record.
#include <atomic>
#include <cstring>
#include <vector>

#include "AUBase.h"
#include "AUElement.h"

namespace {

// A parameter value is one 32-bit word that the render thread and control
// threads read and write without a lock; relaxed atomic access keeps that
// well defined and costs nothing on the processors we run on.
void StoreValue(Float32& field, Float32 value) noexcept {
  std::atomic_ref<Float32>(field).store(value, std::memory_order_relaxed);
}

// Control threads' immediate sets and the render thread's scheduled events
// both write the kind of the same entry.
void StoreKind(UInt32& field, UInt32 kind) noexcept {
  std::atomic_ref<UInt32>(field).store(kind, std::memory_order_relaxed);
}

[[noreturn]] void Fail(OSStatus status) {
  throw status;
}

// The state record is big-endian whatever the processor.
void PutBigEndian(UInt8* p, UInt32 word) noexcept {
  p[0] = static_cast<UInt8>(word >> 24);
  p[1] = static_cast<UInt8>(word >> 16);
  p[2] = static_cast<UInt8>(word >> 8);
  p[3] = static_cast<UInt8>(word);
}

UInt32 GetBigEndian(const UInt8* p) noexcept {
  return (UInt32{p[0]} << 24) | (UInt32{p[1]} << 16) | (UInt32{p[2]} << 8) | UInt32{p[3]};
}

constexpr std::size_t kCountBytes = 4;
constexpr std::size_t kPairBytes = 8;

}  // namespace

void AUElement::UseIndexedParameters(SInt32 count) {
  // A negative count can only be a mistake; it gives an empty table rather
  // than an attempt to allocate four billion entries.
  mParameterTable.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  mUsesTable = true;
}

ParameterMapEvent& AUElement::GetParamEvent(AudioUnitParameterID id) {
  if (mUsesTable) {
    if (id < mParameterTable.size()) return mParameterTable[id];
  } else if (auto it = mParameterMap.find(id); it != mParameterMap.end()) {
    return it->second;
  }
  Fail(kAudioUnitErr_InvalidParameter);
}

const ParameterMapEvent& AUElement::GetParamEvent(AudioUnitParameterID id) const {
  return const_cast<AUElement*>(this)->GetParamEvent(id);
}

Float32 AUElement::GetMappedParameter(AudioUnitParameterID id) const {
  return LoadValue(GetParamEvent(id).mStartValue);
}

ParameterMapEvent* AUElement::EntryToWrite(AudioUnitParameterID id, bool okWhenInitialized) {
  if (mUsesTable) return &GetParamEvent(id);
  if (auto it = mParameterMap.find(id); it != mParameterMap.end()) return &it->second;
  // Inserting would race the render thread's reads of the map.
  if (mOwner->IsInitialized() && !okWhenInitialized) return nullptr;
  return &mParameterMap[id];
}

void AUElement::SetParameter(AudioUnitParameterID id, Float32 value, bool okWhenInitialized) {
  ParameterMapEvent* entry = EntryToWrite(id, okWhenInitialized);
  if (entry == nullptr) return;
  StoreKind(entry->mEventKind, kParameterEvent_Immediate);
  StoreValue(entry->mStartValue, value);
  StoreValue(entry->mEndValue, value);
}

void AUElement::SetScheduledEvent(AudioUnitParameterID id, const AudioUnitParameterEvent& event,
                                  UInt32 sliceOffsetInBuffer, UInt32 sliceFrames, bool okWhenInitialized) {
  ParameterMapEvent* entry = EntryToWrite(id, okWhenInitialized);
  if (entry == nullptr) return;
  StoreKind(entry->mEventKind, event.eventType);
  entry->mSliceFrames = sliceFrames;
  if (event.eventType == kParameterEvent_Immediate) {
    StoreValue(entry->mStartValue, event.eventValues.immediate.value);
    StoreValue(entry->mEndValue, event.eventValues.immediate.value);
    entry->mDurationFrames = sliceFrames;
    entry->mOffsetInSlice = 0;
  } else {
    entry->mDurationFrames = event.eventValues.ramp.durationInFrames;
    // Wrap-around subtraction, done unsigned so that it is defined; a ramp
    // begun before the slice gets a negative offset.
    entry->mOffsetInSlice = static_cast<SInt32>(
        static_cast<UInt32>(event.eventValues.ramp.startBufferOffset) - sliceOffsetInBuffer);
    StoreValue(entry->mStartValue, event.eventValues.ramp.startValue);
    StoreValue(entry->mEndValue, event.eventValues.ramp.endValue);
  }
}

void AUElement::GetParameterList(AudioUnitParameterID* outList) const {
  if (mUsesTable) {
    const auto n = static_cast<UInt32>(mParameterTable.size());
    for (UInt32 i = 0; i < n; ++i) outList[i] = i;
  } else {
    for (const auto& [id, event] : mParameterMap) *outList++ = id;
  }
}

UInt32 AUElement::GetNumberOfParameters() const noexcept {
  return static_cast<UInt32>(mUsesTable ? mParameterTable.size() : mParameterMap.size());
}

void AUElement::SaveState(CFMutableDataRef data) const {
  const UInt32 n = GetNumberOfParameters();
  std::vector<UInt8> record(kCountBytes + kPairBytes * n);
  UInt8* p = record.data();
  PutBigEndian(p, n);
  p += kCountBytes;
  auto put = [&p](AudioUnitParameterID id, const ParameterMapEvent& event) {
    UInt32 bits = 0;
    const Float32 value = LoadValue(event.mStartValue);
    std::memcpy(&bits, &value, sizeof bits);
    PutBigEndian(p, id);
    PutBigEndian(p + 4, bits);
    p += kPairBytes;
  };
  if (mUsesTable) {
    for (UInt32 i = 0; i < n; ++i) put(i, mParameterTable[i]);
  } else {
    for (const auto& [id, event] : mParameterMap) put(id, event);
  }
  // One append: a failure leaves no partial record behind.
  CFDataAppendBytes(data, record.data(), static_cast<CFIndex>(record.size()));
}

const UInt8* AUElement::RestoreState(const UInt8* p, const UInt8* end) {
  // The record comes from saved state that may be truncated or forged: its
  // count is checked against the bytes that remain before anything is set.
  if (p == nullptr || end == nullptr || end < p) Fail(kAudioUnitErr_InvalidPropertyValue);
  const auto available = static_cast<std::size_t>(end - p);
  if (available < kCountBytes) Fail(kAudioUnitErr_InvalidPropertyValue);
  const UInt32 n = GetBigEndian(p);
  if (n > (available - kCountBytes) / kPairBytes) Fail(kAudioUnitErr_InvalidPropertyValue);
  p += kCountBytes;
  for (UInt32 i = 0; i < n; ++i, p += kPairBytes) {
    const UInt32 bits = GetBigEndian(p + 4);
    Float32 value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    SetParameter(GetBigEndian(p), value, false);
  }
  return p;
}
