// Counts the allocations, deallocations and locks of one thread while it is
// inside a counted section, here a render call. The program interposes the
// allocation functions (malloc and its family, operator new and delete) and
// the lock calls (pthread mutex and rwlock locks); under AddressSanitizer the
// sanitizer's allocator hooks count allocations instead. Under
// RealtimeSanitizer nothing is counted: the sanitizer itself stops the
// program at the first such call inside a render.
#pragma once

#include <dlfcn.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <ostream>

namespace reliability {

struct RenderThreadCounts {
  std::uint64_t allocations = 0;
  std::uint64_t deallocations = 0;
  std::uint64_t locks = 0;

  bool operator==(const RenderThreadCounts&) const = default;
};

// For the test framework's failure messages.
inline void PrintTo(const RenderThreadCounts& c, std::ostream* out) {
  *out << c.allocations << " allocations, " << c.deallocations << " deallocations, " << c.locks << " locks";
}

// The next definition of an interposed call after ours: the C library's, or a
// sanitizer's interceptor. Looked up on first use, since locks may be taken
// before static constructors run.
template <class Function>
Function Next(const char* name, std::atomic<Function>& cache) noexcept {
  Function f = cache.load(std::memory_order_acquire);
  if (f == nullptr) {
    f = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
    if (f == nullptr) std::abort();
    cache.store(f, std::memory_order_release);
  }
  return f;
}

class RenderThreadCounter {
 public:
  // Whether this build counts; false under RealtimeSanitizer.
  static bool Available() noexcept;
  // What the counted sections of every thread did since the last Reset.
  static RenderThreadCounts Counts() noexcept;
  static void Reset() noexcept;
};

// Counts the calling thread's allocations and locks while it lives.
class CountedSection {
 public:
  CountedSection() noexcept;
  ~CountedSection();
  CountedSection(const CountedSection&) = delete;
  CountedSection& operator=(const CountedSection&) = delete;

 private:
  bool mOuter;
};

}  // namespace reliability
