// Picks the passes' table once per process. The choice is a pure function of
// the processor, so threads racing on the first call store the same pointer;
// no lock, and the tables themselves are constant-initialised.
#include "FFTShiftLLPasses.h"

#include <atomic>

namespace varsile::pitch {
namespace {

std::atomic<const Passes*> gActivePasses{nullptr};

// libgcc's answers include the operating system's consent (XCR0) for the AVX
// and AVX-512 register state.
const Passes& ChoosePasses() noexcept {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
    return kPassesAVX512;
  }
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return kPassesAVX2;
  return kPassesSSE2;
}

}  // namespace

const Passes& ActivePasses() noexcept {
  const Passes* table = gActivePasses.load(std::memory_order_relaxed);
  if (table == nullptr) [[unlikely]] {
    table = &ChoosePasses();
    gActivePasses.store(table, std::memory_order_relaxed);
  }
  return *table;
}

}  // namespace varsile::pitch
