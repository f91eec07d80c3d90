// What the compiler and the target offer the extended real.
#pragma once

#include <cfloat>

#if defined(_MSC_VER) && !defined(__clang__)
#define PELORAND_ALWAYS_INLINE __forceinline
#define PELORAND_NOINLINE __declspec(noinline)
#else
#define PELORAND_ALWAYS_INLINE inline __attribute__((always_inline))
#define PELORAND_NOINLINE __attribute__((noinline))
#endif

// long double is the x87 80-bit type.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && LDBL_MANT_DIG == 64
#define PELORAND_HAVE_HARD_EXTENDED 1
#else
#define PELORAND_HAVE_HARD_EXTENDED 0
#endif

#if defined(__SIZEOF_INT128__)
#define PELORAND_HAVE_INT128 1
#else
#define PELORAND_HAVE_INT128 0
#endif
