// x87 80-bit extended arithmetic (64-bit significand, nearest even, every
// exception masked) with the same bits on every platform. LDFloat, chosen at
// the end, is the hardware type on x86 with GCC or Clang.
#pragma once

#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#if defined(_MSC_VER) && !defined(__clang__)
#define PELORAND_ALWAYS_INLINE __forceinline
#define PELORAND_NOINLINE __declspec(noinline)
#else
#define PELORAND_ALWAYS_INLINE inline __attribute__((always_inline))
#define PELORAND_NOINLINE __attribute__((noinline))
#endif

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

namespace pelorand {

// 64 x 64 -> 128 multiplication and 128 / 64 division for the software type.
// div requires hi < d and d >= 2^63.

#if PELORAND_HAVE_INT128
struct Int128Limbs {
  __extension__ typedef unsigned __int128 Wide;

  static PELORAND_ALWAYS_INLINE uint64_t mul(uint64_t a, uint64_t b, uint64_t& lo) {
    const Wide p = static_cast<Wide>(a) * b;
    lo = static_cast<uint64_t>(p);
    return static_cast<uint64_t>(p >> 64);
  }

  static PELORAND_ALWAYS_INLINE uint64_t mul_narrow(uint64_t a, uint64_t b, uint64_t& lo) {
    // Opaque to the caller's loop, whose counter b would otherwise become a
    // 128-bit induction variable.
    __asm__("" : "+r"(b));
    return mul(a, b, lo);
  }

  static uint64_t div(uint64_t hi, uint64_t lo, uint64_t d, uint64_t& rem) {
    const Wide n = (static_cast<Wide>(hi) << 64) | lo;
    const uint64_t q = static_cast<uint64_t>(n / d);
    rem = lo - q * d;  // the true remainder is below d < 2^64
    return q;
  }
};
#endif

struct PortableLimbs {
  static PELORAND_ALWAYS_INLINE uint64_t mul(uint64_t a, uint64_t b, uint64_t& lo) {
    const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    // Below 3 * 2^32: the three middle terms cannot overflow.
    const uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    lo = (mid << 32) | (p00 & 0xFFFFFFFFu);
    return p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
  }

  // b below 2^32: two partial products instead of four.
  static PELORAND_ALWAYS_INLINE uint64_t mul_narrow(uint64_t a, uint64_t b, uint64_t& lo) {
    const uint64_t p0 = (a & 0xFFFFFFFFu) * b, p1 = (a >> 32) * b;
    lo = p0 + (p1 << 32);
    return (p1 >> 32) + (lo < p0);
  }

  // Schoolbook division in base 2^32: two quotient digits.
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

template <class T>
class SamplePoints;

template <class Limbs>
class SoftExtended {
 public:
  SoftExtended() = default;

  explicit SoftExtended(double d) {
    const uint64_t bits = std::bit_cast<uint64_t>(d);
    const uint32_t field = static_cast<uint32_t>(bits >> 52) & 0x7FF;
    if (field - 1 < 0x7FE) [[likely]] {
      sig_ = (bits << 11) | kTop;
      se_ = (bits & kSign) | (field + kDoubleOffset);
    } else {
      *this = widen_rare(bits);
    }
  }

  explicit SoftExtended(int i) {
    const uint64_t u = i < 0 ? 0u - static_cast<uint64_t>(i) : static_cast<uint64_t>(i);
    if (u == 0) {
      sig_ = 0;
      se_ = 0;
      return;
    }
    const int zeros = std::countl_zero(u);
    sig_ = u << zeros;
    se_ = (static_cast<uint64_t>(static_cast<int64_t>(i)) & kSign) |
          (kBias + 63 - static_cast<uint32_t>(zeros));
  }

  explicit PELORAND_ALWAYS_INLINE operator double() const {
    const uint32_t field = exp_code(se_) - kDoubleOffset;
    if (field - 1 < 0x7FE) [[likely]] {
      const uint64_t kept = sig_ >> 11;
      const uint64_t up = ((sig_ & 0x7FF) + 0x3FF + (kept & 1)) >> 11;
      // The integer bit in `kept` adds the 1 taken off the exponent; a
      // rounding carry moves on into the exponent, up to infinity.
      return std::bit_cast<double>((se_ & kSign) + (static_cast<uint64_t>(field - 1) << 52) +
                                   kept + up);
    }
    return narrow_rare(sig_, se_);
  }

