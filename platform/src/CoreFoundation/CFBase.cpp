// Reference counting, type tests and the live-value counter shared by every
// kind of property-list value.
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "CFObject.h"

namespace varsile::cf {
namespace {

std::atomic<CFIndex> gLiveObjects{0};

}  // namespace

const char kRetainCallBack = 0;
const char kReleaseCallBack = 0;
const char kCopyStringCallBack = 0;
const char kEqualCallBack = 0;
const char kHashCallBack = 0;
const char kDescriptionCallBack = 0;

void Fatal(const char* function, const char* message) noexcept {
  std::fprintf(stderr, "CoreFoundation: %s: %s\n", function, message);
  std::fflush(stderr);
  std::abort();
}

void CountCreated() noexcept {
  gLiveObjects.fetch_add(1, std::memory_order_relaxed);
}
void CountDestroyed() noexcept {
  gLiveObjects.fetch_sub(1, std::memory_order_relaxed);
}

const __CFObject* Object(CFTypeRef cf, const char* function) noexcept {
  const auto* object = static_cast<const __CFObject*>(cf);
  if (object->mMagic != __CFObject::kLiveMagic) {
    Fatal(function, object->mMagic == __CFObject::kDeadMagic
                        ? "value already destroyed (over-release or use after release)"
                        : "not a property-list value");
  }
  return object;
}

}  // namespace varsile::cf

__CFObject::__CFObject(CFTypeID typeID) noexcept : mTypeID(typeID) {
  varsile::cf::CountCreated();
}

__CFObject::~__CFObject() {
  if (!mImmortal) {
    mMagic = kDeadMagic;
    varsile::cf::CountDestroyed();
  }
}

extern "C" {

CFTypeRef CFRetain(CFTypeRef ref) {
  if (ref == nullptr) varsile::cf::Fatal("CFRetain", "called with NULL");
  const __CFObject* object = varsile::cf::Object(ref, "CFRetain");
  if (object->mImmortal) return ref;
  // Relaxed is enough: the caller already holds a reference, so nothing can
  // be destroyed under it.
  const CFIndex before =
      const_cast<__CFObject*>(object)->mRetainCount.fetch_add(1, std::memory_order_relaxed);
  if (before <= 0) varsile::cf::Fatal("CFRetain", "retain of a value whose retain count is already 0");
  return ref;
}

void CFRelease(CFTypeRef ref) {
  if (ref == nullptr) varsile::cf::Fatal("CFRelease", "called with NULL");
  auto* object = const_cast<__CFObject*>(varsile::cf::Object(ref, "CFRelease"));
  if (object->mImmortal) return;
  // Acquire-release: every thread's writes before its release are visible to
  // the thread that destroys the value. (A fence would do, but the thread
  // sanitizer does not model fences.)
  const CFIndex before = object->mRetainCount.fetch_sub(1, std::memory_order_acq_rel);
  if (before == 1) {
    delete object;
  } else if (before <= 0) {
    varsile::cf::Fatal("CFRelease", "over-release: the retain count is already 0");
  }
}

CFIndex CFGetRetainCount(CFTypeRef ref) {
  if (ref == nullptr) return 0;
  const __CFObject* object = varsile::cf::Object(ref, "CFGetRetainCount");
  if (object->mImmortal) return std::numeric_limits<CFIndex>::max();
  return object->mRetainCount.load(std::memory_order_relaxed);
}

CFTypeID CFGetTypeID(CFTypeRef ref) {
  if (ref == nullptr) return varsile::cf::kNotATypeID;
  return varsile::cf::Object(ref, "CFGetTypeID")->mTypeID;
}

Boolean CFEqual(CFTypeRef a, CFTypeRef b) {
  if (a == b) return true;
  if (a == nullptr || b == nullptr) return false;
  const __CFObject* first = varsile::cf::Object(a, "CFEqual");
  const __CFObject* second = varsile::cf::Object(b, "CFEqual");
  return first->mTypeID == second->mTypeID && first->Equal(*second);
}

CFHashCode CFHash(CFTypeRef ref) {
  if (ref == nullptr) return 0;
  return varsile::cf::Object(ref, "CFHash")->Hash();
}

CFIndex CFLiveObjectCount(void) {
  return varsile::cf::gLiveObjects.load(std::memory_order_relaxed);
}

}  // extern "C"
