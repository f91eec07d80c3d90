#include "capi/function.hpp"

#include <structmember.h>

#include "capi/recursion.hpp"
#include "capi/ref.hpp"
#include "capi/static_type.hpp"

namespace pelorand {

namespace {

FunctionObject* as_function(PyObject* op) { return reinterpret_cast<FunctionObject*>(op); }

PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) {
  FunctionObject* func = as_function(callable);
  const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (nargs < 1) {
    PyErr_Format(PyExc_TypeError, "%.200s() %s", func->spec->signature.function,
                 "needs an argument");
    return nullptr;
  }
  PyObject* self = args[0];
  // The implementation reads the instance record: anything else must stop here.
  if (!PyObject_TypeCheck(self, func->receiver_type)) {
    PyErr_Format(PyExc_TypeError,
                 "descriptor '%s' for '%.100s' objects doesn't apply to a '%.100s' object",
                 func->spec->signature.function, func->receiver_type->tp_name,
                 Py_TYPE(self)->tp_name);
    return nullptr;
  }
  // An integrand may be another instance's bound method: re-entry through C
  // alone, with no Python frame to count, must still meet a depth limit.
  RecursionGuard guard;
  if (guard.enter(" while calling a Python object") < 0) return nullptr;
  PyObject* result = func->spec->impl(self, args + 1, nargs - 1, kwnames);
  guard.leave();
  return result;
}

PyObject* function_descr_get(PyObject* func, PyObject* obj, PyObject*) {
  if (obj == Py_None || obj == nullptr) return Py_NewRef(func);
  return PyMethod_New(func, obj);
}

PyObject* function_repr(PyObject* op) {
  return PyUnicode_FromFormat("<function %U at %p>", as_function(op)->qualname, op);
}

int function_traverse(PyObject* op, visitproc visit, void* arg) {
  FunctionObject* func = as_function(op);
  Py_VISIT(func->name);
  Py_VISIT(func->qualname);
  Py_VISIT(func->module);
  Py_VISIT(func->doc);
  Py_VISIT(func->defaults);
  Py_VISIT(func->kwdefaults);
  Py_VISIT(func->annotations);
  Py_VISIT(func->globals);
  Py_VISIT(func->code);
  Py_VISIT(func->dict);
  return 0;
}

// name and qualname stay set: they are read by repr and by error messages.
int function_clear(PyObject* op) {
  FunctionObject* func = as_function(op);
  Py_CLEAR(func->module);
  Py_CLEAR(func->doc);
  Py_CLEAR(func->defaults);
  Py_CLEAR(func->kwdefaults);
  Py_CLEAR(func->annotations);
  Py_CLEAR(func->globals);
  Py_CLEAR(func->code);
  Py_CLEAR(func->dict);
  return 0;
}

void function_dealloc(PyObject* op) {
  PyObject_GC_UnTrack(op);
  FunctionObject* func = as_function(op);
  if (func->weakreflist) PyObject_ClearWeakRefs(op);
  function_clear(op);
  Py_CLEAR(func->name);
  Py_CLEAR(func->qualname);
  Py_TYPE(op)->tp_free(op);
}

PyObject* function_get_name(PyObject* op, void*) { return Py_NewRef(as_function(op)->name); }

int function_set_name(PyObject* op, PyObject* value, void*) {
  if (!value || !PyUnicode_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "__name__ must be set to a string object");
    return -1;
  }
  Py_XSETREF(as_function(op)->name, Py_NewRef(value));
  return 0;
}

PyObject* function_get_qualname(PyObject* op, void*) {
  return Py_NewRef(as_function(op)->qualname);
}

int function_set_qualname(PyObject* op, PyObject* value, void*) {
  if (!value || !PyUnicode_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "__qualname__ must be set to a string object");
    return -1;
  }
  Py_XSETREF(as_function(op)->qualname, Py_NewRef(value));
  return 0;
}

PyObject* function_get_doc(PyObject* op, void*) {
  FunctionObject* func = as_function(op);
  if (func->doc) return Py_NewRef(func->doc);
  if (!func->spec->doc) Py_RETURN_NONE;
  func->doc = PyUnicode_FromString(func->spec->doc);
  return Py_XNewRef(func->doc);
}

int function_set_doc(PyObject* op, PyObject* value, void*) {
  Py_XSETREF(as_function(op)->doc, Py_NewRef(value ? value : Py_None));
  return 0;
}

PyObject* function_get_defaults(PyObject* op, void*) {
  PyObject* defaults = as_function(op)->defaults;
  return Py_NewRef(defaults ? defaults : Py_None);
}