  // The conversion, for a value that an operation produced.
  friend PELORAND_ALWAYS_INLINE double result_to_double(SoftExtended x) {
    return static_cast<double>(x);
  }

  // Unnormals, pseudo-NaNs and pseudo-infinities, which no operation
  // produces, are not read as the x87 reads them.
  static SoftExtended from_bits(uint16_t sign_exponent, uint64_t significand) {
    const uint32_t e = sign_exponent & 0x7FFFu;
    uint32_t code = e;
    if (e == 0x7FFF) code = kSpecial;
    if (e == 0) code = significand != 0 ? 1 : 0;
    return make(significand, (static_cast<uint64_t>(sign_exponent >> 15) << 63) | code);
  }

  uint16_t sign_exponent() const {
    uint32_t e = exp_code(se_);
    if (e == kSpecial) e = 0x7FFF;
    if (e == 1 && (sig_ >> 63) == 0) e = 0;
    return static_cast<uint16_t>(((se_ >> 63) << 15) | e);
  }

  uint64_t significand() const { return sig_; }

  friend PELORAND_ALWAYS_INLINE SoftExtended operator+(SoftExtended a, SoftExtended b) {
    return add(a, b, 0);
  }
  friend PELORAND_ALWAYS_INLINE SoftExtended operator-(SoftExtended a, SoftExtended b) {
    return add(a, b, kSign);
  }

  friend PELORAND_ALWAYS_INLINE SoftExtended operator*(SoftExtended a, SoftExtended b) {
    uint64_t lo;
    uint64_t hi = Limbs::mul(a.sig_, b.sig_, lo);
    // One addition gives the product's sign (bit 63) and exponent; it wraps
    // to a huge code on underflow, and lands far above with an infinity or NaN.
    uint64_t se = a.se_ + b.se_ - (kBias - 1);
    if (static_cast<int64_t>(hi) >= 0) {
      hi = (hi << 1) | (lo >> 63);
      lo <<= 1;
      --se;
    }
    const uint64_t r = hi + round_up(hi, lo);
    // Zero and subnormal factors leave hi unnormalised; a carry out clears r.
    if (exp_code(se) - 1 < 0x7FFE && static_cast<int64_t>(hi & r) < 0) [[likely]] {
      return make(r, se);
    }
    return mul_rare(a.sig_, a.se_, b.sig_, b.se_);
  }

  friend SoftExtended operator/(SoftExtended a, SoftExtended b) {
    return div_rare(a.sig_, a.se_, b.sig_, b.se_);
  }

  friend SoftExtended operator-(SoftExtended x) { return make(x.sig_, x.se_ ^ kSign); }
  friend SoftExtended fabs(SoftExtended x) { return make(x.sig_, x.se_ & ~kSign); }
  friend bool isnan(SoftExtended x) { return x.is_nan(); }

  friend bool operator==(SoftExtended a, SoftExtended b) { return order(a, b) == 0; }
  friend bool operator!=(SoftExtended a, SoftExtended b) { return order(a, b) != 0; }
  friend bool operator<(SoftExtended a, SoftExtended b) { return order(a, b) == -1; }
  friend bool operator>(SoftExtended a, SoftExtended b) { return order(a, b) == 1; }
  friend bool operator<=(SoftExtended a, SoftExtended b) {
    const int o = order(a, b);
    return o == -1 || o == 0;
  }
  friend bool operator>=(SoftExtended a, SoftExtended b) {
    const int o = order(a, b);
    return o == 1 || o == 0;
  }

 private:
  friend class SamplePoints<SoftExtended>;

  static constexpr uint64_t kTop = uint64_t{1} << 63;
  static constexpr uint64_t kSign = uint64_t{1} << 63;
  static constexpr uint64_t kQuiet = uint64_t{1} << 62;
  static constexpr uint32_t kBias = 16383;
  // Far enough above the finite exponents that any product or sum with an
  // infinity or NaN fails the fast paths' exponent checks.
  static constexpr uint32_t kSpecial = 0x10000;
  static constexpr uint32_t kDoubleOffset = 16383 - 1023;

