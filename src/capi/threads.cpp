#include "capi/threads.hpp"

#include <Python.h>

#include <chrono>
#include <cstring>

#include "capi/ref.hpp"

namespace pelorand {

namespace {

// The interpreter's own default, for when its value cannot be read.
constexpr double kDefaultSwitchInterval = 0.005;

// sys.getswitchinterval as the sys module defines it, not whatever the name
// is bound to now: a replacement installed in sys would run arbitrary code in
// the middle of a sum, and cannot change the interval anyway.
PyCFunction read_switch_interval = nullptr;
PyObject* sys_module = nullptr;  // its receiver, held for the life of the process
bool looked_up = false;

// Taken from sys.modules: importing it would call builtins.__import__.
void look_up_switch_interval() {
  Ref name = Ref::steal(PyUnicode_FromString("sys"));
  Ref sys = Ref::steal(name ? PyImport_GetModule(name.get()) : nullptr);
  if (!sys) return;  // tried again at the next offer
  looked_up = true;
  PyModuleDef* def = PyModule_GetDef(sys.get());
  for (PyMethodDef* method = def ? def->m_methods : nullptr; method && method->ml_name; ++method) {
    if (std::strcmp(method->ml_name, "getswitchinterval") == 0 && method->ml_flags == METH_NOARGS) {
      read_switch_interval = method->ml_meth;
      sys_module = sys.release();
      return;
    }
  }
}

// In seconds; the default on any failure. Reads it at every offer, so that a
// change takes effect at once.
double switch_interval() {
  if (!looked_up) look_up_switch_interval();
  double seconds = -1.0;
  if (read_switch_interval) {
    Ref value = Ref::steal(read_switch_interval(sys_module, nullptr));
    if (value && PyFloat_Check(value.get())) seconds = PyFloat_AS_DOUBLE(value.get());
  }
  if (seconds > 0.0) return seconds;
  PyErr_Clear();
  return kDefaultSwitchInterval;
}

}  // namespace

// A thread waiting for the lock asks for it only after a whole switch
// interval without a release, and every release restarts that wait; offered
// more often than that, the lock would never reach it.
void offer_interpreter_lock() {
  using Clock = std::chrono::steady_clock;
  thread_local Clock::time_point last_offer = Clock::now();
  const Clock::time_point now = Clock::now();
  if (now - last_offer < std::chrono::duration<double>(switch_interval() * 1.5)) return;
  last_offer = now;
  Py_BEGIN_ALLOW_THREADS
  Py_END_ALLOW_THREADS
}

}  // namespace pelorand