int function_set_defaults_attr(PyObject* op, PyObject* value, void*) {
  if (value == Py_None) value = nullptr;
  if (value && !PyTuple_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "__defaults__ must be set to a tuple object");
    return -1;
  }
  Py_XSETREF(as_function(op)->defaults, Py_XNewRef(value));
  return 0;
}

PyObject* function_get_kwdefaults(PyObject* op, void*) {
  PyObject* kwdefaults = as_function(op)->kwdefaults;
  return Py_NewRef(kwdefaults ? kwdefaults : Py_None);
}

int function_set_kwdefaults(PyObject* op, PyObject* value, void*) {
  if (value == Py_None) value = nullptr;
  if (value && !PyDict_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "__kwdefaults__ must be set to a dict object");
    return -1;
  }
  Py_XSETREF(as_function(op)->kwdefaults, Py_XNewRef(value));
  return 0;
}

PyObject* function_get_annotations(PyObject* op, void*) {
  FunctionObject* func = as_function(op);
  if (!func->annotations && !(func->annotations = PyDict_New())) return nullptr;
  return Py_NewRef(func->annotations);
}

int function_set_annotations(PyObject* op, PyObject* value, void*) {
  if (value == Py_None) value = nullptr;
  if (value && !PyDict_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
    return -1;
  }
  Py_XSETREF(as_function(op)->annotations, Py_XNewRef(value));
  return 0;
}