  uint64_t sig_;  // with its explicit integer bit, clear in subnormals
  // Sign in bit 63; low 32 bits: 0 for zero, the biased exponent 1..0x7ffe
  // (1 for subnormals), kSpecial for infinities and NaNs. Zero bytes are +0.
  uint64_t se_;

  static PELORAND_ALWAYS_INLINE SoftExtended make(uint64_t sig, uint64_t se) {
    SoftExtended r;
    r.sig_ = sig;
    r.se_ = se;
    return r;
  }

  static PELORAND_ALWAYS_INLINE uint32_t exp_code(uint64_t se) {
    return static_cast<uint32_t>(se);
  }

  // 1 when the bits below the last place, lo, call for rounding hi up
  // (nearest, ties to even).
  static PELORAND_ALWAYS_INLINE uint64_t round_up(uint64_t hi, uint64_t lo) {
    return lo > kTop - (hi & 1);
  }

  uint32_t neg() const { return static_cast<uint32_t>(se_ >> 63); }
  bool is_special() const { return exp_code(se_) == kSpecial; }
  bool is_nan() const { return is_special() && (sig_ << 1) != 0; }
  bool is_inf() const { return is_special() && (sig_ << 1) == 0; }
  bool is_zero() const { return exp_code(se_) == 0 || sig_ == 0; }

  // Unordered is 2.
  static int order(SoftExtended a, SoftExtended b) {
    if (a.is_nan() || b.is_nan()) return 2;
    if (a.is_zero() && b.is_zero()) return 0;
    if (a.neg() != b.neg()) return a.neg() ? -1 : 1;
    int magnitude = 0;
    if (exp_code(a.se_) != exp_code(b.se_)) {
      magnitude = exp_code(a.se_) < exp_code(b.se_) ? -1 : 1;
    } else if (a.sig_ != b.sig_) {
      magnitude = a.sig_ < b.sig_ ? -1 : 1;
    }
    return a.neg() ? -magnitude : magnitude;
  }

  // a + b, or a - b when flip is kSign. The two orders are separate copies
  // of the fast path rather than a swap, which costs register moves.
  static PELORAND_ALWAYS_INLINE SoftExtended add(SoftExtended a, SoftExtended b, uint64_t flip) {
    const uint64_t sb = b.se_ ^ flip;
    SoftExtended r;
    const bool done = exp_code(a.se_) >= exp_code(sb) ? add_fast(a.sig_, a.se_, b.sig_, sb, r)
                                                      : add_fast(b.sig_, sb, a.sig_, a.se_, r);
    if (done) [[likely]] return r;
    return add_rare(a.sig_, a.se_, b.sig_, b.se_, flip);
  }

  // The sum when both are finite, |a|'s exponent is not below |b|'s and the
  // result is normal; false otherwise.
  static PELORAND_ALWAYS_INLINE bool add_fast(uint64_t ma, uint64_t sa, uint64_t mb, uint64_t sb,
                                              SoftExtended& out) {
    const uint32_t d = exp_code(sa) - exp_code(sb);
    if (d >= 64) {
      out = make(ma, sa);
      return exp_code(sb) == 0 && exp_code(sa) < 0x7FFF;  // a zero added to a finite value
    }
    // b aligned to a, exactly: bh above a's last place, lo below it.
    const uint64_t bh = mb >> d;
    uint64_t lo = (mb << (63 - d)) << 1;
    if (static_cast<int64_t>(sa ^ sb) >= 0) {
      uint64_t hi = ma + bh;
      if (hi < bh) {
        lo = (hi << 63) | (lo >> 1);  // exact: with d < 64 the lowest bit of lo is clear
        hi = (hi >> 1) | kTop;
        ++sa;
      }
      const uint64_t r = hi + round_up(hi, lo);
      out = make(r, sa);
      return exp_code(sa) < 0x7FFF && static_cast<int64_t>(hi & r) < 0;
    }
    if (d >= 2) {
      // |a| - |b| > 2^62 units of a's last place: one shift at most.
      const uint64_t borrow = lo != 0;
      lo = 0 - lo;
      uint64_t hi = ma - bh - borrow;
      if (static_cast<int64_t>(hi) >= 0) {
        hi = (hi << 1) | (lo >> 63);
        lo <<= 1;
        --sa;
      }
      const uint64_t r = hi + round_up(hi, lo);
      out = make(r, sa);
      return exp_code(sa) - 1 < 0x7FFE && static_cast<int64_t>(r) < 0;
    }
    // d is 0 or 1: the difference 2^d * ma - mb is exact in 65 bits.
    const uint64_t x = ma << d;
    uint64_t t = x - mb;
    if (x < mb) {
      if (d == 0) {  // b is the larger
        t = 0 - t;
        sa ^= kSign;
      }
    } else if (d != 0 && static_cast<int64_t>(ma) < 0) {  // 65 bits: a one above t
      const uint64_t hi = kTop | (t >> 1);
      const uint64_t r = hi + round_up(hi, t << 63);
      out = make(r, sa);
      return exp_code(sa) - 1 < 0x7FFE && static_cast<int64_t>(r) < 0;
    }
    if (t == 0) return false;
    const int s = std::countl_zero(t);
    sa -= d + static_cast<uint64_t>(s);  // a borrow makes the code huge
    out = make(t << s, sa);
    return exp_code(sa) - 1 < 0x7FFE;
  }

