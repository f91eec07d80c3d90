// Seeded operand sets for the extended real's tests, and the evaluation of
// every operation on any of the implementations. Everything here is integer
// arithmetic on encodings, so the case set is the same on every platform.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "numeric/extended.hpp"

namespace extended_cases {

struct Bits {
  uint16_t se;
  uint64_t m;
};

// One operation's operands: a and b as 80-bit encodings; from_double keeps
// the double's bits in a.m, from_int the int in i, sample uses all four, and
// sample_point takes a, h in b, and i.
struct Case {
  Bits a;
  Bits b;
  int32_t i;
};

// An 80-bit result in (se, m), a double result or comparison mask in d.
struct Outcome {
  uint16_t se;
  uint64_t m;
  uint64_t d;
  bool operator==(const Outcome& o) const { return se == o.se && m == o.m && d == o.d; }
};

enum class Op { kAdd, kSub, kMul, kDiv, kNeg, kFabs, kCompare, kFromDouble, kFromInt, kToDouble,
                kSample, kSamplePoint };
constexpr Op kOps[] = {Op::kAdd,     Op::kSub,      Op::kMul,    Op::kDiv,
                       Op::kNeg,     Op::kFabs,     Op::kCompare, Op::kFromDouble,
                       Op::kFromInt, Op::kToDouble, Op::kSample, Op::kSamplePoint};

inline const char* name(Op op) {
  switch (op) {
    case Op::kAdd: return "add";
    case Op::kSub: return "sub";
    case Op::kMul: return "mul";
    case Op::kDiv: return "div";
    case Op::kNeg: return "negate";
    case Op::kFabs: return "fabs";
    case Op::kCompare: return "compare";
    case Op::kFromDouble: return "from_double";
    case Op::kFromInt: return "from_int";
    case Op::kToDouble: return "to_double";
    case Op::kSample: return "sample";
    case Op::kSamplePoint: return "sample_point";
  }
  return "?";
}

// splitmix64: a fixed generator, unlike the standard distributions.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
  int32_t between(int32_t lo, int32_t hi) { return lo + static_cast<int32_t>(below(hi - lo + 1)); }
  uint16_t sign() { return static_cast<uint16_t>(next() & 0x8000); }

 private:
  uint64_t state_;
};

constexpr uint64_t kTop = uint64_t{1} << 63;
constexpr uint64_t kAll = ~uint64_t{0};
constexpr int32_t kBias = 16383;
// Extended exponents of the double landmarks: 2^-1074, 2^-1022, 2^1023.
constexpr int32_t kDoubleTiny = kBias - 1074;
constexpr int32_t kDoubleMinNormal = kBias - 1022;
constexpr int32_t kDoubleMaxExp = kBias + 1023;

inline uint64_t double_bits(double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  return u;
}
inline double bits_double(uint64_t u) {
  double d;
  std::memcpy(&d, &u, 8);
  return d;
}

// The top `keep` bits of m, 1 <= keep <= 64.
inline uint64_t leading(uint64_t m, uint32_t keep) { return keep == 64 ? m : m & ~(kAll >> keep); }

// Each random draw is a statement of its own: the compiler chooses the order
// in which function arguments are evaluated, and the case set must not vary.

// Significands of many shapes: uniform, short (ties in products), runs of
// ones or zeros at the bottom (carries and ties), near powers of two.
inline uint64_t shaped(Random& r) {
  const uint64_t u = r.next();
  const uint32_t kind = r.below(8);
  const uint32_t n = r.below(64);
  switch (kind) {
    case 3: return leading(u, n + 1);
    case 4: return u | ((uint64_t{1} << n) - 1);
    case 5: return u & ~((uint64_t{1} << n) - 1);
    case 6: return kTop + (u & 0xFF);
    case 7: return kAll - (u & 0xFF);
    default: return u;
  }
}

inline Bits normal(uint16_t sign, int32_t exp, uint64_t m) {
  return {static_cast<uint16_t>(sign | exp), m | kTop};
}

// A finite value with the given exponent, subnormal or zero below 1.
inline Bits finite(uint16_t sign, int32_t exp, uint64_t m) {
  if (exp >= 0x7FFF) return {static_cast<uint16_t>(sign | 0x7FFE), m | kTop};
  if (exp >= 1) return normal(sign, exp, m);
  const int32_t shift = 1 - exp;
  return {sign, shift >= 64 ? 0 : (m | kTop) >> shift};
}

