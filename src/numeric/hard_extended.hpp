// The hardware's x87 extended real, long double, behind the interface of the
// software type. Only NaNs crossing to and from double are built by hand:
// fld and fstp would quiet a signalling NaN.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "numeric/platform.hpp"

#if PELORAND_HAVE_HARD_EXTENDED

namespace pelorand {

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

  class MulAddToDouble;

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

// i -> i * h + a for ints i and fixed h and a, then rounded to double. A sum
// is never a signalling NaN, so the hardware's own conversion gives the bits.
class HardExtended::MulAddToDouble {
 public:
  MulAddToDouble(HardExtended h, HardExtended a) : h_(h.v_), a_(a.v_) {}

  PELORAND_ALWAYS_INLINE double operator()(int i) const {
    return static_cast<double>(a_ + static_cast<long double>(i) * h_);
  }

 private:
  long double h_;
  long double a_;
};

}  // namespace pelorand

#endif
