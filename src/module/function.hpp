// The function objects that expose the class's methods to Python: they carry
// the introspection attributes of Python functions and bind like them.
#pragma once

#include <Python.h>

#include <initializer_list>

namespace pelorand {

struct FunctionObject {
  PyObject_HEAD
  vectorcallfunc vectorcall;
  PyMethodDef* def;             // name, implementation and docstring
  PyTypeObject* receiver_type;  // what the first argument must be an instance of
  PyObject* name;
  PyObject* qualname;
  PyObject* module;
  PyObject* doc;                // null: the docstring of `def`
  PyObject* defaults;           // tuple or null
  PyObject* kwdefaults;         // dict or null
  PyObject* annotations;        // dict or null, made on first read
  PyObject* globals;
  PyObject* code;
  PyObject* dict;
  PyObject* weakreflist;
};

extern PyTypeObject FunctionType;

// Readies the type once; 0, or -1 with an exception set.
int function_type_ready();

// `def` must use METH_FASTCALL | METH_KEYWORDS; the function calls it with
// its first argument, which must be a `receiver_type` instance, as self.
PyObject* function_new(PyMethodDef* def, PyTypeObject* receiver_type, PyObject* qualname,
                       PyObject* module, PyObject* globals, PyObject* code);

// Sets __defaults__ (a tuple, or null for none).
void function_set_defaults(PyObject* func, PyObject* defaults);

// A code object that describes the Python signature: `argcount` parameters
// followed by further locals, all named in `varnames`.
PyObject* code_new(PyObject* name, PyObject* qualname, PyObject* filename, int argcount,
                   std::initializer_list<PyObject*> varnames);

}  // namespace pelorand
