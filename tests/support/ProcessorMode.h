// The SSE control and status register, where the build has one: a render
// flushes denormals with two of its bits and hands the caller's mode back.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#define VARSILE_HAS_MXCSR 1

namespace processormode {

inline constexpr unsigned kFlushToZero = 0x8000;
inline constexpr unsigned kDenormalsAreZero = 0x0040;
inline constexpr unsigned kFtzDaz = kFlushToZero | kDenormalsAreZero;

}  // namespace processormode
#endif
