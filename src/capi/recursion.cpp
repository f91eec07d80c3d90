#include "capi/recursion.hpp"

#include <Python.h>

namespace pelorand {

namespace {

// About a thousand memo levels or three hundred nested methods. With the
// interpreter's own frames and the error path on top it stays well inside a
// 256 KiB thread stack.
constexpr std::uintptr_t kStackBudget = 160 * 1024;

// Where this thread's outermost active level began; 0 when none is active.
thread_local std::uintptr_t outermost = 0;

std::uintptr_t stack_position() {
#if defined(__GNUC__) || defined(__clang__)
  return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
#else
  volatile char marker = 0;
  return reinterpret_cast<std::uintptr_t>(&marker);
#endif
}

}  // namespace

int RecursionGuard::enter(const char* where) {
  const std::uintptr_t here = stack_position();
  // Stacks grow down. A position above the outermost level is another stack
  // (a coroutine library's), which starts a count of its own.
  if (outermost != 0 && here < outermost && outermost - here > kStackBudget) {
    PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", where);
    return -1;
  }
  saved_ = outermost;
  if (outermost == 0 || here > outermost) outermost = here;
  return 0;
}

void RecursionGuard::leave() { outermost = saved_; }

}  // namespace pelorand
