// The x87 80-bit extended real in software (64-bit significand with explicit
// integer bit, 15-bit exponent, gradual underflow, nearest even, every
// exception masked), bit for bit what the hardware computes.
//
// Each operation is written once, split by what it does to magnitudes, and
// leaves through one exit per format: round_pack, round_pack_double.
// A fast path exists only where bench/ shows the integrand loop pays for it.
#pragma once

#include <bit>
#include <cstdint>
#include <utility>

#include "numeric/limbs.hpp"
#include "numeric/platform.hpp"

namespace pelorand {

// The encoding; all-zero bytes are +0.
// sig_: the significand with its explicit integer bit, bit 63, which is set in
//   normal values, infinities and NaNs and clear in zero and subnormals.
//   Infinity has no other bit set, a NaN some; zero has none.
// se_: the sign in bit 63, the exponent code in bits 0-14, bits 15-62 zero.
//   Code 0 is zero, 1 to 0x7FFE the biased exponent (1 also for subnormals,
//   the exponent the x87 reads them with), 0x7FFF infinity or NaN.
template <class Limbs>
class SoftExtended {
 public:
  SoftExtended() = default;

  // Exact. A NaN keeps its sign, payload and quiet bit.
  explicit SoftExtended(double d) {
    const uint64_t bits = std::bit_cast<uint64_t>(d);
    const uint64_t sign = bits & kSign;
    const uint32_t field = static_cast<uint32_t>(bits >> 52) & 0x7FF;
    uint64_t sig = (bits << 12) >> 1;  // the fraction, below the integer bit
    if (field == 0x7FF) {
      *this = make(kIntegerBit | sig, sign | kSpecial);
    } else if (field != 0) {
      *this = make(kIntegerBit | sig, sign | (field + kDoubleOffset));
    } else if (sig == 0) {
      *this = zero(sign);
    } else {
      const int s = normalize(sig);
      *this = make(sig, sign | static_cast<uint32_t>(kDoubleOffset + 1 - s));
    }
  }

  // Exact.
  explicit SoftExtended(int i) {
    uint64_t sig = i < 0 ? 0 - static_cast<uint64_t>(i) : static_cast<uint64_t>(i);
    if (sig == 0) {
      *this = zero(0);
    } else {
      const int s = normalize(sig);
      *this = make(sig, (i < 0 ? kSign : 0) | static_cast<uint32_t>(kBias + 63 - s));
    }
  }

  // Rounded once, to nearest even. A NaN keeps its sign and the payload bits
  // that a double holds.
  explicit operator double() const {
    if (is_special()) [[unlikely]] return special_to_double(sig_, se_ & kSign);
    if (code() == 0) return std::bit_cast<double>(se_ & kSign);
    const Unpacked x = unpack(*this);
    return round_pack_double(se_ & kSign, x.exp, x.sig, 0);
  }

  class MulAddToDouble;

  // Unnormals and pseudo-zeros, which no operation produces, are read by
  // their value, and pseudo-infinities and pseudo-NaNs with the integer bit
  // set; the x87 reads them all as invalid operands.
  static SoftExtended from_bits(uint16_t sign_exponent, uint64_t significand) {
    const uint64_t sign = static_cast<uint64_t>(sign_exponent >> 15) << 63;
    const uint32_t field = sign_exponent & 0x7FFFu;
    if (field == kSpecial) return make(significand | kIntegerBit, sign | kSpecial);
    if (significand == 0) return zero(sign);
    int32_t exp = field == 0 ? 1 : static_cast<int32_t>(field);
    exp -= normalize(significand);
    return round_pack(sign, exp, significand, 0);  // exact
  }

  uint16_t sign_exponent() const {
    const uint32_t field = (sig_ & kIntegerBit) == 0 && code() == 1 ? 0 : code();
    return static_cast<uint16_t>(((se_ >> 63) << 15) | field);
  }

  uint64_t significand() const { return sig_; }

  friend SoftExtended operator+(SoftExtended a, SoftExtended b) { return add(a, b, 0); }
  friend SoftExtended operator-(SoftExtended a, SoftExtended b) { return add(a, b, kSign); }

