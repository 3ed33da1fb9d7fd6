#include "CAMemory.h"

#include <cstdlib>
#include <new>

void* CA_malloc(std::size_t size) {
  void* p = std::malloc(size);
  if (p == nullptr && size != 0) throw std::bad_alloc();
  return p;
}

void* CA_realloc(void* old, std::size_t size) {
  if (size == 0) {
    std::free(old);
    return nullptr;
  }
  void* p = std::realloc(old, size);
  if (p == nullptr) {
    // Like reallocf: the caller's pointer is gone either way.
    std::free(old);
    throw std::bad_alloc();
  }
  return p;
}
