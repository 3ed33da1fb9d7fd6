// Counts the allocations, deallocations and locks of one thread while it is
// inside a counted section, here a render call. The program interposes the
// allocation functions (malloc and its family, operator new and delete) and
// the lock calls (pthread mutex and rwlock locks); under AddressSanitizer the
// sanitizer's allocator hooks count allocations instead. Under
// RealtimeSanitizer nothing is counted: the sanitizer itself stops the
// program at the first such call inside a render.
#pragma once

#include <cstdint>
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