inline Bits nan(Random& r) {
  const uint16_t sign = r.sign();
  uint64_t payload = shaped(r) & (kAll >> 2);
  const bool quiet = r.below(2) == 0;
  if (!quiet && payload == 0) payload = 1;
  return {static_cast<uint16_t>(sign | 0x7FFF), kTop | (quiet ? kTop >> 1 : 0) | payload};
}

// A normal value with a random sign and significand and an exponent in [lo, hi].
inline Bits normal_in(Random& r, int32_t lo, int32_t hi) {
  const uint16_t sign = r.sign();
  const int32_t exp = r.between(lo, hi);
  return normal(sign, exp, shaped(r));
}

// The same through finite(): subnormal or zero below exponent 1.
inline Bits finite_in(Random& r, int32_t lo, int32_t hi) {
  const uint16_t sign = r.sign();
  const int32_t exp = r.between(lo, hi);
  return finite(sign, exp, shaped(r));
}

// The edge values: zeros, subnormals, extremes, infinities, NaNs, and the
// landmarks of the conversion to double.
inline const std::vector<Bits>& edges() {
  static const std::vector<Bits> list = [] {
    const Bits positive[] = {
        {0, 0},
        {0, 1},
        {0, 2},
        {0, 0x0000000000000400},
        {0, 0x4000000000000000},
        {0, kAll >> 1},
        {1, kTop},
        {1, kTop | 1},
        {1, kAll},
        {2, kTop},
        {0x3FFF, kTop},
        {0x3FFF, kTop | 1},
        {0x3FFF, kAll},
        {0x3FFE, kAll},
        {0x3FFF, 0xC000000000000000},
        {0x4000, 0xC000000000000000},
        {0x3FFD, 0xAAAAAAAAAAAAAAAB},
        {0x7FFE, kAll},
        {0x7FFE, kTop},
        {0x7FFD, kAll},
        {0x7FFF, kTop},
        // Doubles' largest finite value, the tie above it, and either side.
        {kDoubleMaxExp, 0xFFFFFFFFFFFFF800},
        {kDoubleMaxExp, 0xFFFFFFFFFFFFFBFF},
        {kDoubleMaxExp, 0xFFFFFFFFFFFFFC00},
        {kDoubleMaxExp, 0xFFFFFFFFFFFFFC01},
        {kDoubleMaxExp, kAll},
        {kDoubleMaxExp + 1, kTop},
        // Double's smallest normal and the largest subnormal below it.
        {kDoubleMinNormal, kTop},
        {kDoubleMinNormal - 1, kAll},
        {kDoubleMinNormal - 1, 0xFFFFFFFFFFFFF000},
        {kDoubleMinNormal - 1, 0xFFFFFFFFFFFFEFFF},
        // Double's smallest subnormal, half of it, and either side of that.
        {kDoubleTiny, kTop},
        {kDoubleTiny - 1, kTop},
        {kDoubleTiny - 1, kTop | 1},
        {kDoubleTiny - 2, kAll},
        {kDoubleTiny, 0xC000000000000000},
        {kDoubleTiny + 1, 0xA000000000000000},
        {kDoubleTiny - 2, kTop},
        // Ties at the 53-bit rounding point, both ways.
        {0x3FFF, kTop | 0x400},
        {0x3FFF, kTop | 0xC00},
        {0x3FFF, kTop | 0x401},
        {0x3FFF, kTop | 0x3FF},
        // Quiet NaNs (the last is the real indefinite) and signalling NaNs,
        // one with its payload only below the bits a double keeps.
        {0x7FFF, 0xC000000000000000},
        {0x7FFF, 0xC000000000000001},
        {0x7FFF, 0xC000000000000800},
        {0x7FFF, kAll},
        {0x7FFF, 0xD555555555555555},
        {0x7FFF, 0x8000000000000001},
        {0x7FFF, 0x8000000000000800},
        {0x7FFF, 0xA000000000000000},
        {0x7FFF, 0xBFFFFFFFFFFFFFFF},
    };
    std::vector<Bits> all;
    for (const Bits& b : positive) {
      all.push_back(b);
      all.push_back({static_cast<uint16_t>(b.se | 0x8000), b.m});
    }
    // What the module feeds in: bounds as doubles, widened exactly.
    const double doubles[] = {0.0, 1.0, 2.5, 1.0 / 3.0, -3.0, 0.5, 0.1, 3.141592653589793,
                              1e-300, 1e300, 5e-324};
    for (double d : doubles) {
      const uint64_t u = double_bits(d);
      const int32_t field = static_cast<int32_t>((u >> 52) & 0x7FF);
      const uint64_t fraction = u & ((uint64_t{1} << 52) - 1);
      const uint16_t sign = static_cast<uint16_t>((u >> 48) & 0x8000);
      if (field != 0) {
        all.push_back(normal(sign, field + kBias - 1023, fraction << 11));
      } else if (fraction != 0) {
        const int width = std::bit_width(fraction);
        all.push_back(normal(sign, kDoubleTiny + width - 1, fraction << (64 - width)));
      }
    }
    return all;
  }();
  return list;
}

