// The memoised Romberg entry T(m, k) and the recursive integration method.
#include "integrator/integrator.hpp"
#include "module/binding.hpp"
#include "module/traceback.hpp"

namespace pelorand {

PyObject* integrator_generate_key(IntegratorObject*, int, int) {
  PyErr_SetString(PyExc_NotImplementedError, "_generate_key() is not implemented yet");
  return nullptr;
}

LDFloat integrator_T(IntegratorObject*, int, int) {
  PyErr_SetString(PyExc_NotImplementedError, "_T() is not implemented yet");
  return 0;
}

PyObject* integrator_recursive(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  if (bind_arguments(kRecursiveParams, args, nargs, kwnames, nullptr) < 0) return nullptr;
  PyErr_SetString(PyExc_NotImplementedError, "recursive() is not implemented yet");
  add_traceback("Pelorand.Pelorand.recursive");
  return nullptr;
}

}  // namespace pelorand
