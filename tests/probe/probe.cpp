// Test-only extension: reaches what Python cannot, the boundary conversions
// and the class's internal operations (through the capsule in the class dict).
#include <Python.h>

#include "integrator/integrator.hpp"
#include "module/convert.hpp"
#include "module/ref.hpp"

namespace pelorand {
namespace {

IntegratorOps* ops_of(PyObject* self) {
  Ref capsule = Ref::steal(PyObject_GetAttrString(self, "__pyx_vtable__"));
  if (!capsule) return nullptr;
  return static_cast<IntegratorOps*>(PyCapsule_GetPointer(capsule.get(), nullptr));
}

// An extended value given either as a float or as a (numerator, denominator)
// pair divided in extended precision.
int to_extended(PyObject* spec, LDFloat* out) {
  if (PyTuple_Check(spec)) {
    double num, den;
    if (!PyArg_ParseTuple(spec, "dd", &num, &den)) return -1;
    *out = static_cast<LDFloat>(num) / static_cast<LDFloat>(den);
    return 0;
  }
  const double value = PyFloat_AsDouble(spec);
  if (value == -1.0 && PyErr_Occurred()) return -1;
  *out = value;
  return 0;
}

PyObject* probe_generate_key(PyObject*, PyObject* args) {
  PyObject* self;
  int m, k;
  if (!PyArg_ParseTuple(args, "Oii", &self, &m, &k)) return nullptr;
  IntegratorOps* ops = ops_of(self);
  return ops ? ops->_generate_key(reinterpret_cast<IntegratorObject*>(self), m, k) : nullptr;
}

PyObject* probe_T(PyObject*, PyObject* args) {
  PyObject* self;
  int m, k;
  if (!PyArg_ParseTuple(args, "Oii", &self, &m, &k)) return nullptr;
  IntegratorOps* ops = ops_of(self);
  if (!ops) return nullptr;
  const LDFloat value = ops->_T(reinterpret_cast<IntegratorObject*>(self), m, k);
  if (PyErr_Occurred()) return nullptr;
  return ldfloat_to_value(value);
}

PyObject* probe_sub_problem(PyObject*, PyObject* args) {
  PyObject *self, *pre, *first, *current;
  if (!PyArg_ParseTuple(args, "OOOO", &self, &pre, &first, &current)) return nullptr;
  LDFloat first_current;
  if (to_extended(first, &first_current) < 0) return nullptr;
  IntegratorOps* ops = ops_of(self);
  if (!ops) return nullptr;
  ops->_sub_problem(reinterpret_cast<IntegratorObject*>(self), pre, first_current, current);
  if (PyErr_Occurred()) return nullptr;
  Py_RETURN_NONE;
}

PyObject* probe_value_to_double(PyObject*, PyObject* obj) {
  const double value = value_to_double(obj);
  if (value == -1.0 && PyErr_Occurred()) return nullptr;
  return PyFloat_FromDouble(value);
}

PyObject* probe_value_to_int(PyObject*, PyObject* obj) {
  const int value = value_to_int(obj);
  if (value == -1 && PyErr_Occurred()) return nullptr;
  return PyLong_FromLong(value);
}

PyObject* probe_value_to_float(PyObject*, PyObject* obj) { return value_to_float(obj); }

PyObject* probe_ldfloat_to_value(PyObject*, PyObject* spec) {
  LDFloat value;
  if (to_extended(spec, &value) < 0) return nullptr;
  return ldfloat_to_value(value);
}

PyObject* probe_call_integrand(PyObject*, PyObject* args) {
  PyObject *f, *x;
  if (!PyArg_ParseTuple(args, "OO", &f, &x)) return nullptr;
  return call_integrand(f, x);
}

PyObject* probe_dict_item(PyObject*, PyObject* args) {
  PyObject *d, *key;
  if (!PyArg_ParseTuple(args, "O!O", &PyDict_Type, &d, &key)) return nullptr;
  return dict_item(d, key);
}

PyObject* probe_last_item(PyObject*, PyObject* row) { return last_item(row); }

PyMethodDef probe_methods[] = {
    {"generate_key", probe_generate_key, METH_VARARGS, nullptr},
    {"T", probe_T, METH_VARARGS, nullptr},
    {"sub_problem", probe_sub_problem, METH_VARARGS, nullptr},
    {"value_to_double", probe_value_to_double, METH_O, nullptr},
    {"value_to_int", probe_value_to_int, METH_O, nullptr},
    {"value_to_float", probe_value_to_float, METH_O, nullptr},
    {"ldfloat_to_value", probe_ldfloat_to_value, METH_O, nullptr},
    {"call_integrand", probe_call_integrand, METH_VARARGS, nullptr},
    {"dict_item", probe_dict_item, METH_VARARGS, nullptr},
    {"last_item", probe_last_item, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef probe_module = {
    PyModuleDef_HEAD_INIT, "_pelorand_probe", nullptr, 0, probe_methods,
    nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace pelorand

PyMODINIT_FUNC PyInit__pelorand_probe(void) { return PyModule_Create(&pelorand::probe_module); }