  friend SoftExtended operator*(SoftExtended a, SoftExtended b) {
    if (!is_finite_nonzero(a.code()) || !is_finite_nonzero(b.code())) [[unlikely]] {
      return multiply_special(a, b);
    }
    const Unpacked x = unpack(a), y = unpack(b);
    uint64_t lo;
    uint64_t hi = Limbs::mul(x.sig, y.sig, lo);
    int32_t exp = x.exp + y.exp - kBias + 1;
    exp -= normalize(hi, lo);  // one place at most: the product is at least 2^126
    return round_pack((a.se_ ^ b.se_) & kSign, exp, hi, lo);
  }

  friend SoftExtended operator/(SoftExtended a, SoftExtended b) {
    if (!is_finite_nonzero(a.code()) || !is_finite_nonzero(b.code())) [[unlikely]] {
      return divide_special(a, b);
    }
    const Unpacked x = unpack(a), y = unpack(b);
    // The dividend halved when it is not below the divisor: the quotient then
    // lies in [2^63, 2^64).
    int32_t exp = x.exp - y.exp + kBias;
    uint64_t nh = x.sig, nl = 0;
    if (x.sig >= y.sig) {
      nl = x.sig << 63;
      nh = x.sig >> 1;
    } else {
      --exp;
    }
    uint64_t rem;
    const uint64_t q = Limbs::div(nh, nl, y.sig, rem);
    // The remainder as the bits below the quotient: exact against one half,
    // and nonzero exactly when the quotient is inexact.
    uint64_t extra = 0;
    if (rem != 0) {
      const uint64_t other = y.sig - rem;
      extra = rem > other ? 0xC000000000000000u : rem == other ? kHalf : 0x4000000000000000u;
    }
    return round_pack((a.se_ ^ b.se_) & kSign, exp, q, extra);
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
  static constexpr uint64_t kSign = uint64_t{1} << 63;
  static constexpr uint64_t kIntegerBit = uint64_t{1} << 63;
  static constexpr uint64_t kQuiet = uint64_t{1} << 62;
  static constexpr uint64_t kHalf = uint64_t{1} << 63;  // of the bits below the last place
  static constexpr int32_t kBias = 16383;
  static constexpr uint32_t kSpecial = 0x7FFF;
  static constexpr int32_t kDoubleOffset = kBias - 1023;

  uint64_t sig_;
  uint64_t se_;

  static PELORAND_ALWAYS_INLINE SoftExtended make(uint64_t sig, uint64_t se) {
    SoftExtended r;
    r.sig_ = sig;
    r.se_ = se;
    return r;
  }

  PELORAND_ALWAYS_INLINE uint32_t code() const { return static_cast<uint32_t>(se_); }

  // Codes 1 to 0x7FFE; for an exponent, one the format holds as it is.
  static PELORAND_ALWAYS_INLINE bool is_finite_nonzero(uint32_t code) {
    return code - 1 < kSpecial - 1;
  }

  bool is_special() const { return code() == kSpecial; }
  bool is_nan() const { return is_special() && (sig_ << 1) != 0; }
  bool is_inf() const { return is_special() && (sig_ << 1) == 0; }
  bool is_zero() const { return code() == 0; }
  bool is_normal() const { return (sig_ & kIntegerBit) != 0 && !is_special(); }

  // Shifts (hi:lo), hi not zero, up until bit 127 is set; returns how far.
  static PELORAND_ALWAYS_INLINE int normalize(uint64_t& hi, uint64_t& lo) {
    const int s = std::countl_zero(hi | 1);  // the one tells the compiler hi is not zero
    hi = (hi << s) | ((lo >> 1) >> (s ^ 63));
    lo <<= s;
    return s;
  }
  // The same for one word, sig not zero.
  static PELORAND_ALWAYS_INLINE int normalize(uint64_t& sig) {
    const int s = std::countl_zero(sig);
    sig <<= s;
    return s;
  }

  // A finite nonzero value as sig * 2^(exp - kBias - 63), sig normalised:
  // a subnormal's exponent drops below 1.
  struct Unpacked {
    uint64_t sig;
    int32_t exp;
  };
  static PELORAND_ALWAYS_INLINE Unpacked unpack(SoftExtended x) {
    Unpacked u{x.sig_, static_cast<int32_t>(x.code())};
    if ((u.sig & kIntegerBit) == 0) [[unlikely]] u.exp -= normalize(u.sig);
    return u;
  }

  // 1 when the bits below the last place call for rounding sig up (nearest,
  // ties to even).
  static PELORAND_ALWAYS_INLINE uint64_t round_up(uint64_t sig, uint64_t extra) {
    return extra > kHalf - (sig & 1);
  }

  // The exit of every operation: (sig + extra / 2^64) * 2^(exp - kBias - 63),
  // sig normalised unless exp is 1, rounded once to the format.
  static PELORAND_ALWAYS_INLINE SoftExtended round_pack(uint64_t sign, int32_t exp, uint64_t sig,
                                                        uint64_t extra) {
    if (!is_finite_nonzero(static_cast<uint32_t>(exp))) [[unlikely]] {
      return round_pack_outside(sign, exp, sig, extra);
    }
    uint64_t r = sig + round_up(sig, extra);
    // A carry out: 2^63 one exponent up, which from 0x7FFE is infinity.
    if (r < sig) [[unlikely]] {
      r = kIntegerBit;
      ++exp;
    }
    return make(r, sign | static_cast<uint32_t>(exp));
  }

  static PELORAND_NOINLINE SoftExtended round_pack_outside(uint64_t sign, int32_t exp, uint64_t sig,
                                                           uint64_t extra) {
    if (exp > 0) return infinity(sign);
    // Denormalised first, then rounded once; the result has code 1, or 0
    // when it rounds to zero.
    shift_right_jam(sig, extra, static_cast<uint32_t>(1 - exp));
    const uint64_t r = sig + round_up(sig, extra);
    return make(r, sign | (r != 0));
  }

  // The exit to double: (sig + extra / 2^64) * 2^(exp - kBias - 63), sig
  // normalised (or not, at the double's least exponent), rounded to 64 bits
  // as the x87 rounds a result, then to double.
  static PELORAND_ALWAYS_INLINE double round_pack_double(uint64_t sign, int32_t exp, uint64_t sig,
                                                         uint64_t extra) {
    const int32_t field = exp - kDoubleOffset;
    if (static_cast<uint32_t>(field - 1) >= 0x7FE) [[unlikely]] {
      return round_pack_double_outside(sign, exp, sig, extra);
    }
    return pack_double(sign | (static_cast<uint64_t>(field - 1) << 52), sig, extra);
  }

  // round_pack_double inside the double's range: sign_exponent holds the
  // sign and the exponent field less one, which the integer bit adds back.
  static PELORAND_ALWAYS_INLINE double pack_double(uint64_t sign_exponent, uint64_t sig,
                                                   uint64_t extra) {
    // Nearest even at bit 0, then at bit 11: the first rounding's carry joins
    // the second's addend. A carry out of the kept bits moves on into the
    // exponent, up to infinity.
    const uint64_t kept = sig >> 11;
    const uint64_t up = ((sig & 0x7FF) + round_up(sig, extra) + 0x3FF + (kept & 1)) >> 11;
    return std::bit_cast<double>(sign_exponent + kept + up);
  }

  static PELORAND_NOINLINE double round_pack_double_outside(uint64_t sign, int32_t exp, uint64_t sig,
                                                            uint64_t extra) {
    if (exp - kDoubleOffset > 0) return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52));
    // Subnormal doubles and zero: rounded to 64 bits as the x87 stores the
    // value, then shifted to the double's last place, the lost bits jammed.
    const SoftExtended x = round_pack(sign, exp, sig, extra);
    const int32_t field = static_cast<int32_t>(x.code()) - kDoubleOffset;
    if (field >= 1) return round_pack_double(sign, static_cast<int32_t>(x.code()), x.sig_, 0);
    uint64_t kept = x.sig_, lost = 0;
    shift_right_jam(kept, lost, static_cast<uint32_t>(1 - field));
    return round_pack_double(sign, kDoubleOffset + 1, kept | (lost != 0), 0);
  }

