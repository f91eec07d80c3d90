// 64 x 64 -> 128-bit multiplication and 128 / 64-bit division, the only
// operations in which the software extended real's two variants differ.
#pragma once

#include <cstdint>

#include "numeric/platform.hpp"

namespace pelorand {

// mul returns the high word of a * b and stores the low one; div returns
// (hi:lo) / d and stores the remainder, for hi < d and d >= 2^63.

#if PELORAND_HAVE_INT128
struct Int128Limbs {
  __extension__ typedef unsigned __int128 Wide;

  static PELORAND_ALWAYS_INLINE uint64_t mul(uint64_t a, uint64_t b, uint64_t& lo) {
    const Wide p = static_cast<Wide>(a) * b;
    lo = static_cast<uint64_t>(p);
    return static_cast<uint64_t>(p >> 64);
  }

  static uint64_t div(uint64_t hi, uint64_t lo, uint64_t d, uint64_t& rem) {
    const Wide n = (static_cast<Wide>(hi) << 64) | lo;
    const uint64_t q = static_cast<uint64_t>(n / d);
    rem = lo - q * d;  // the true remainder is below d < 2^64
    return q;
  }
};
#endif

// Without a 128-bit type (MSVC): base 2^32.
struct PortableLimbs {
  static PELORAND_ALWAYS_INLINE uint64_t mul(uint64_t a, uint64_t b, uint64_t& lo) {
    const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    // Below 3 * 2^32: the three middle terms cannot overflow.
    const uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    lo = (mid << 32) | (p00 & 0xFFFFFFFFu);
    return p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
  }

  // Schoolbook division: two quotient digits.
  static uint64_t div(uint64_t hi, uint64_t lo, uint64_t d, uint64_t& rem) {
    const uint64_t q1 = digit(hi, lo >> 32, d, rem);
    const uint64_t q0 = digit(rem, lo & 0xFFFFFFFFu, d, rem);
    return (q1 << 32) | q0;
  }

 private:
  // (r * 2^32 + next) / d for r < d. With d normalised, r / d1 overestimates
  // the digit by at most 2, and the test below is exact for a two-digit d.
  static uint64_t digit(uint64_t r, uint64_t next, uint64_t d, uint64_t& rem) {
    const uint64_t d1 = d >> 32, d0 = d & 0xFFFFFFFFu;
    uint64_t q = r / d1;
    uint64_t rhat = r - q * d1;
    while ((q >> 32) != 0 || q * d0 > ((rhat << 32) | next)) {
      --q;
      rhat += d1;
      if ((rhat >> 32) != 0) break;
    }
    rem = ((r << 32) | next) - q * d;  // exact modulo 2^64: the remainder is below d
    return q;
  }
};

}  // namespace pelorand
