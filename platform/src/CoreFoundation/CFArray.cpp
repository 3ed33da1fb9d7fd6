// Ordered lists of values. With the kCFType callbacks the array holds a
// reference to each entry; with none it holds bare pointers (constant strings).
#include <new>
#include <vector>

#include "CFObject.h"

struct __CFArray final : __CFObject {
  static constexpr CFTypeID kTypeID = varsile::cf::kArrayTypeID;

  __CFArray(const CFArrayCallBacks* callBacks, bool isMutable)
      : __CFObject(kTypeID),
        mRetains(callBacks != nullptr && callBacks->retain != nullptr),
        mReleases(callBacks != nullptr && callBacks->release != nullptr),
        mMutable(isMutable) {}

  ~__CFArray() override {
    if (mReleases) {
      for (const void* value : mValues) CFRelease(value);
    }
  }

  bool Equal(const __CFObject& other) const noexcept override {
    const auto& that = static_cast<const __CFArray&>(other);
    if (mValues.size() != that.mValues.size()) return false;
    for (std::size_t i = 0; i < mValues.size(); ++i) {
      if (!CFEqual(mValues[i], that.mValues[i])) return false;
    }
    return true;
  }
  CFHashCode Hash() const noexcept override { return mValues.size(); }

  void Append(const void* value) {
    if (mRetains && value == nullptr)
      varsile::cf::Fatal("CFArrayAppendValue", "NULL value in an array that retains");
    mValues.push_back(value);
    if (mRetains) CFRetain(value);
  }

  std::vector<const void*> mValues;
  const bool mRetains;
  const bool mReleases;
  const bool mMutable;
};

extern "C" {

const CFArrayCallBacks kCFTypeArrayCallBacks = {
    0, &varsile::cf::kRetainCallBack, &varsile::cf::kReleaseCallBack, &varsile::cf::kDescriptionCallBack,
    &varsile::cf::kEqualCallBack};

CFTypeID CFArrayGetTypeID(void) {
  return varsile::cf::kArrayTypeID;
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex count,
                         const CFArrayCallBacks* callBacks) {
  if (count < 0 || (count > 0 && values == nullptr)) return nullptr;
  __CFArray* array = nullptr;
  try {
    array = new __CFArray(callBacks, false);
    array->mValues.reserve(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    delete array;
    return nullptr;
  }
  for (CFIndex i = 0; i < count; ++i) array->Append(values[i]);
  return array;
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex capacity, const CFArrayCallBacks* callBacks) {
  if (capacity < 0) return nullptr;
  try {
    return new __CFArray(callBacks, true);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void CFArrayAppendValue(CFMutableArrayRef array, const void* value) {
  varsile::cf::AsMutable<__CFArray>(array, "CFArrayAppendValue")->Append(value);
}

CFIndex CFArrayGetCount(CFArrayRef array) {
  const __CFArray* list = varsile::cf::As<__CFArray>(array, "CFArrayGetCount");
  return list != nullptr ? static_cast<CFIndex>(list->mValues.size()) : 0;
}

const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index) {
  const __CFArray* list = varsile::cf::As<__CFArray>(array, "CFArrayGetValueAtIndex");
  if (list == nullptr || index < 0 || static_cast<std::size_t>(index) >= list->mValues.size()) return nullptr;
  return list->mValues[static_cast<std::size_t>(index)];
}

}  // extern "C"