  // (hi:lo) >> n, any bits shifted out left as a one in the lowest bit of lo
  // (jammed), which rounds the same.
  static void shift_right_jam(uint64_t& hi, uint64_t& lo, uint32_t n) {
    if (n < 64) {
      lo = ((hi << (63 - n)) << 1) | (lo >> n) | (((lo << (63 - n)) << 1) != 0);
      hi >>= n;
      return;
    }
    const uint64_t lost = n == 64 ? lo : n < 128 ? (hi << (128 - n)) | lo : hi | lo;
    lo = (n < 128 ? hi >> (n - 64) : 0) | (lost != 0);
    hi = 0;
  }

  // a + b, or a - b when flip is kSign.
  static SoftExtended add(SoftExtended a, SoftExtended b, uint64_t flip) {
    if (a.is_special() || b.is_special()) [[unlikely]] return add_special(a, b, flip);
    const uint64_t sign = a.se_ & kSign;
    if (((a.se_ ^ b.se_ ^ flip) & kSign) == 0) {
      return add_magnitudes(sign, a.code(), a.sig_, b.code(), b.sig_);
    }
    return subtract_magnitudes(sign, a.code(), a.sig_, b.code(), b.sig_);
  }

  // |a| + |b| with a's sign, for finite a and b.
  static SoftExtended add_magnitudes(uint64_t sign, uint32_t ca, uint64_t ma, uint32_t cb,
                                     uint64_t mb) {
    if (ca < cb) {
      std::swap(ca, cb);
      std::swap(ma, mb);
    }
    uint64_t extra = 0;
    shift_right_jam(mb, extra, ca - cb);
    uint64_t sig = ma + mb;
    int32_t exp = static_cast<int32_t>(ca);
    if (sig < mb) {  // a carry out: one place down, the lost bit jammed
      extra = (sig << 63) | (extra >> 1) | (extra & 1);
      sig = (sig >> 1) | kIntegerBit;
      ++exp;
    }
    return round_pack(sign, exp, sig, extra);
  }

