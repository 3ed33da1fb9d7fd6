// Picks the kernel table once per process. The choice is a pure function of
// the processor, so threads racing on the first call store the same pointer;
// no lock, and the tables themselves are constant-initialised.
#include <atomic>

#include "VectorKernels.h"

namespace varsile::accelerate {
namespace {

std::atomic<const VectorKernels*> gActiveKernels{nullptr};

const VectorKernels& ChooseKernels() noexcept {
  for (const VectorKernels* table : {&kVectorKernelsAVX512F, &kVectorKernelsAVX2, &kVectorKernelsSSE4}) {
    if (VectorISASupported(table->isa)) return *table;
  }
  return kVectorKernelsSSE2;
}

}  // namespace

// libgcc's answers include the operating system's consent (XCR0) for the AVX
// and AVX-512 register state.
bool VectorISASupported(VectorISA isa) noexcept {
  __builtin_cpu_init();
  switch (isa) {
    case VectorISA::AVX512F:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") &&
             __builtin_cpu_supports("fma");
    case VectorISA::AVX2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case VectorISA::SSE4:
      return __builtin_cpu_supports("sse4.1");
    case VectorISA::SSE2:
      return true;
  }
  return false;
}

const VectorKernels& ActiveVectorKernels() noexcept {
  const VectorKernels* table = gActiveKernels.load(std::memory_order_relaxed);
  if (table == nullptr) [[unlikely]] {
    table = &ChooseKernels();
    gActiveKernels.store(table, std::memory_order_relaxed);
  }
  return *table;
}

}  // namespace varsile::accelerate