inline Bits any_value(Random& r) {
  const uint32_t pick = r.below(64);
  if (pick < 2) return {r.sign(), 0};
  if (pick < 5) {
    const uint16_t sign = r.sign();
    const uint64_t m = shaped(r);
    return {sign, (m >> (1 + r.below(63))) | 1};
  }
  if (pick < 7) return {static_cast<uint16_t>(r.sign() | 0x7FFF), kTop};
  if (pick < 10) return nan(r);
  if (pick < 12) return edges()[r.below(static_cast<uint32_t>(edges().size()))];
  if (pick < 40) return normal_in(r, 1, 0x7FFE);
  return normal_in(r, kBias - 80, kBias + 80);
}

inline Case pair(Random& r) {
  const Bits a = any_value(r);
  return {a, any_value(r), 0};
}

// b's bits below a's last place are exactly one half, with b's exponent d
// below a's.
inline Case tie_for_sum(Random& r) {
  const Bits a = normal_in(r, 80, 0x7FF0);
  const uint32_t d = 1 + r.below(64);
  const uint16_t sign = r.sign();
  uint64_t mb = shaped(r) | kTop;
  mb = d == 64 ? kTop : ((mb >> d) << d) | (uint64_t{1} << (d - 1));
  return {a, normal(sign, (a.se & 0x7FFF) - static_cast<int32_t>(d), mb), 0};
}

// Odd significands of ka and kb bits: the product has ka + kb - 1 or ka + kb
// bits, so 65 or 66 puts its last bit at or just below the rounding place.
inline Case tie_for_product(Random& r, int32_t target) {
  const uint32_t ka = 2 + r.below(62);
  const uint32_t kb = 65 + r.below(2) - ka;
  const uint64_t ma = leading(r.next() | kTop | (uint64_t{1} << (64 - ka)), ka);
  const uint64_t mb = leading(r.next() | kTop | (uint64_t{1} << (64 - kb)), kb);
  const int32_t ea = r.between(1, 0x7FFE);
  const uint16_t sa = r.sign();
  const uint16_t sb = r.sign();
  return {normal(sa, ea, ma), finite(sb, target - ea + kBias, mb), 0};
}

inline Case sum_case(Random& r) {
  switch (r.below(8)) {
    case 0:
    case 1: return pair(r);
    case 2:
    case 3: {
      const Bits a = normal_in(r, 1, 0x7FFE);
      const int32_t ea = a.se & 0x7FFF;
      return {a, finite_in(r, ea - 70, ea + 70), 0};
    }
    case 4: {  // cancellation: magnitudes within a few units of each other
      const Bits a = normal_in(r, 2, 0x7FFD);
      const uint16_t sign = r.sign();
      const int32_t exp = (a.se & 0x7FFF) + r.between(-1, 1);
      const uint64_t m = (a.m + static_cast<uint64_t>(r.between(-4, 4))) | kTop;
      return {a, normal(sign, exp, m), 0};
    }
    case 5: return tie_for_sum(r);
    case 6: {
      const Bits a = finite_in(r, -64, 70);
      return {a, finite_in(r, -64, 70), 0};
    }
    default: {  // near overflow
      const Bits a = finite_in(r, 0x7FFE - 66, 0x7FFE);
      return {a, finite_in(r, 0x7FFE - 66, 0x7FFE), 0};
    }
  }
}

