// Both software variants against the hardware x87, operation by operation,
// bit for bit (NaN results included). Usage: extended_differential [cases]
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "cases.hpp"

#if !PELORAND_HAVE_HARD_EXTENDED
#error "the differential test needs the hardware x87 type (x86 with GCC or Clang)"
#endif

namespace {

using namespace extended_cases;
using pelorand::HardExtended;
using Int128 = pelorand::SoftExtended<pelorand::Int128Limbs>;
using Portable = pelorand::SoftExtended<pelorand::PortableLimbs>;

void print(const char* label, const Outcome& o) {
  std::printf("    %-9s se=%04x m=%016" PRIx64 " d=%016" PRIx64 "\n", label, o.se, o.m, o.d);
}

// Mismatches of one variant against the hardware; the first is printed.
struct Tally {
  const char* variant;
  long mismatches = 0;

  void check(Op op, const Case& c, const Outcome& hard, const Outcome& soft) {
    if (soft == hard) return;
    if (mismatches++ != 0) return;
    std::printf("  FIRST MISMATCH in %s (%s):\n    a: se=%04x m=%016" PRIx64
                "   %s: se=%04x m=%016" PRIx64 "   i=%" PRId32 "\n",
                name(op), variant, c.a.se, c.a.m, op == Op::kSamplePoint ? "h" : "b", c.b.se,
                c.b.m, c.i);
    print("hardware", hard);
    print(variant, soft);
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const long count = argc > 1 ? std::atol(argv[1]) : 10000000;
  int failed = 0;
  for (Op op : kOps) {
    Tally int128{"int128"}, portable{"portable"};
    long cases = 0;
    generate(op, 20240611, count, [&](const Case& c) {
      const Outcome hard = evaluate<HardExtended>(op, c);
      int128.check(op, c, hard, evaluate<Int128>(op, c));
      portable.check(op, c, hard, evaluate<Portable>(op, c));
      ++cases;
    });
    const bool ok = int128.mismatches == 0 && portable.mismatches == 0;
    failed += !ok;
    std::printf("%-12s %ld cases, mismatches: int128 %ld, portable %ld\n", name(op), cases,
                int128.mismatches, portable.mismatches);
  }
  const int total = static_cast<int>(sizeof kOps / sizeof kOps[0]);
  std::printf("%d passed, %d failed\n", total - failed, failed);
  return failed == 0 ? 0 : 1;
}