PyGetSetDef function_getsetlist[] = {
    {"__name__", function_get_name, function_set_name, nullptr, nullptr},
    {"__qualname__", function_get_qualname, function_set_qualname, nullptr, nullptr},
    {"__doc__", function_get_doc, function_set_doc, nullptr, nullptr},
    {"__defaults__", function_get_defaults, function_set_defaults_attr, nullptr, nullptr},
    {"__kwdefaults__", function_get_kwdefaults, function_set_kwdefaults, nullptr, nullptr},
    {"__annotations__", function_get_annotations, function_set_annotations, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_memberlist[] = {
    {"__module__", T_OBJECT, offsetof(FunctionObject, module), 0, nullptr},
    {"__globals__", T_OBJECT, offsetof(FunctionObject, globals), READONLY, nullptr},
    {"__code__", T_OBJECT, offsetof(FunctionObject, code), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

}  // namespace

PyTypeObject FunctionType = {
    PyVarObject_HEAD_INIT(&PyType_Type, 0)
    "Pelorand.function",                         /* tp_name */
    sizeof(FunctionObject),                      /* tp_basicsize */
    0,                                           /* tp_itemsize */
    function_dealloc,                            /* tp_dealloc */
    offsetof(FunctionObject, vectorcall),        /* tp_vectorcall_offset */
    nullptr,                                     /* tp_getattr */
    nullptr,                                     /* tp_setattr */
    nullptr,                                     /* tp_as_async */
    function_repr,                               /* tp_repr */
    nullptr,                                     /* tp_as_number */
    nullptr,                                     /* tp_as_sequence */
    nullptr,                                     /* tp_as_mapping */
    nullptr,                                     /* tp_hash */
    PyVectorcall_Call,                           /* tp_call */
    nullptr,                                     /* tp_str */
    nullptr,                                     /* tp_getattro */
    nullptr,                                     /* tp_setattro */
    nullptr,                                     /* tp_as_buffer */
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_METHOD_DESCRIPTOR,            /* tp_flags */
    nullptr,                                     /* tp_doc */
    function_traverse,                           /* tp_traverse */
    function_clear,                              /* tp_clear */
    nullptr,                                     /* tp_richcompare */
    offsetof(FunctionObject, weakreflist),       /* tp_weaklistoffset */
    nullptr,                                     /* tp_iter */
    nullptr,                                     /* tp_iternext */
    nullptr,                                     /* tp_methods */
    function_memberlist,                         /* tp_members */
    function_getsetlist,                         /* tp_getset */
    nullptr,                                     /* tp_base */
    nullptr,                                     /* tp_dict */
    function_descr_get,                          /* tp_descr_get */
    nullptr,                                     /* tp_descr_set */
    offsetof(FunctionObject, dict),              /* tp_dictoffset */
    nullptr,                                     /* tp_init */
    nullptr,                                     /* tp_alloc */
    nullptr,                                     /* tp_new */
    nullptr,                                     /* tp_free */
    nullptr,                                     /* tp_is_gc */
    nullptr,                                     /* tp_bases */
    nullptr,                                     /* tp_mro */
    nullptr,                                     /* tp_cache */
    nullptr,                                     /* tp_subclasses */
    nullptr,                                     /* tp_weaklist */
    nullptr,                                     /* tp_del */
    0,                                           /* tp_version_tag */
    nullptr,                                     /* tp_finalize */
    nullptr,                                     /* tp_vectorcall */
    0,                                           /* tp_watched */
#if PY_VERSION_HEX >= 0x030D0000
    0,                                           /* tp_versions_used */
#endif
};

int function_type_ready() { return static_type_ready(&FunctionType); }

PyMethodDef method_def(const MethodSpec& spec) {
  return {spec.signature.function,
          reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(spec.impl)),
          METH_FASTCALL | METH_KEYWORDS, spec.doc};
}

namespace {

// The code object that makes inspect report the Python signature: self and
// the parameters, then the further locals.
PyObject* code_new(const MethodSpec& spec, PyObject* name, PyObject* qualname) {
  const Signature& signature = spec.signature;
  Py_ssize_t nlocals = 0;
  while (nlocals < kMaxLocals && spec.locals[nlocals]) ++nlocals;
  const Py_ssize_t argcount = 1 + signature.count;
  Ref varnames = Ref::steal(PyTuple_New(argcount + nlocals));
  if (!varnames) return nullptr;
  for (Py_ssize_t i = 0; i < argcount + nlocals; ++i) {
    PyObject* varname = i == 0          ? PyUnicode_InternFromString("self")
                        : i < argcount ? Py_NewRef(signature.names[i - 1])
                                       : PyUnicode_InternFromString(spec.locals[i - argcount]);
    if (!varname) return nullptr;
    PyTuple_SET_ITEM(varnames.get(), i, varname);
  }
  Ref filename = Ref::steal(PyUnicode_FromString(spec.code.file));
  Ref empty_tuple = Ref::steal(PyTuple_New(0));
  Ref empty_bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, 0));
  if (!filename || !empty_tuple || !empty_bytes) return nullptr;
  PyObject* empty = empty_tuple.get();
  return reinterpret_cast<PyObject*>(PyUnstable_Code_NewWithPosOnlyArgs(
      static_cast<int>(argcount), 0, 0, static_cast<int>(argcount + nlocals), 0,
      CO_OPTIMIZED | CO_NEWLOCALS, empty_bytes.get(), empty, empty, varnames.get(), empty, empty,
      filename.get(), name, qualname, spec.code.line, empty_bytes.get(), empty_bytes.get()));
}

// The defaults of the parameters after the required ones, or null for none.
PyObject* defaults_new(const Signature& signature) {
  if (signature.required == signature.count) return nullptr;
  Ref defaults = Ref::steal(PyTuple_New(signature.count - signature.required));
  if (!defaults) return nullptr;
  for (Py_ssize_t i = signature.required; i < signature.count; ++i) {
    PyObject* value = PyLong_FromLong(signature.defaults[i]);
    if (!value) return nullptr;
    PyTuple_SET_ITEM(defaults.get(), i - signature.required, value);
  }
  return defaults.release();
}

}  // namespace

PyObject* function_new(const MethodSpec& spec, PyTypeObject* receiver_type, PyObject* module,
                       PyObject* globals) {
  Ref name = Ref::steal(PyUnicode_InternFromString(spec.signature.function));
  Ref qualname = Ref::steal(PyUnicode_FromString(spec.qualname));
  if (!name || !qualname) return nullptr;
  Ref code = Ref::steal(code_new(spec, name.get(), qualname.get()));
  if (!code) return nullptr;
  Ref defaults = Ref::steal(defaults_new(spec.signature));
  if (!defaults && PyErr_Occurred()) return nullptr;

  FunctionObject* func = PyObject_GC_New(FunctionObject, &FunctionType);
  if (!func) return nullptr;
  func->vectorcall = function_vectorcall;
  func->spec = &spec;
  func->receiver_type = receiver_type;
  func->name = name.release();
  func->qualname = qualname.release();
  func->module = Py_NewRef(module);
  func->doc = nullptr;
  func->defaults = defaults.release();
  func->kwdefaults = nullptr;
  func->annotations = nullptr;
  func->globals = Py_NewRef(globals);
  func->code = code.release();
  func->dict = nullptr;
  func->weakreflist = nullptr;
  PyObject_GC_Track(func);
  return reinterpret_cast<PyObject*>(func);
}

}  // namespace pelorand
