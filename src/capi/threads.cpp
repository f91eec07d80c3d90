#include "capi/threads.hpp"

#include <Python.h>

#include <chrono>

// _PyEval_GetSwitchInterval is a CPython 3.12 export with a private name.
#if PY_VERSION_HEX < 0x030C0000 || PY_VERSION_HEX >= 0x030D0000
#error "Pelorand is built for CPython 3.12 only"
#endif

namespace pelorand {

// A thread waiting for the lock asks for it only after a whole switch
// interval without a release, and every release restarts that wait; offered
// more often than that, the lock would never reach it.
void offer_interpreter_lock() {
  using Clock = std::chrono::steady_clock;
  thread_local Clock::time_point last_offer = Clock::now();
  const Clock::time_point now = Clock::now();
  if (now - last_offer < std::chrono::microseconds(_PyEval_GetSwitchInterval() * 3 / 2)) return;
  last_offer = now;
  Py_BEGIN_ALLOW_THREADS
  Py_END_ALLOW_THREADS
}

}  // namespace pelorand