  // The general cases, out of line. Finite nonzero values are taken apart
  // as m * 2^(e - kBias - 63) with m normalised and e unbounded.
  struct Parts {
    uint64_t m;
    int32_t e;
  };

  static Parts parts(SoftExtended x) {
    const int s = std::countl_zero(x.sig_);
    return {x.sig_ << s, static_cast<int32_t>(exp_code(x.se_)) - s};
  }

  static SoftExtended finite(uint64_t sig, uint32_t code, uint32_t neg) {
    return make(sig, (static_cast<uint64_t>(neg) << 63) | code);
  }
  static SoftExtended zero(uint32_t neg) { return finite(0, 0, neg); }
  static SoftExtended infinity(uint32_t neg) { return finite(kTop, kSpecial, neg); }
  // The x87 "real indefinite", the result of every invalid operation.
  static SoftExtended indefinite() { return finite(kTop | kQuiet, kSpecial, 1); }

  // The x87 picks the NaN with the larger significand, the positive one of
  // two equal ones, and quiets it; the sign is never flipped by subtraction.
  static PELORAND_NOINLINE SoftExtended propagate_nan(SoftExtended a, SoftExtended b) {
    SoftExtended r = b;
    if (a.is_nan() &&
        (!b.is_nan() || a.sig_ > b.sig_ || (a.sig_ == b.sig_ && a.neg() == 0))) {
      r = a;
    }
    r.sig_ |= kQuiet;
    return r;
  }

  // (hi:lo) >> n, any bits shifted out folded into the lowest bit.
  static void shift_right_jam(uint64_t& hi, uint64_t& lo, uint32_t n) {
    if (n == 0) return;
    if (n < 64) {
      lo = (hi << (64 - n)) | (lo >> n) | ((lo << (64 - n)) != 0);
      hi >>= n;
    } else if (n < 128) {
      const uint64_t out = (n == 64 ? 0 : hi << (128 - n)) | lo;
      lo = (n == 64 ? hi : hi >> (n - 64)) | (out != 0);
      hi = 0;
    } else {
      lo = (hi | lo) != 0;
      hi = 0;
    }
  }

  // Rounds m = (hi:lo) / 2^127 times 2^(e - kBias), hi normalised, to the
  // format: one rounding, also for results that must be denormalised.
  static SoftExtended round_pack(uint32_t neg, int32_t e, uint64_t hi, uint64_t lo) {
    if (e >= 1) {
      uint64_t r = hi + round_up(hi, lo);
      if (r == 0) {
        r = kTop;
        ++e;
      }
      if (e >= 0x7FFF) return infinity(neg);
      return finite(r, static_cast<uint32_t>(e), neg);
    }
    const int64_t shift = 1 - static_cast<int64_t>(e);
    shift_right_jam(hi, lo, shift > 128 ? 128 : static_cast<uint32_t>(shift));
    const uint64_t r = hi + round_up(hi, lo);
    if (r == 0) return zero(neg);
    return finite(r, 1, neg);  // code 1 whether or not it rounded up to normal
  }

