#include "RenderThreadCounter.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARSILE_COUNT_WITH_HOOKS 1
#endif
#if __has_feature(thread_sanitizer)
#define VARSILE_COUNT_WITH_HOOKS 1
#endif
#if __has_feature(realtime_sanitizer)
#define VARSILE_COUNT_NOTHING 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VARSILE_COUNT_WITH_HOOKS 1
#endif

namespace {

// Plain thread-local words in the executable: reading them allocates nothing
// and calls nothing, which matters inside malloc.
constinit thread_local bool tCounting = false;

std::atomic<std::uint64_t> gAllocations{0};
std::atomic<std::uint64_t> gDeallocations{0};
std::atomic<std::uint64_t> gLocks{0};

[[maybe_unused]] inline void NoteAllocation() noexcept {
  if (tCounting) gAllocations.fetch_add(1, std::memory_order_relaxed);
}
[[maybe_unused]] inline void NoteDeallocation() noexcept {
  if (tCounting) gDeallocations.fetch_add(1, std::memory_order_relaxed);
}
[[maybe_unused]] inline void NoteLock() noexcept {
  if (tCounting) gLocks.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

namespace reliability {

bool RenderThreadCounter::Available() noexcept {
#ifdef VARSILE_COUNT_NOTHING
  return false;
#else
  return true;
#endif
}

RenderThreadCounts RenderThreadCounter::Counts() noexcept {
  return {gAllocations.load(), gDeallocations.load(), gLocks.load()};
}

void RenderThreadCounter::Reset() noexcept {
  gAllocations = 0;
  gDeallocations = 0;
  gLocks = 0;
}

CountedSection::CountedSection() noexcept : mOuter(!tCounting) {
  tCounting = true;
}

CountedSection::~CountedSection() {
  if (mOuter) tCounting = false;
}

}  // namespace reliability

#ifndef VARSILE_COUNT_NOTHING

// ---- Locks: every build but RealtimeSanitizer's ----
extern "C" {

int pthread_mutex_lock(pthread_mutex_t* mutex) noexcept {
  static std::atomic<int (*)(pthread_mutex_t*)> next{nullptr};
  NoteLock();
  return reliability::Next("pthread_mutex_lock", next)(mutex);
}

int pthread_mutex_trylock(pthread_mutex_t* mutex) noexcept {
  static std::atomic<int (*)(pthread_mutex_t*)> next{nullptr};
  NoteLock();
  return reliability::Next("pthread_mutex_trylock", next)(mutex);
}

int pthread_rwlock_rdlock(pthread_rwlock_t* lock) noexcept {
  static std::atomic<int (*)(pthread_rwlock_t*)> next{nullptr};
  NoteLock();
  return reliability::Next("pthread_rwlock_rdlock", next)(lock);
}

int pthread_rwlock_wrlock(pthread_rwlock_t* lock) noexcept {
  static std::atomic<int (*)(pthread_rwlock_t*)> next{nullptr};
  NoteLock();
  return reliability::Next("pthread_rwlock_wrlock", next)(lock);
}

}  // extern "C"

#endif

#if defined(VARSILE_COUNT_WITH_HOOKS)

// ---- Allocations under a sanitizer: its allocator reports every block ----
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {

void OnMalloc(const volatile void*, std::size_t) {
  NoteAllocation();
}
void OnFree(const volatile void*) {
  NoteDeallocation();
}

[[maybe_unused]] const bool gHooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;

}  // namespace

#elif !defined(VARSILE_COUNT_NOTHING)

// ---- Allocations otherwise: the allocation functions themselves ----
// The C library's own entry points, which the interposed functions forward to.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);
void* __libc_memalign(std::size_t alignment, std::size_t size);

void* malloc(std::size_t size) noexcept {
  NoteAllocation();
  return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept {
  NoteAllocation();
  return __libc_calloc(count, size);
}

void* realloc(void* block, std::size_t size) noexcept {
  NoteAllocation();
  if (block != nullptr) NoteDeallocation();
  return __libc_realloc(block, size);
}

void free(void* block) noexcept {
  if (block != nullptr) NoteDeallocation();
  __libc_free(block);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
  NoteAllocation();
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
  NoteAllocation();
  return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
  NoteAllocation();
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* block = __libc_memalign(alignment, size);
  if (block == nullptr) return ENOMEM;
  *out = block;
  return 0;
}

}  // extern "C"

// operator new and delete are the program's own too, so that an allocation
// through them is counted even where a library would not reach malloc.
namespace {

void* New(std::size_t size) {
  NoteAllocation();
  if (void* block = __libc_malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void* NewAligned(std::size_t size, std::align_val_t alignment) {
  NoteAllocation();
  if (void* block = __libc_memalign(static_cast<std::size_t>(alignment), size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void Delete(void* block) noexcept {
  if (block == nullptr) return;
  NoteDeallocation();
  __libc_free(block);
}

}  // namespace

void* operator new(std::size_t size) {
  return New(size);
}
void* operator new[](std::size_t size) {
  return New(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return New(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return New(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return NewAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return NewAligned(size, alignment);
}
void operator delete(void* block) noexcept {
  Delete(block);
}
void operator delete[](void* block) noexcept {
  Delete(block);
}
void operator delete(void* block, std::size_t) noexcept {
  Delete(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  Delete(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  Delete(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  Delete(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  Delete(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  Delete(block);
}

#endif
