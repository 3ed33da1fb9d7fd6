// VARSILE_NONBLOCKING marks a function the render path reaches. With a
// compiler that knows clang's function effects it is [[clang::nonblocking]]:
// under -fsanitize=realtime a call to a marked function opens a real-time
// context in which any allocation, lock or blocking system call stops the
// program (the realtime test stage renders that way). Only the entry points
// of the render path carry it, not every callee, so the compile-time check
// -Wfunction-effects is not used. Other compilers see nothing.
//
// The attribute belongs to the function type, so it goes where a noexcept
// would, after the parameter list and any noexcept, before override:
//   void Process(const float* in, float* out, UInt32 n) noexcept VARSILE_NONBLOCKING override;
#pragma once

#if defined(__cplusplus) && defined(__has_cpp_attribute)
#if __has_cpp_attribute(clang::nonblocking)
#define VARSILE_NONBLOCKING [[clang::nonblocking]]
#endif
#endif

#ifndef VARSILE_NONBLOCKING
#define VARSILE_NONBLOCKING
#endif
