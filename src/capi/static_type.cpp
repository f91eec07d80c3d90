#include "capi/static_type.hpp"

namespace pelorand {

int static_type_ready(PyTypeObject* type) {
  if (PyType_HasFeature(type, Py_TPFLAGS_READY)) return 0;
  const PyTypeObject pristine = *type;
  if (PyType_Ready(type) == 0) return 0;
  // What the attempt made holds references to the type: the count stays as
  // it is now and falls back when they are released.
  PyObject* made[] = {type->tp_dict, type->tp_bases, type->tp_mro};
  const Py_ssize_t references = Py_REFCNT(type);
  *type = pristine;
  Py_SET_REFCNT(type, references);
  for (PyObject* object : made) Py_XDECREF(object);
  return -1;
}

int static_type_set(PyTypeObject* type, PyObject* name, PyObject* value) {
  PyObject* dict = PyType_GetDict(type);
  if (!dict) return -1;
  const int status = value ? PyDict_SetItem(dict, name, value) : PyDict_DelItem(dict, name);
  Py_DECREF(dict);
  if (status == 0) PyType_Modified(type);
  return status;
}

}  // namespace pelorand