inline Case product_case(Random& r) {
  switch (r.below(8)) {
    case 0:
    case 1: return pair(r);
    case 2: {  // result exponent near the top
      const Bits a = normal_in(r, 1, 0x7FFE);
      const int32_t eb = 0x7FFE - (a.se & 0x7FFF) + kBias;
      return {a, finite_in(r, eb - 3, eb + 2), 0};
    }
    case 3: {  // result in or near the subnormal range
      const Bits a = normal_in(r, 1, 0x7FFE);
      const int32_t eb = kBias - (a.se & 0x7FFF);
      return {a, finite_in(r, eb - 70, eb + 3), 0};
    }
    case 4: {
      const bool tiny = r.below(4) == 0;
      const int32_t target = tiny ? r.between(-66, 1) : kBias;
      return tie_for_product(r, target);
    }
    case 5: {
      const Bits a = finite_in(r, -64, 0);
      return {a, any_value(r), 0};
    }
    case 6: {  // an int times a value, as the sample points are formed
      const uint32_t n = 1 + r.below(1u << 30);
      const int width = std::bit_width(n);
      const Bits a = normal(0, kBias + width - 1, static_cast<uint64_t>(n) << (64 - width));
      return {a, normal_in(r, kBias - 60, kBias + 10), 0};
    }
    default: {
      const Bits a = normal_in(r, kBias - 200, kBias + 200);
      return {a, normal_in(r, kBias - 200, kBias + 200), 0};
    }
  }
}

inline Case quotient_case(Random& r) {
  switch (r.below(8)) {
    case 0:
    case 1: return pair(r);
    case 2: {
      const Bits b = normal_in(r, 1, 0x7FFE);
      const int32_t ea = 0x7FFE + (b.se & 0x7FFF) - kBias;
      return {finite_in(r, ea - 2, ea + 3), b, 0};
    }
    case 3: {
      const Bits b = normal_in(r, 1, 0x7FFE);
      const int32_t ea = (b.se & 0x7FFF) - kBias;
      return {finite_in(r, ea - 70, ea + 3), b, 0};
    }
    case 4: {  // exact quotients, also when the result must be denormalised
      const uint32_t kb = 1 + r.below(40);
      const uint32_t kc = 1 + r.below(64 - kb);
      const uint64_t mb = ((r.next() | 1) & (kAll >> (64 - kb))) | (uint64_t{1} << (kb - 1));
      const uint64_t mc = ((r.next() | 1) & (kAll >> (64 - kc))) | (uint64_t{1} << (kc - 1));
      const uint64_t product = mb * mc;
      const uint64_t ma = product << (64 - std::bit_width(product));
      const int32_t eb = r.between(1, 0x7FFE);
      const bool tiny = r.below(3) == 0;
      const int32_t shift = tiny ? r.between(-80, 2) : kBias + r.between(-5, 5);
      const uint16_t sa = r.sign();
      const uint16_t sb = r.sign();
      return {finite(sa, shift + eb - kBias, ma), normal(sb, eb, mb << (64 - kb)), 0};
    }
    case 5: {
      const Bits a = any_value(r);
      return {a, finite_in(r, -64, 0), 0};
    }
    case 6: {  // a width divided by a power of two, as the step is formed
      const Bits a = normal_in(r, kBias - 10, kBias + 10);
      return {a, normal(0, kBias + r.between(0, 30), kTop), 0};
    }
    default: {
      const Bits a = normal_in(r, kBias - 200, kBias + 200);
      return {a, normal_in(r, kBias - 200, kBias + 200), 0};
    }
  }
}

inline Case compare_case(Random& r) {
  const Bits a = any_value(r);
  switch (r.below(4)) {
    case 0: return {a, any_value(r), 0};
    case 1: return {a, a, 0};
    case 2: return {a, {static_cast<uint16_t>(a.se ^ 0x8000), a.m}, 0};
    default: {
      Bits b = a;
      b.m += r.below(2) ? 1 : -1;
      if ((b.se & 0x7FFF) != 0) {
        b.m |= kTop;
      } else {
        b.m &= ~kTop;
      }
      return {a, b, 0};
    }
  }
}

