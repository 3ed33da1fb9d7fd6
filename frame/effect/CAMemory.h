// Allocation that reports exhaustion by throwing std::bad_alloc, so callers
// never see a null block for a non-zero size.
#pragma once

#include <cstddef>

// malloc; a null result for a non-zero size throws std::bad_alloc.
void* CA_malloc(std::size_t size);

// Resizes like reallocf: when the resize fails the old block is freed and
// std::bad_alloc is thrown. A zero size frees the block and returns null.
void* CA_realloc(void* old, std::size_t size);
