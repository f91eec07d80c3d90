// The row extrapolation step and the dynamic-programming integration method.
#include "integrator/integrator.hpp"
#include "module/binding.hpp"
#include "module/ref.hpp"
#include "module/traceback.hpp"

namespace pelorand {

void integrator_sub_problem(IntegratorObject*, PyObject*, LDFloat, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "_sub_problem() is not implemented yet");
}

PyObject* integrator_dynamic_programming(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
  Ref slots[1];
  if (bind_arguments(kDynamicParams, args, nargs, kwnames, slots) == 0 &&
      !(slots[0] && value_to_int(slots[0].get()) == -1 && PyErr_Occurred())) {
    PyErr_SetString(PyExc_NotImplementedError, "dynamic_programming() is not implemented yet");
  }
  add_traceback("Pelorand.Pelorand.dynamic_programming");
  return nullptr;
}

}  // namespace pelorand