// Values whose rounding to double is delicate: near overflow, near and in
// the subnormal range, and ties at the rounding place wherever it falls.
inline Bits narrowing_value(Random& r) {
  switch (r.below(6)) {
    case 0: return any_value(r);
    case 1: return finite_in(r, kDoubleMaxExp - 2, kDoubleMaxExp + 2);
    case 2: return finite_in(r, kDoubleTiny - 66, kDoubleTiny + 56);
    case 3: {  // a tie or its neighbours at the place a double keeps
      const uint16_t sign = r.sign();
      const int32_t exp = kDoubleTiny + r.between(-2, 60);
      const int32_t kept = exp >= kDoubleMinNormal ? 53 : 1 + (exp - kDoubleTiny);
      uint64_t m = shaped(r) | kTop;
      const int32_t nudge = r.between(-1, 1);
      if (kept >= 1 && kept <= 63) {
        m = ((m >> (64 - kept)) << (64 - kept)) | (uint64_t{1} << (63 - kept));
        m += static_cast<uint64_t>(nudge);
      }
      return normal(sign, exp, m);
    }
    case 4: {
      const uint16_t sign = r.sign();
      const int32_t exp = kBias + r.between(-1022, 1023);
      const uint64_t high = shaped(r) & ~uint64_t{0x7FF};
      return normal(sign, exp, high | (0x3FE + r.below(5)));
    }
    default: return normal_in(r, kBias - 30, kBias + 30);
  }
}

inline uint64_t double_pattern(Random& r) {
  const uint64_t sign = static_cast<uint64_t>(r.below(2)) << 63;
  const uint32_t kind = r.below(6);
  if (kind == 2) return r.next();
  const uint64_t field = kind == 0 ? 0 : kind == 1 ? 0x7FF : r.below(0x800);
  uint64_t fraction = shaped(r) & ((uint64_t{1} << 52) - 1);
  if (r.below(4) == 0) fraction >>= r.below(53);
  return sign | (field << 52) | fraction;
}

inline int32_t int_pattern(Random& r) {
  switch (r.below(4)) {
    case 0: return static_cast<int32_t>(r.next());
    case 1: return r.between(-1000, 1000);
    case 2: {
      const int64_t p = int64_t{1} << r.below(31);
      const int64_t nudged = p + r.between(-1, 1);
      return static_cast<int32_t>(r.below(2) ? nudged : -nudged);
    }
    default: return static_cast<int32_t>(r.below(1u << 30));
  }
}

// Bounds as the module receives them, for the sample points a + i * h with
// h = (b - a) / 2^level.
constexpr double kBounds[][2] = {
    {0.0, 1.0},  {0.0, 2.5}, {1.0 / 3.0, 1.0}, {-3.0, 2.5},  {-1.0, 1.0}, {1.0, 0.0},
    {2.5, 2.5},  {-3.0, -1.0 / 3.0}, {0.0, 3.141592653589793}, {1e-300, 1e-290},
    {-1e300, 1e300}, {0.1, 0.7}, {100.0, 100.5}, {0.0, 5e-324},
};

// The software type with portable limbs, bit-identical to the x87, builds
// operands that take arithmetic to form.
using Reference = pelorand::SoftExtended<pelorand::PortableLimbs>;

inline Bits bits_of(Reference x) { return {x.sign_exponent(), x.significand()}; }
inline Reference reference(Bits b) { return Reference::from_bits(b.se, b.m); }

// Bounds as users write them: landmarks, subnormals, any finite double, and
// doubles of everyday size.
inline double bound(Random& r) {
  static constexpr double kLandmarks[] = {
      0.0,   -0.0,  0.5,    -0.5,   1.0,   -1.0,   1.0 / 3.0, -1.0 / 3.0, 2.5,
      -3.0,  0.1,   3.141592653589793,    100.0, 1e10,   1e-10,     1e300,      -1e300,
      1e-300, -1e-300, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308};
  const uint64_t sign = static_cast<uint64_t>(r.below(2)) << 63;
  switch (r.below(6)) {
    case 0:
    case 1:
    case 2: return kLandmarks[r.below(sizeof kLandmarks / sizeof kLandmarks[0])];
    case 3: {
      const uint64_t fraction = shaped(r);
      return bits_double(sign | (fraction >> (12 + r.below(52))));
    }
    case 4: {
      const uint64_t field = r.below(0x7FF);
      return bits_double(sign | (field << 52) | (shaped(r) >> 12));
    }
    default: {
      const uint64_t field = 1023 - 40 + r.below(81);
      return bits_double(sign | (field << 52) | (shaped(r) >> 12));
    }
  }
}