  // |a| - |b| with a's sign, for finite a and b; the sign flips when |b| is
  // the larger, and an exact zero is +0.
  static SoftExtended subtract_magnitudes(uint64_t sign, uint32_t ca, uint64_t ma, uint32_t cb,
                                          uint64_t mb) {
    if (ca < cb || (ca == cb && ma < mb)) {
      std::swap(ca, cb);
      std::swap(ma, mb);
      sign ^= kSign;
    }
    uint64_t lo = 0;
    shift_right_jam(mb, lo, ca - cb);
    // A jammed one stays below the last place: two or more places apart, the
    // difference needs one place of normalisation at most.
    uint64_t hi = ma - mb - (lo != 0);
    lo = 0 - lo;
    if ((hi | lo) == 0) return zero(0);
    int32_t exp = static_cast<int32_t>(ca);
    if (hi == 0) {
      hi = lo;
      lo = 0;
      exp -= 64;
    }
    exp -= normalize(hi, lo);
    return round_pack(sign, exp, hi, lo);
  }

  // Unordered is 2.
  static int order(SoftExtended a, SoftExtended b) {
    if (a.is_nan() || b.is_nan()) return 2;
    if (a.is_zero() && b.is_zero()) return 0;
    const uint64_t na = a.se_ >> 63;
    if (na != b.se_ >> 63) return na ? -1 : 1;
    int magnitude = 0;
    if (a.code() != b.code()) {
      magnitude = a.code() < b.code() ? -1 : 1;
    } else if (a.sig_ != b.sig_) {
      magnitude = a.sig_ < b.sig_ ? -1 : 1;
    }
    return na ? -magnitude : magnitude;
  }

  // Operands that are zero, infinite or NaN.

