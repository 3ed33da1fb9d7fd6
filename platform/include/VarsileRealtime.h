// VARSILE_NONBLOCKING marks a function the render path reaches. With a
// compiler that knows clang's function effects it is [[clang::nonblocking]]:
// under -fsanitize=realtime a call to a marked function opens a real-time
// context in which any allocation, lock or blocking system call stops the
// program, and -Wfunction-effects checks the callees at compile time. Other
// compilers see nothing.
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
