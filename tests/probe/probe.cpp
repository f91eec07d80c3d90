// Test-only extension: reaches what Python cannot, the boundary conversions
// and the class's internal operations (through the capsule in the class dict).
#include <Python.h>

#include "capi/convert.hpp"
#include "capi/ref.hpp"
#include "integrator/integrator.hpp"

namespace pelorand {
namespace {

IntegratorOps* ops_of(PyObject* self) {
  Ref capsule = Ref::steal(PyObject_GetAttrString(self, "__pyx_vtable__"));
  if (!capsule) return nullptr;
  return static_cast<IntegratorOps*>(PyCapsule_GetPointer(capsule.get(), nullptr));
}

PyObject* probe_generate_key(PyObject*, PyObject* args) {
  PyObject* self;
  int m, k;
  if (!PyArg_ParseTuple(args, "Oii", &self, &m, &k)) return nullptr;
  IntegratorOps* ops = ops_of(self);
  return ops ? ops->_generate_key(reinterpret_cast<IntegratorObject*>(self), m, k) : nullptr;
}

// sub_problem(obj, previous, first, current): `first` is a pair
// (numerator, denominator) divided in extended precision.
PyObject* probe_sub_problem(PyObject*, PyObject* args) {
  PyObject *self, *pre, *current;
  double num, den;
  if (!PyArg_ParseTuple(args, "OO(dd)O", &self, &pre, &num, &den, &current)) return nullptr;
  const LDFloat first_current = static_cast<LDFloat>(num) / static_cast<LDFloat>(den);
  IntegratorOps* ops = ops_of(self);
  if (!ops) return nullptr;
  ops->_sub_problem(reinterpret_cast<IntegratorObject*>(self), pre, first_current, current);
  if (PyErr_Occurred()) return nullptr;
  Py_RETURN_NONE;
}

PyObject* probe_value_to_float(PyObject*, PyObject* obj) { return value_to_float(obj); }

PyObject* probe_dict_item(PyObject*, PyObject* args) {
  PyObject *d, *key;
  if (!PyArg_ParseTuple(args, "O!O", &PyDict_Type, &d, &key)) return nullptr;
  return dict_item(d, key);
}

PyObject* probe_last_item(PyObject*, PyObject* row) { return last_item(row); }

PyMethodDef probe_methods[] = {
    {"generate_key", probe_generate_key, METH_VARARGS, nullptr},
    {"sub_problem", probe_sub_problem, METH_VARARGS, nullptr},
    {"value_to_float", probe_value_to_float, METH_O, nullptr},
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