  static SoftExtended zero(uint64_t sign) { return make(0, sign); }
  static SoftExtended infinity(uint64_t sign) { return make(kIntegerBit, sign | kSpecial); }
  // The x87 "real indefinite", the result of every invalid operation.
  static SoftExtended indefinite() { return make(kIntegerBit | kQuiet, kSign | kSpecial); }

  // The x87 picks the NaN with the larger significand, the positive one of
  // two equal ones, and quiets it; the sign is never flipped by subtraction.
  static SoftExtended propagate_nan(SoftExtended a, SoftExtended b) {
    SoftExtended r = b;
    if (a.is_nan() &&
        (!b.is_nan() || a.sig_ > b.sig_ || (a.sig_ == b.sig_ && (a.se_ & kSign) == 0))) {
      r = a;
    }
    r.sig_ |= kQuiet;
    return r;
  }

  static PELORAND_NOINLINE SoftExtended add_special(SoftExtended a, SoftExtended b, uint64_t flip) {
    if (a.is_nan() || b.is_nan()) return propagate_nan(a, b);
    b.se_ ^= flip;
    if (!b.is_special()) return a;
    if (!a.is_special()) return b;
    return ((a.se_ ^ b.se_) & kSign) != 0 ? indefinite() : a;
  }

  static PELORAND_NOINLINE SoftExtended multiply_special(SoftExtended a, SoftExtended b) {
    if (a.is_nan() || b.is_nan()) return propagate_nan(a, b);
    const uint64_t sign = (a.se_ ^ b.se_) & kSign;
    if (a.is_inf() || b.is_inf()) return a.is_zero() || b.is_zero() ? indefinite() : infinity(sign);
    return zero(sign);
  }

  static PELORAND_NOINLINE SoftExtended divide_special(SoftExtended a, SoftExtended b) {
    if (a.is_nan() || b.is_nan()) return propagate_nan(a, b);
    const uint64_t sign = (a.se_ ^ b.se_) & kSign;
    if (a.is_inf()) return b.is_inf() ? indefinite() : infinity(sign);
    if (b.is_inf()) return zero(sign);
    if (b.is_zero()) return a.is_zero() ? indefinite() : infinity(sign);
    return zero(sign);
  }

  static PELORAND_NOINLINE double special_to_double(uint64_t sig, uint64_t sign) {
    uint64_t fraction = (sig >> 11) & ((uint64_t{1} << 52) - 1);
    // A signalling NaN with nothing in the kept bits would read as infinity.
    if ((sig << 1) != 0 && fraction == 0) fraction = uint64_t{1} << 51;
    return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52) | fraction);
  }
};

// i -> i * h + a for ints i and fixed h and a, each operation rounded as the
// x87 rounds it, then rounded to double: the one fast path, for the integrand
// loop. Fused in a frame whose unit is h's last place, or 2^-32 of it when a
// is below 2^31 h, for h normal, a zero or normal and below 2^63 h, i from 1
// to 2^30 - 1, and every sum from 2^64 to 2^127 units a normal double: there
// i * h is exact in 128 bits, and so is its sum with a (a's bits below the
// frame jammed: every such sum rounds at bit 31 or above), so that each
// rounding acts on integers. Elsewhere, the general operations.
template <class Limbs>
class SoftExtended<Limbs>::MulAddToDouble {
 public:
  MulAddToDouble(SoftExtended h, SoftExtended a) : h_(h), a_(a) {
    const uint32_t ch = h.code(), ca = a.code();
    // How far a's significand moves into the frame.
    int32_t up = static_cast<int32_t>(ca) - static_cast<int32_t>(ch) + 32;
    const bool fine = ca == 0 || up < 63;
    if (!fine) up -= 32;
    const int32_t field = static_cast<int32_t>(ch) + (fine ? 32 : 64) - kDoubleOffset;
    if (!h.is_normal() || field < 64 || field > 0x7FF) return;
    if (ca != 0) {
      if (!a.is_normal() || up >= 63) return;
      a_lo_ = a.sig_;
      if (up > 0) {
        a_hi_ = a_lo_ >> (64 - up);
        a_lo_ <<= up;
      } else {
        shift_right_jam(a_hi_, a_lo_, static_cast<uint32_t>(-up));
      }
    }
    const bool subtract = ca != 0 && ((a.se_ ^ h.se_) & kSign) != 0;
    shape_ = fine ? (subtract ? kSubtractFine : kAddFine) : (subtract ? kSubtract : kAdd);
    sign_exponent_ = ((ca != 0 ? a.se_ : h.se_) & kSign) | (static_cast<uint64_t>(field - 1) << 52);
    // The product needs no rounding while its high word, less one, is below
    // this: the bits it drops are zeros of h's significand. Small enough that
    // a zero or negative i, or one of 2^30 and above, falls outside.
    const int zeros = std::countr_zero(h.sig_);
    exact_ = (uint64_t{1} << ((fine ? 32 : 0) + (zeros < 29 ? zeros : 29))) - 1;
  }

