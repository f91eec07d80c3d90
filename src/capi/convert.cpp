#include "capi/convert.hpp"

#include "capi/ref.hpp"

#include <climits>

namespace pelorand {

namespace {

// Read as 64 bits on every platform (C's long is 32 bits on some), with the
// messages that PyLong_AsLong gives where it has 64.
int long_to_int(PyObject* number) {
  long long value;
  if (PyLong_CheckExact(number) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(number))) {
    value = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(number));
  } else {
    int overflow;
    value = PyLong_AsLongLongAndOverflow(number, &overflow);
    if (overflow) {
      PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C long");
      return -1;
    }
    if (value == -1 && PyErr_Occurred()) return -1;
  }
  if (value < INT_MIN || value > INT_MAX) {
    PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
    return -1;
  }
  return static_cast<int>(value);
}

}  // namespace

int value_to_int(PyObject* obj) {
  // An int subclass is read as an int: its own __int__ or __index__ is not asked.
  if (PyLong_Check(obj)) return long_to_int(obj);

  PyNumberMethods* number = Py_TYPE(obj)->tp_as_number;
  if (!number || !number->nb_int) {
    PyErr_SetString(PyExc_TypeError, "an integer is required");
    return -1;
  }
  Ref result = Ref::steal(number->nb_int(obj));
  if (!result) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "an integer is required");
    return -1;
  }
  if (!PyLong_CheckExact(result.get())) {
    if (!PyLong_Check(result.get())) {
      PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                   Py_TYPE(result.get())->tp_name);
      return -1;
    }
    if (PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                         "__int__ returned non-int (type %.200s).  The ability to return an "
                         "instance of a strict subclass of int is deprecated, and may be "
                         "removed in a future version of Python.",
                         Py_TYPE(result.get())->tp_name) < 0) {
      return -1;
    }
  }
  return long_to_int(result.get());
}

PyObject* call_builtin_o(PyObject* f, PyObject* x) {
  PyCFunction meth = PyCFunction_GET_FUNCTION(f);
  PyObject* self = PyCFunction_GET_SELF(f);
  if (Py_EnterRecursiveCall(" while calling a Python object")) return nullptr;
  PyObject* result = meth(self, x);
  Py_LeaveRecursiveCall();
  if (!result && !PyErr_Occurred()) {
    PyErr_SetString(PyExc_SystemError, "NULL result without error in PyObject_Call");
  }
  return result;
}

PyObject* dict_item(PyObject* d, PyObject* key) {
  PyObject* value = PyDict_GetItemWithError(d, key);  // borrowed
  if (value) return Py_NewRef(value);
  if (!PyErr_Occurred()) {
    // Wrapped so that a tuple key stays one argument of the KeyError.
    Ref args = Ref::steal(PyTuple_Pack(1, key));
    if (args) PyErr_SetObject(PyExc_KeyError, args.get());
  }
  return nullptr;
}

PyObject* last_item(PyObject* row) {
  if (PyList_CheckExact(row) || PyTuple_CheckExact(row)) {
    const bool list = PyList_CheckExact(row);
    const Py_ssize_t size = Py_SIZE(row);
    if (size == 0) {
      PyErr_SetString(PyExc_IndexError, list ? "list index out of range" : "tuple index out of range");
      return nullptr;
    }
    return Py_NewRef(list ? PyList_GET_ITEM(row, size - 1) : PyTuple_GET_ITEM(row, size - 1));
  }
  Ref index = Ref::steal(PyLong_FromLong(-1));
  if (!index) return nullptr;
  return PyObject_GetItem(row, index.get());
}

}  // namespace pelorand
