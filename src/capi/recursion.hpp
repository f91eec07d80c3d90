// A limit of the module's own on native recursion: C++ levels that re-enter
// one another with no Python frame to count them (entries placed in a memo,
// integrands that are bound methods of instances).
#pragma once

#include <cstdint>

namespace pelorand {

// Measures the C stack that the nested levels of this thread really use, so
// that the limit holds on small thread stacks in any build, and the depth at
// which it ends does not follow the interpreter's own limit, which changes
// from version to version.
class RecursionGuard {
 public:
  // 0, or -1 with RecursionError "maximum recursion depth exceeded<where>".
  // Every successful enter() is paired with one leave().
  int enter(const char* where);
  void leave();

 private:
  std::uintptr_t saved_ = 0;
};

}  // namespace pelorand
