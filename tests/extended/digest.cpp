// One FNV-1a digest of every result over a fixed case set, computed with the
// LDFloat this build selected. The hardware type, both software variants and
// any other platform must print the committed value.
#include <cinttypes>
#include <cstdio>
#include <type_traits>

#include "cases.hpp"

namespace {

using namespace extended_cases;
using pelorand::LDFloat;

static_assert(std::is_trivially_copyable_v<LDFloat> && std::is_standard_layout_v<LDFloat> &&
              sizeof(LDFloat) <= 16);

constexpr uint64_t kExpected = 0x4949ED8083885566;

class Fnv1a {
 public:
  // Little-endian whatever the host, so that the digest is portable.
  void add(uint64_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) {
      hash_ = (hash_ ^ ((value >> (8 * k)) & 0xFF)) * 0x100000001B3u;
    }
  }
  uint64_t value() const { return hash_; }

 private:
  uint64_t hash_ = 0xCBF29CE484222325u;
};

// Zero-filled memory, as Python's allocator hands it over, must read as +0.
bool zero_bytes_are_positive_zero() {
  alignas(LDFloat) unsigned char bytes[sizeof(LDFloat)] = {};
  LDFloat x;
  std::memcpy(&x, bytes, sizeof x);
  const LDFloat value_initialised{};
  return x.sign_exponent() == 0 && x.significand() == 0 &&
         value_initialised.sign_exponent() == 0 && value_initialised.significand() == 0;
}

}  // namespace

int main() {
  if (!zero_bytes_are_positive_zero()) {
    std::printf("FAILED: all-zero bytes are not +0\n");
    return 1;
  }
  Fnv1a digest;
  long cases = 0;
  for (Op op : kOps) {
    generate(op, 7, 1000000, [&](const Case& c) {
      const Outcome o = evaluate<LDFloat>(op, c);
      digest.add(o.se, 2);
      digest.add(o.m, 8);
      digest.add(o.d, 8);
      ++cases;
    });
  }
  const bool ok = digest.value() == kExpected;
  std::printf("digest %016" PRIx64 " over %ld cases, expected %016" PRIx64 ": %s\n",
              digest.value(), cases, kExpected, ok ? "match" : "MISMATCH");
  std::printf("%d passed, %d failed\n", ok ? 1 : 0, ok ? 0 : 1);
  return ok ? 0 : 1;
}
