#include "capi/static_type.hpp"

namespace pelorand {

int static_type_ready(PyTypeObject* type) {
  if (PyType_HasFeature(type, Py_TPFLAGS_READY)) return 0;
  const PyTypeObject pristine = *type;
  if (PyType_Ready(type) == 0) return 0;
  // What the attempt made; a static type is immortal, so its own count is
  // not disturbed by putting the whole record back.
  PyObject* made[] = {type->tp_dict, type->tp_bases, type->tp_mro};
  *type = pristine;
  for (PyObject* object : made) Py_XDECREF(object);
  return -1;
}

}  // namespace pelorand