  // Fields are passed one by one, so that the inline callers never build
  // the operands in memory.
  static PELORAND_NOINLINE SoftExtended add_rare(uint64_t ma, uint64_t sa, uint64_t mb,
                                                 uint64_t sb, uint64_t flip) {
    const SoftExtended a = make(ma, sa);
    SoftExtended b = make(mb, sb);
    if (a.is_nan() || b.is_nan()) return propagate_nan(a, b);
    b.se_ ^= flip;
    if (a.is_inf()) return b.is_inf() && a.neg() != b.neg() ? indefinite() : a;
    if (b.is_inf()) return b;
    if (b.is_zero()) return a.is_zero() ? zero(a.neg() & b.neg()) : a;
    if (a.is_zero()) return b;

    Parts x = parts(a), y = parts(b);
    uint32_t nx = a.neg(), ny = b.neg();
    if (x.e < y.e || (x.e == y.e && x.m < y.m)) {
      std::swap(x, y);
      std::swap(nx, ny);
    }
    uint64_t bh = y.m, bl = 0;
    shift_right_jam(bh, bl, static_cast<uint32_t>(x.e - y.e));
    if (nx == ny) {
      uint64_t hi = x.m + bh;
      uint64_t lo = bl;
      int32_t e = x.e;
      if (hi < bh) {
        lo = (hi << 63) | (lo >> 1) | (lo & 1);
        hi = (hi >> 1) | kTop;
        ++e;
      }
      return round_pack(nx, e, hi, lo);
    }
    // |x| >= |y|; a jammed bit sits far below the rounding place, where it
    // still decides only between "exact" and "not exact".
    uint64_t lo = 0 - bl;
    uint64_t hi = x.m - bh - (bl != 0);
    if (hi == 0 && lo == 0) return zero(0);
    const int s = hi != 0 ? std::countl_zero(hi) : 64 + std::countl_zero(lo);
    if (s >= 64) {
      hi = lo << (s - 64);
      lo = 0;
    } else if (s > 0) {
      hi = (hi << s) | (lo >> (64 - s));
      lo <<= s;
    }
    return round_pack(nx, x.e - s, hi, lo);
  }

  static PELORAND_NOINLINE SoftExtended mul_rare(uint64_t ma, uint64_t sa, uint64_t mb,
                                                 uint64_t sb) {
    const SoftExtended a = make(ma, sa), b = make(mb, sb);
    if (a.is_nan() || b.is_nan()) return propagate_nan(a, b);
    const uint32_t neg = a.neg() ^ b.neg();
    if (a.is_inf() || b.is_inf()) return a.is_zero() || b.is_zero() ? indefinite() : infinity(neg);
    if (a.is_zero() || b.is_zero()) return zero(neg);
    const Parts x = parts(a), y = parts(b);
    uint64_t lo;
    uint64_t hi = Limbs::mul(x.m, y.m, lo);
    int32_t e = x.e + y.e - static_cast<int32_t>(kBias) + 1;
    if ((hi >> 63) == 0) {
      hi = (hi << 1) | (lo >> 63);
      lo <<= 1;
      --e;
    }
    return round_pack(neg, e, hi, lo);
  }

  static PELORAND_NOINLINE SoftExtended div_rare(uint64_t ma, uint64_t sa, uint64_t mb,
                                                 uint64_t sb) {
    const SoftExtended a = make(ma, sa), b = make(mb, sb);
    if (a.is_nan() || b.is_nan()) return propagate_nan(a, b);
    const uint32_t neg = a.neg() ^ b.neg();
    if (a.is_inf()) return b.is_inf() ? indefinite() : infinity(neg);
    if (b.is_inf()) return zero(neg);
    if (b.is_zero()) return a.is_zero() ? indefinite() : infinity(neg);
    if (a.is_zero()) return zero(neg);
    const Parts x = parts(a), y = parts(b);
    int32_t e = x.e - y.e + static_cast<int32_t>(kBias);
    uint64_t nh = x.m, nl = 0;
    if (x.m >= y.m) {
      nl = x.m << 63;
      nh = x.m >> 1;
    } else {
      --e;
    }
    uint64_t rem;
    const uint64_t q = Limbs::div(nh, nl, y.m, rem);
    // The remainder as the bits below the quotient: exact against one half,
    // and nonzero exactly when the quotient is inexact.
    uint64_t lo = 0;
    if (rem != 0) {
      const uint64_t other = y.m - rem;
      lo = rem > other ? 0xC000000000000000u : rem == other ? kTop : 0x4000000000000000u;
    }
    return round_pack(neg, e, q, lo);
  }

