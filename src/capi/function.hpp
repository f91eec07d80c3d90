// The function objects that expose a class's methods to Python: they carry
// the introspection attributes of Python functions and bind like them.
#pragma once

#include <Python.h>

#include "capi/binding.hpp"
#include "capi/traceback.hpp"

namespace pelorand {

inline constexpr int kMaxLocals = 8;

// A METH_FASTCALL | METH_KEYWORDS implementation; the interpreter's public
// name for this type is new in 3.13.
using FastcallImpl = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames);

// Where the start-up binds a method's function object.
enum class BindTarget { kClass, kModule };

// Everything Python sees of one method, described once: the class's method
// table, its function object, that object's code object (the signature that
// inspect reports) and its defaults all come from here.
struct MethodSpec {
  Signature signature;                  // its name is the method's __name__
  FastcallImpl impl;                    // called with self and the remaining arguments
  const char* doc;
  const char* qualname;
  const char* locals[kMaxLocals];       // the code object's locals after the parameters
  BindTarget target;
  SourcePlace code;                     // what the code object names as its source
};

struct FunctionObject {
  PyObject_HEAD
  vectorcallfunc vectorcall;
  const MethodSpec* spec;
  PyTypeObject* receiver_type;  // what the first argument must be an instance of
  PyObject* name;
  PyObject* qualname;
  PyObject* module;
  PyObject* doc;                // null: the docstring of `spec`
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

// The class's method-table entry for `spec`.
PyMethodDef method_def(const MethodSpec& spec);

// A function object for `spec` whose first argument must be a `receiver_type`
// instance, with its code object and defaults. `spec.signature` must be ready.
PyObject* function_new(const MethodSpec& spec, PyTypeObject* receiver_type, PyObject* module,
                       PyObject* globals);

// The function's interned __name__ as made (borrowed).
inline PyObject* function_name(PyObject* func) {
  return reinterpret_cast<FunctionObject*>(func)->name;
}

}  // namespace pelorand