  PELORAND_ALWAYS_INLINE double operator()(int i) const {
    if (shape_ == kAddFine) return framed<false, true>(i);
    if (shape_ == kSubtractFine) return framed<true, true>(i);
    if (shape_ == kAdd) return framed<false, false>(i);
    if (shape_ == kSubtract) return framed<true, false>(i);
    return unfused(i);
  }

 private:
  // Whether |a| and |i * h| add or subtract, as in add_ and
  // subtract_magnitudes, and in which frame.
  enum Shape { kAddFine, kSubtractFine, kAdd, kSubtract, kUnfused };

  SoftExtended h_;
  SoftExtended a_;
  Shape shape_ = kUnfused;
  uint64_t a_hi_ = 0;  // a's magnitude in frame units, 128 bits
  uint64_t a_lo_ = 0;
  uint64_t exact_ = 0;
  // a's sign (h's when a is zero), and the double's exponent field less one
  // for a sum whose top bit is the frame's bit 127
  uint64_t sign_exponent_ = 0;

  // The frame's unit is 2^-32 of h's last place when fine, else h's last
  // place. The product is formed in the fine frame in both: one product of
  // a loop's counter, which the compiler may turn into a running sum.
  template <bool subtract, bool fine>
  PELORAND_ALWAYS_INLINE double framed(int i) const {
    uint64_t lo;
    uint64_t hi = Limbs::mul(h_.sig_, static_cast<uint64_t>(static_cast<uint32_t>(i)) << 32, lo);
    if constexpr (!fine) {
      lo = (lo >> 32) | (hi << 32);
      hi >>= 32;
    }
    if (hi - 1 >= exact_) [[unlikely]] {
      if (static_cast<uint32_t>(i) - 1 >= (uint32_t{1} << 30) - 1) return unfused(i);
      // 64 + k significant bits: to nearest even at bit k, all of it in lo.
      // In the coarse frame a product below 2^64 (i is 1) drops no bit.
      const uint64_t step = uint64_t{1} << std::bit_width(hi);
      const uint64_t t = lo + (step / 2 - 1) + ((lo & step) != 0);
      if (hi != 0) {
        hi += t < lo;
        lo = t & (0 - step);
      }
    }
    uint64_t sign_exponent = sign_exponent_;
    if constexpr (!subtract) {
      lo += a_lo_;
      hi += a_hi_ + (lo < a_lo_);
    } else {
      hi = a_hi_ - (hi + (a_lo_ < lo));
      lo = a_lo_ - lo;
      // Below 2^126 in magnitude. One test for a negative difference (its
      // high word at least 2^64 - 2^62) and for a zero high word, which the
      // general operations take.
      if (static_cast<int64_t>(hi - 1) < 0) {
        if (hi != 0) {
          hi = ~hi + (lo == 0);
          lo = 0 - lo;
          sign_exponent ^= kSign;
        }
        if (hi == 0) return unfused(i);
      }
    }
    const int s = normalize(hi, lo);
    return pack_double(sign_exponent - (static_cast<uint64_t>(s) << 52), hi, lo);
  }

  PELORAND_NOINLINE double unfused(int i) const {
    return static_cast<double>(a_ + SoftExtended(i) * h_);
  }
};

}  // namespace pelorand