// A neighbour of d: its bits moved by up to 2^k units of its last place.
inline double neighbour(Random& r, double d) {
  const uint64_t bits = r.next();
  const uint64_t delta = bits >> (12 + r.below(52));
  return bits_double(r.below(2) ? double_bits(d) + delta : double_bits(d) - delta);
}

inline int32_t clamped(int64_t i) {
  return static_cast<int32_t>(i < 1 ? 1 : i > (int64_t{1} << 30) ? int64_t{1} << 30 : i);
}

// Mostly 1 .. 2^30 (any, small, near powers of two, near n / 2 and n for
// the grid of 2^level intervals); now and then 0, negative or above 2^30.
inline int32_t grid_index(Random& r, int32_t level) {
  const int64_t n = int64_t{1} << level;
  int64_t i;
  switch (r.below(8)) {
    case 0: i = 1 + r.below(64); break;
    case 1: i = 1 + r.below(1u << 30); break;
    case 2: {
      const int64_t p = int64_t{1} << r.below(31);
      i = p + r.between(-2, 2);
      break;
    }
    case 3: i = n / 2 + r.between(-3, 3); break;
    case 4: i = n + r.between(-3, 1); break;
    case 5: {
      const uint32_t pick = r.below(32);
      if (pick == 0) return static_cast<int32_t>(r.next());
      if (pick == 1) return 0x7FFFFFFF - static_cast<int32_t>(r.below(4));
      if (pick == 2) return r.between(-3, 0);
      i = 1 + r.below(1u << 30);
      break;
    }
    default: i = n <= 1 ? 1 : 1 + r.below(static_cast<uint32_t>(n - 1)); break;
  }
  return clamped(i);
}