  static PELORAND_NOINLINE SoftExtended widen_rare(uint64_t bits) {
    const uint64_t sign = bits & kSign;
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    if ((bits & (uint64_t{0x7FF} << 52)) != 0) {
      // Infinity, or a NaN keeping its payload and quiet bit.
      return make(kTop | (fraction << 11), sign | kSpecial);
    }
    if (fraction == 0) return make(0, sign);
    const int width = std::bit_width(fraction);
    return make(fraction << (64 - width),
                sign | (kDoubleOffset - 52 + static_cast<uint32_t>(width)));
  }

  static PELORAND_NOINLINE double narrow_rare(uint64_t sig, uint64_t se) {
    const SoftExtended x = make(sig, se);
    const uint64_t sign = x.se_ & kSign;
    const uint64_t exponent = uint64_t{0x7FF} << 52;
    if (x.is_special()) {
      if (x.is_inf()) return std::bit_cast<double>(sign | exponent);
      uint64_t fraction = (x.sig_ >> 11) & ((uint64_t{1} << 52) - 1);
      // A signalling NaN with nothing in the kept bits would read as infinity.
      if (fraction == 0) fraction = uint64_t{1} << 51;
      return std::bit_cast<double>(sign | exponent | fraction);
    }
    if (x.is_zero()) return std::bit_cast<double>(sign);
    const Parts p = parts(x);
    const int32_t field = p.e - static_cast<int32_t>(kDoubleOffset);
    if (field >= 0x7FF) return std::bit_cast<double>(sign | exponent);
    if (field >= 1) {
      const uint64_t kept = p.m >> 11;
      const uint64_t up = ((p.m & 0x7FF) + 0x3FF + (kept & 1)) >> 11;
      return std::bit_cast<double>(sign + (static_cast<uint64_t>(field - 1) << 52) + kept + up);
    }
    // Double subnormals: the significand in units of 2^-1074 is m / 2^(12 - field).
    uint64_t hi = p.m, lo = 0;
    const int64_t shift = 12 - static_cast<int64_t>(field);
    shift_right_jam(hi, lo, shift > 128 ? 128 : static_cast<uint32_t>(shift));
    return std::bit_cast<double>(sign | (hi + round_up(hi, lo)));
  }
};

#if PELORAND_HAVE_HARD_EXTENDED
// The hardware type. Only NaNs crossing to and from double are built by
// hand: fld and fstp would quiet a signalling NaN.
class HardExtended {
 public:
  HardExtended() = default;

  explicit HardExtended(double d) {
    if (d == d) [[likely]] {
      v_ = d;
    } else {
      const uint64_t bits = std::bit_cast<uint64_t>(d);
      *this = from_bits(static_cast<uint16_t>(0x7FFF | ((bits >> 48) & 0x8000)),
                        (uint64_t{1} << 63) | (bits << 12 >> 1));
    }
  }

  explicit HardExtended(int i) : v_(i) {}

  explicit PELORAND_ALWAYS_INLINE operator double() const {
    if (v_ == v_) [[likely]] return static_cast<double>(v_);
    uint64_t fraction = (significand() >> 11) & ((uint64_t{1} << 52) - 1);
    if (fraction == 0) fraction = uint64_t{1} << 51;
    return std::bit_cast<double>((static_cast<uint64_t>(sign_exponent() >> 15) << 63) |
                                 (uint64_t{0x7FF} << 52) | fraction);
  }

  // The conversion, for a value that an operation produced: that is never a
  // signalling NaN, so the hardware's own rounding gives the same bits.
  friend PELORAND_ALWAYS_INLINE double result_to_double(HardExtended x) {
    return static_cast<double>(x.v_);
  }

  static HardExtended from_bits(uint16_t sign_exponent, uint64_t significand) {
    unsigned char bytes[sizeof(long double)] = {};
    std::memcpy(bytes, &significand, 8);
    std::memcpy(bytes + 8, &sign_exponent, 2);
    HardExtended r;
    std::memcpy(&r.v_, bytes, sizeof bytes);
    return r;
  }

  uint16_t sign_exponent() const {
    uint16_t se;
    std::memcpy(&se, reinterpret_cast<const unsigned char*>(&v_) + 8, 2);
    return se;
  }

  uint64_t significand() const {
    uint64_t m;
    std::memcpy(&m, &v_, 8);
    return m;
  }

