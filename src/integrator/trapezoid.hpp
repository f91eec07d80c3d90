// The composite trapezoid estimate shared by both integration methods.
#pragma once

#include "integrator/integrator.hpp"

namespace pelorand {

// The interval count 2^level is a 32-bit int.
inline constexpr int kMaxLevel = 30;

// h * S for the grid of 2^level intervals of width h = (b - a) / 2^level, where
// S = 0.5 * (f(a) + f(b)) plus f(a + i*h) for i = 1 .. 2^level - 1, added in
// that order with Python's number protocol, S a double after every addition.
// Calls f at a, b, then the interior points in increasing order. Stores the
// estimate in *out and returns 0, or returns -1 with an exception set (no
// traceback entry: the caller adds its own).
int composite_trapezoid(IntegratorObject* self, int level, LDFloat* out);

}  // namespace pelorand
