// The extended real the module computes with: LDFloat is the hardware's x87
// type on x86 with GCC or Clang, the software one elsewhere. Both offer the
// same operations, each rounded as the x87 rounds it.
#pragma once

#include <type_traits>

#include "numeric/hard_extended.hpp"
#include "numeric/limbs.hpp"
#include "numeric/platform.hpp"
#include "numeric/soft_extended.hpp"

namespace pelorand {

// PELORAND_PORTABLE_LIMBS=1 forces software without __int128, and
// PELORAND_SOFT_EXTENDED=1 software with it where the compiler has it.
#if defined(PELORAND_PORTABLE_LIMBS) && PELORAND_PORTABLE_LIMBS
using LDFloat = SoftExtended<PortableLimbs>;
#elif (defined(PELORAND_SOFT_EXTENDED) && PELORAND_SOFT_EXTENDED) || !PELORAND_HAVE_HARD_EXTENDED
#if PELORAND_HAVE_INT128
using LDFloat = SoftExtended<Int128Limbs>;
#else
using LDFloat = SoftExtended<PortableLimbs>;
#endif
#else
using LDFloat = HardExtended;
#endif

// i -> i * h + a for ints i and fixed h and a, each operation rounded as the
// x87 rounds it, then rounded to double: MulAddToDouble<LDFloat>(h, a)(i).
template <class T>
using MulAddToDouble = typename T::MulAddToDouble;

// Instances live in memory that Python's allocator zero-fills; no constructor runs.
static_assert(std::is_trivially_copyable_v<LDFloat> && std::is_standard_layout_v<LDFloat> &&
              sizeof(LDFloat) <= 16);

}  // namespace pelorand