  friend PELORAND_ALWAYS_INLINE HardExtended operator+(HardExtended a, HardExtended b) {
    return wrap(a.v_ + b.v_);
  }
  friend PELORAND_ALWAYS_INLINE HardExtended operator-(HardExtended a, HardExtended b) {
    return wrap(a.v_ - b.v_);
  }
  friend PELORAND_ALWAYS_INLINE HardExtended operator*(HardExtended a, HardExtended b) {
    return wrap(a.v_ * b.v_);
  }
  friend PELORAND_ALWAYS_INLINE HardExtended operator/(HardExtended a, HardExtended b) {
    return wrap(a.v_ / b.v_);
  }
  friend HardExtended operator-(HardExtended x) { return wrap(-x.v_); }
  friend HardExtended fabs(HardExtended x) { return wrap(__builtin_fabsl(x.v_)); }
  friend bool isnan(HardExtended x) { return x.v_ != x.v_; }

  friend bool operator==(HardExtended a, HardExtended b) { return a.v_ == b.v_; }
  friend bool operator!=(HardExtended a, HardExtended b) { return a.v_ != b.v_; }
  friend bool operator<(HardExtended a, HardExtended b) { return a.v_ < b.v_; }
  friend bool operator>(HardExtended a, HardExtended b) { return a.v_ > b.v_; }
  friend bool operator<=(HardExtended a, HardExtended b) { return a.v_ <= b.v_; }
  friend bool operator>=(HardExtended a, HardExtended b) { return a.v_ >= b.v_; }

 private:
  long double v_;

  static PELORAND_ALWAYS_INLINE HardExtended wrap(long double v) {
    HardExtended r;
    r.v_ = v;
    return r;
  }
};
#endif

// The points a + i * h of one trapezoid grid as the integrand receives them:
// at(i) is exactly result_to_double(a + T(i) * h), three roundings.
template <class T>
class SamplePoints {
 public:
  SamplePoints(T a, T h) : a_(a), h_(h) {}

  PELORAND_ALWAYS_INLINE double at(int i) const { return result_to_double(a_ + T(i) * h_); }

 private:
  T a_;
  T h_;
};

// Fused when a and h allow: Q = i * m(h) and a's significand are integers in
// a frame whose unit is fixed per grid, so the sum is exact in 128 bits (a far
// below Q jammed) and each rounding acts on integers: Q's, then the sum's twice.
template <class Limbs>
class SamplePoints<SoftExtended<Limbs>> {
  using X = SoftExtended<Limbs>;

 public:
  SamplePoints(X a, X h) : a_(a), h_(h) {
    const uint32_t ca = X::exp_code(a.se_), ch = X::exp_code(h.se_);
    const bool a_zero = ca == 0 && a.sig_ == 0;
    const bool a_normal = ca - 1 < 0x7FFE && static_cast<int64_t>(a.sig_) < 0;
    const bool h_normal = ch - 1 < 0x7FFE && static_cast<int64_t>(h.sig_) < 0;
    if (!h_normal || !(a_zero || a_normal)) return;
    hs_ = h.sig_;
    // Unbiased exponent of the frame's unit.
    int32_t unit = static_cast<int32_t>(ch) - static_cast<int32_t>(X::kBias) - 63;
    uint64_t sign = h.se_ & X::kSign;
    bool opposite = false;
    bool shifted = false;
    if (a_normal) {
      const int32_t d = static_cast<int32_t>(ca) - static_cast<int32_t>(ch);
      // a shifted up by d, or by d + kShift with Q by kShift: below 2^126 for
      // any i < 2^31. Below d = -kShift every sum rounds at bit 30 or above,
      // so a's bits below bit 0 may be jammed into it.
      if (d > 62) return;
      const int32_t up = d >= 0 ? d : d + kShift;
      if (up >= 0) {
        a_lo_ = a.sig_ << up;
        a_hi_ = up == 0 ? 0 : a.sig_ >> (64 - up);
      } else {
        a_lo_ = up <= -64 ? 1 : (a.sig_ >> -up) | ((a.sig_ << (64 + up)) != 0);
      }
      shifted = d < 0;
      if (shifted) unit -= kShift;
      sign = a.se_ & X::kSign;
      opposite = ((a.se_ ^ h.se_) & X::kSign) != 0;
    }
    // The double's exponent field less one for a sum whose top bit is bit
    // 127 of the frame: every sum from 2^64 to 2^127 units is a normal double.
    const int32_t base = unit + 1149;
    if (base < 63 || base > 0x7FD) return;
    sign_base_ = sign | (static_cast<uint64_t>(base) << 52);
    // Q needs no rounding below limit_: its low tz(m(h)) bits are zero. At
    // most 2^30, so that a negative i, read as 2^31 or more, always exceeds it.
    limit_ = uint64_t{1} << (std::countr_zero(hs_) < 30 ? std::countr_zero(hs_) : 30);
    mode_ = (opposite ? kOpposite : kSame) | (shifted ? kShifted : kSame);
  }