inline Case sample_point_case(Random& r) {
  const int32_t level = r.between(0, 30);
  switch (r.below(11)) {
    case 0:
    case 1:
    case 2: {  // the module's grids: h = (b - a) / 2^level
      const double lo = bound(r);
      const double hi = r.below(2) ? bound(r) : neighbour(r, lo);
      const Reference a(lo);
      const Reference h = (Reference(hi) - a) / Reference(int32_t{1} << level);
      return {bits_of(a), bits_of(h), grid_index(r, level)};
    }
    case 3: {
      const Bits a = any_value(r);
      const Bits h = any_value(r);
      return {a, h, grid_index(r, level)};
    }
    case 4: {  // h's exponent across every distance from a's
      const Bits a = r.below(4) ? normal_in(r, kDoubleMinNormal - 60, kDoubleMaxExp + 60)
                                : Bits{r.sign(), 0};
      const int32_t ea = (a.se & 0x7FFF) == 0 ? kBias + r.between(-1100, 1100) : a.se & 0x7FFF;
      const Bits h = finite_in(r, ea - 75, ea + 45);
      return {a, h, grid_index(r, level)};
    }
    case 5: {  // products i * h whose last bit falls at or just below the rounding place
      const uint32_t w = 2 + r.below(29);
      const uint64_t i = (r.next() >> (64 - w)) | (uint64_t{1} << (w - 1)) | 1;
      const uint32_t kb = 64 - w + r.below(3);
      const uint64_t mh = leading(r.next() | kTop | (uint64_t{1} << (64 - kb)), kb);
      const uint16_t sign = r.sign();
      const int32_t eh = kBias + r.between(-40, 10);
      const Bits a = r.below(3) ? Bits{0, 0} : normal_in(r, eh - 10, eh + 45);
      return {a, normal(sign, eh, mh), static_cast<int32_t>(i)};
    }
    case 6: {  // sums a few units from a tie at the 53-bit place, or at the 64-bit one
      const uint16_t sign = r.sign();
      const int32_t ea = kBias + r.between(-60, 60);
      const uint64_t tie = 0x400 * r.below(3);
      const uint64_t low = tie + r.below(8) - 4;
      const uint64_t ma = (shaped(r) & ~uint64_t{0x7FF}) | (low & 0x7FF);
      const uint32_t j = r.below(11);
      const uint16_t hsign = r.below(4) ? sign : static_cast<uint16_t>(sign ^ 0x8000);
      const bool short_h = r.below(2) == 0;
      const uint64_t mh = shaped(r);
      const uint32_t keep = short_h ? 1 + r.below(20) : 64;
      const Bits h = normal(hsign, ea - 52 - static_cast<int32_t>(j), leading(mh, keep));
      const int32_t i = 1 + static_cast<int32_t>(r.below(uint32_t{8} << j));
      return {normal(sign, ea, ma), h, i};
    }
    case 7: {  // near cancellation: h close to -a / 2^level, i near 2^level
      const Bits a = normal_in(r, kBias - 100, kBias + 100);
      const uint64_t mh = a.m + static_cast<uint64_t>(r.between(-3, 3));
      const int32_t eh = (a.se & 0x7FFF) - level;
      const Bits h = normal(static_cast<uint16_t>((a.se & 0x8000) ^ 0x8000), eh, mh);
      return {a, h, clamped((int64_t{1} << level) + r.between(-3, 3))};
    }
    case 8: {  // a far below h, its top bit at the sum's 64-bit tie, its low bits beyond
      const int32_t eh = kBias + r.between(-60, 60);
      const Bits h = normal_in(r, eh, eh);
      const int32_t i = grid_index(r, level);
      const Reference p = Reference(i) * reference(h);
      const int32_t ep = p.sign_exponent() & 0x7FFF;
      const uint16_t sign = r.sign();
      const int32_t ea = ep - 64 + r.between(-1, 1);
      const uint64_t low = shaped(r) >> r.below(64);
      const uint64_t ma = r.below(4) == 0 ? kTop : kTop | low;
      return {normal(sign, ea, ma), h, i};
    }
    default: {  // results at the ends of the double range
      const bool top = r.below(2) == 0;
      const int32_t eh = top ? kDoubleMaxExp - r.between(0, 100) : kDoubleMinNormal + r.between(-70, 100);
      const Bits h = normal_in(r, eh, eh);
      const Bits a = r.below(2) ? Bits{0, 0} : finite_in(r, eh - 40, eh + 40);
      return {a, h, grid_index(r, level)};
    }
  }
}

