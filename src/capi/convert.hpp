// The boundary between Python values and the integrator's numbers, and the
// few object operations the integration methods perform on Python values.
//
// Failure convention: a null object, or -1 (-1.0 for reals) with the error
// indicator set; -1 without it is an ordinary value.
#pragma once

#include <Python.h>

#include "numeric/extended.hpp"

namespace pelorand {

// The per-sample helpers are inline: they run once per integrand call.

inline double value_to_double(PyObject* obj) {
  if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
  return PyFloat_AsDouble(obj);
}

// Every value reaches the integrator through a double, widened exactly.
inline LDFloat value_to_ldfloat(PyObject* obj) { return LDFloat(value_to_double(obj)); }

// Rounds to the nearest double (ties to even) and boxes it.
inline PyObject* ldfloat_to_value(LDFloat x) {
  return PyFloat_FromDouble(static_cast<double>(x));
}

// A 32-bit int by the rules of Python's int conversion for C ints.
int value_to_int(PyObject* obj);

// Python's float(obj).
inline PyObject* value_to_float(PyObject* obj) {
  if (PyFloat_CheckExact(obj)) return Py_NewRef(obj);
  return PyNumber_Float(obj);
}

PyObject* call_builtin_o(PyObject* f, PyObject* x);

// f(x) with one positional float and no keywords. `f` must be kept alive by
// the caller for the duration of the call.
inline PyObject* call_integrand(PyObject* f, PyObject* x) {
  if (PyMethod_Check(f)) {
    // Unpack the bound method here rather than have it copy the arguments.
    PyObject* stack[3] = {nullptr, PyMethod_GET_SELF(f), x};
    return PyObject_Vectorcall(PyMethod_GET_FUNCTION(f), stack + 1,
                               2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
  }
  // Exact type only: a subtype test would cost a function call per sample.
  if (Py_IS_TYPE(f, &PyCFunction_Type) && (PyCFunction_GET_FLAGS(f) & ~METH_COEXIST) == METH_O) {
    return call_builtin_o(f, x);
  }
  PyObject* stack[2] = {nullptr, x};
  return PyObject_Vectorcall(f, stack + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

// d[key] on an exact dict; KeyError(key) when absent.
PyObject* dict_item(PyObject* d, PyObject* key);

// row[-1]. An empty list or tuple raises IndexError.
PyObject* last_item(PyObject* row);

}  // namespace pelorand