  PELORAND_ALWAYS_INLINE double at(int i) const {
    if (mode_ == kSame) return fused<false, false>(i);
    if (mode_ == kOpposite) return fused<true, false>(i);
    if (mode_ == (kSame | kShifted)) return fused<false, true>(i);
    if (mode_ == (kOpposite | kShifted)) return fused<true, true>(i);
    return generic(i);
  }

 private:
  static constexpr uint32_t kSame = 0, kOpposite = 1, kShifted = 2, kGeneric = 4;
  static constexpr int32_t kShift = 31;

  X a_;
  X h_;
  uint64_t hs_ = 0;
  uint64_t a_lo_ = 0;  // a's significand in frame units, 128 bits
  uint64_t a_hi_ = 0;
  uint64_t limit_ = 0;
  uint64_t sign_base_ = 0;  // the sign bit and base << 52
  uint32_t mode_ = kGeneric;

  template <bool opposite, bool shifted>
  PELORAND_ALWAYS_INLINE double fused(int i) const {
    uint64_t lo;
    uint64_t hi = Limbs::mul_narrow(hs_, static_cast<uint32_t>(i), lo);
    if (hi >= limit_) {
      if (i < 0) return generic(i);
      // Q has 64 + k bits, k from 1 (hi is at least limit_) to 31: rounds to
      // a multiple of 2^k, nearest even.
      const uint64_t step = uint64_t{2} << (63 - std::countl_zero(hi | 1));
      const uint64_t t = lo + ((step >> 1) - 1) + ((lo & step) != 0);
      hi += t < lo;
      lo = t & (0 - step);
    }
    if constexpr (shifted) {
      hi = (hi << kShift) | (lo >> (64 - kShift));
      lo <<= kShift;
    }
    uint64_t vlo, vhi;
    if constexpr (opposite) {
      vlo = a_lo_ - lo;
      vhi = a_hi_ - (hi + (a_lo_ < lo));
    } else {
      vlo = a_lo_ + lo;
      vhi = a_hi_ + hi + (vlo < lo);
    }
    uint64_t sign_base = sign_base_;
    // One test for a negative difference (its high word is at least 2^64 -
    // 2^62) and for a zero high word, whose sums take the generic path.
    if (static_cast<int64_t>(vhi - 1) < 0) {
      if (vhi != 0) {
        vhi = ~vhi + (vlo == 0);
        vlo = 0 - vlo;
        sign_base ^= X::kSign;
      }
      if (vhi == 0) return generic(i);
    }
    // At least 1: every sum is below 2^127 units.
    const int s = std::countl_zero(vhi);
    const uint64_t sig = (vhi << s) | (vlo >> (64 - s));
    const uint64_t rest = vlo << s;
    // Nearest even at bit 0, then at bit 11: the first carry joins the
    // second's addend. A carry out of sig, rare, is left to the generic path.
    const uint64_t up = X::round_up(sig, rest) + 0x3FF + ((sig >> 11) & 1);
    const uint64_t t = sig + up;
    if (t < up) return generic(i);
    return std::bit_cast<double>(sign_base - (static_cast<uint64_t>(s) << 52) + (t >> 11));
  }

  PELORAND_NOINLINE double generic(int i) const { return result_to_double(a_ + X(i) * h_); }
};

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

// Instances live in memory that Python's allocator zero-fills; no constructor runs.
static_assert(std::is_trivially_copyable_v<LDFloat> && std::is_standard_layout_v<LDFloat> &&
              sizeof(LDFloat) <= 16);

}  // namespace pelorand
