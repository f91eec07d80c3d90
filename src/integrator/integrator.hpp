// The Pelorand class: instance record, type object and internal operations.
#pragma once

#include <Python.h>

#include "module/convert.hpp"

namespace pelorand {

struct IntegratorObject;

// The class's table of internal operations, not reachable from Python. Other
// extension modules may reach it through the capsule in the class dict.
struct IntegratorOps {
  // A new reference to the memo key "m-k", or null with an exception set.
  PyObject* (*_generate_key)(IntegratorObject* self, int m, int k);
  // T(m, k); on failure 0 with an exception set, so callers test PyErr_Occurred().
  LDFloat (*_T)(IntegratorObject* self, int m, int k);
  // Appends the row after `lst_pre` to `lst_current`; callers test PyErr_Occurred().
  void (*_sub_problem)(IntegratorObject* self, PyObject* lst_pre, LDFloat first_current,
                       PyObject* lst_current);
};

struct IntegratorObject {
  PyObject_HEAD
  IntegratorOps* ops;
  // The object fields are never null while the instance is reachable: None
  // until construction stores them and again after a garbage-collector clear.
  PyObject* _integrand;
  LDFloat _lower_bound;
  LDFloat _upper_bound;
  LDFloat _precision;
  PyObject* _romberg_map;      // dict
  PyObject* _romberg_table;    // list
  PyObject* _precision_table;  // list
};

extern PyTypeObject IntegratorType;
extern IntegratorOps integrator_ops;
extern PyMethodDef integrator_methods[];

// Fills the operations table and readies the type; 0, or -1 with an exception.
int integrator_type_ready();

// The interpreter's own errors for using a field that a garbage-collector
// clear left as None; each sets the exception and returns -1.
int fail_none_not_subscriptable();
int fail_none_not_iterable();

PyObject* integrator_generate_key(IntegratorObject* self, int m, int k);
LDFloat integrator_T(IntegratorObject* self, int m, int k);
void integrator_sub_problem(IntegratorObject* self, PyObject* lst_pre, LDFloat first_current,
                            PyObject* lst_current);

PyObject* integrator_recursive(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames);
PyObject* integrator_dynamic_programming(PyObject* self, PyObject* const* args,
                                         Py_ssize_t nargs, PyObject* kwnames);
PyObject* integrator_reduce_cython(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames);
PyObject* integrator_setstate_cython(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames);

}  // namespace pelorand