// Calls f(case) for `count` seeded cases of op, then for every edge case.
template <class F>
void generate(Op op, uint64_t seed, long count, F&& f) {
  Random r(seed ^ (0x5DEECE66Du * (static_cast<uint64_t>(op) + 1)));
  const std::vector<Bits>& e = edges();
  const bool binary = op == Op::kAdd || op == Op::kSub || op == Op::kMul || op == Op::kDiv ||
                      op == Op::kCompare;
  for (long k = 0; k < count; ++k) {
    switch (op) {
      case Op::kAdd:
      case Op::kSub: f(sum_case(r)); break;
      case Op::kMul: f(product_case(r)); break;
      case Op::kDiv: f(quotient_case(r)); break;
      case Op::kCompare: f(compare_case(r)); break;
      case Op::kNeg:
      case Op::kFabs: f(Case{any_value(r), {}, 0}); break;
      case Op::kToDouble: f(Case{narrowing_value(r), {}, 0}); break;
      case Op::kFromDouble: f(Case{{0, double_pattern(r)}, {}, 0}); break;
      case Op::kFromInt: f(Case{{}, {}, int_pattern(r)}); break;
      case Op::kSample: {
        const auto& bounds = kBounds[r.below(sizeof kBounds / sizeof kBounds[0])];
        const int32_t level = r.between(0, 30);
        const int32_t n = int32_t{1} << level;
        const int32_t i =
            n == 1 ? 0 : 1 + static_cast<int32_t>(r.below(static_cast<uint32_t>(n - 1)));
        f(Case{{static_cast<uint16_t>(level), double_bits(bounds[0])},
               {0, double_bits(bounds[1])}, i});
        break;
      }
      case Op::kSamplePoint: f(sample_point_case(r)); break;
    }
  }
  if (binary) {
    for (const Bits& a : e) {
      for (const Bits& b : e) f(Case{a, b, 0});
    }
  } else if (op == Op::kFromDouble) {
    for (const Bits& a : e) {
      // Every double that the edge values round to, and the edge doubles.
      f(Case{{0, double_bits(static_cast<double>(pelorand::SoftExtended<pelorand::PortableLimbs>::
                                                     from_bits(a.se, a.m)))},
             {},
             0});
    }
    const uint64_t patterns[] = {0, kTop, 1, 0x000FFFFFFFFFFFFF, 0x0010000000000000,
                                 0x7FEFFFFFFFFFFFFF, 0x7FF0000000000000, 0x7FF0000000000001,
                                 0x7FF4000000000000, 0x7FF8000000000000, 0x7FFFFFFFFFFFFFFF,
                                 0xFFF0000000000001, 0xFFF8000000000001, 0x3FF0000000000000};
    for (uint64_t p : patterns) f(Case{{0, p}, {}, 0});
  } else if (op == Op::kFromInt) {
    const int32_t ints[] = {0, 1, -1, 2, 3, -3, 0x7FFFFFFF, -0x7FFFFFFF - 1, -0x7FFFFFFF,
                            0x40000000, 0x3FFFFFFF, 1 << 30, (1 << 30) - 1, 12345};
    for (int32_t i : ints) f(Case{{}, {}, i});
  } else if (op == Op::kSamplePoint) {
    const int32_t ints[] = {1, 2, 3, 12345, 0x2AAAAAAB, 1 << 30};
    for (const Bits& a : e) {
      for (const Bits& h : e) {
        for (int32_t i : ints) f(Case{a, h, i});
      }
    }
  } else if (op == Op::kSample) {
    for (const auto& bounds : kBounds) {
      for (int32_t level = 0; level <= 30; ++level) {
        const int32_t n = int32_t{1} << level;
        for (int32_t i = 0; i <= n && i <= 40; ++i) {
          f(Case{{static_cast<uint16_t>(level), double_bits(bounds[0])},
                 {0, double_bits(bounds[1])}, i});
          if (n - i > 40) {
            f(Case{{static_cast<uint16_t>(level), double_bits(bounds[0])},
                   {0, double_bits(bounds[1])}, n - i});
          }
        }
      }
    }
  } else {
    for (const Bits& a : e) f(Case{a, {}, 0});
  }
}

template <class T>
Outcome of(T x) {
  return {x.sign_exponent(), x.significand(), 0};
}

template <class T>
T value(Bits b) {
  return T::from_bits(b.se, b.m);
}

// op applied to the case with implementation T.
template <class T>
Outcome evaluate(Op op, const Case& c) {
  const T a = value<T>(c.a), b = value<T>(c.b);
  switch (op) {
    case Op::kAdd: return of(a + b);
    case Op::kSub: return of(a - b);
    case Op::kMul: return of(a * b);
    case Op::kDiv: return of(a / b);
    case Op::kNeg: return of(-a);
    case Op::kFabs: return of(fabs(a));
    case Op::kCompare: {
      const uint64_t mask = (a < b) | (a > b) << 1 | (a <= b) << 2 | (a >= b) << 3 |
                            (a == b) << 4 | (a != b) << 5 | isnan(a) << 6 | isnan(b) << 7;
      return {0, 0, mask};
    }
    case Op::kFromDouble: return of(T(bits_double(c.a.m)));
    case Op::kFromInt: return of(T(c.i));
    case Op::kToDouble: return {0, 0, double_bits(static_cast<double>(a))};
    case Op::kSample: {
      // static_cast<double>(a + T(i) * h) with h = (b - a) / T(2^level).
      const T lo(bits_double(c.a.m)), hi(bits_double(c.b.m));
      const T h = (hi - lo) / T(int32_t{1} << c.a.se);
      const T x = lo + T(c.i) * h;
      return {x.sign_exponent(), x.significand() ^ h.significand(),
              double_bits(static_cast<double>(x))};
    }
    case Op::kSamplePoint: return {0, 0, double_bits(pelorand::MulAddToDouble<T>(b, a)(c.i))};
  }
  return {};
}

}  // namespace extended_cases
