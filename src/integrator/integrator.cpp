#include "integrator/integrator.hpp"

#include <cstring>
#include <iterator>

#include "capi/binding.hpp"
#include "capi/ref.hpp"
#include "capi/static_type.hpp"
#include "capi/traceback.hpp"

namespace pelorand {

IntegratorConstants integrator_constants{};
IntegratorOps integrator_ops{};

int fail_none_not_subscriptable() {
  PyErr_SetString(PyExc_TypeError, "'NoneType' object is not subscriptable");
  return -1;
}

int fail_none_not_iterable() {
  PyErr_SetString(PyExc_TypeError, "'NoneType' object is not iterable");
  return -1;
}

namespace {

IntegratorObject* as_integrator(PyObject* op) { return reinterpret_cast<IntegratorObject*>(op); }

constexpr const char kClassDoc[] =
    "\n"
    "    Romberg 积分算法实现（C++ 原生扩展版）\n"
    "    \n"
    "    提供两种积分方法：\n"
    "    1. recursive(): 使用递归方法和哈希表缓存\n"
    "    2. dynamic_programming(maximum_step=20): 使用动态规划方法\n"
    "    ";

Signature cinit_signature = {
    .function = "__cinit__", .params = {"a", "b", "precision", "integrand"}, .required = 4};

// Binds and converts the four arguments and fills the record; on failure the
// record keeps None or whatever containers were made so far.
int construct(IntegratorObject* self, PyObject* args, PyObject* kwds) {
  Ref slots[kMaxParams];
  if (bind_arguments(cinit_signature, args, kwds, slots) < 0) return -1;
  // a, b, precision in order; nothing is stored until all three converted.
  LDFloat reals[3];
  for (int i = 0; i < 3; ++i) {
    reals[i] = value_to_ldfloat(slots[i].get());
    if (reals[i] == LDFloat(-1) && PyErr_Occurred()) return -1;
  }
  self->_lower_bound = reals[0];
  self->_upper_bound = reals[1];
  self->_precision = reals[2];
  Py_SETREF(self->_integrand, slots[3].release());

  PyObject* map = PyDict_New();
  if (!map) return -1;
  Py_SETREF(self->_romberg_map, map);
  PyObject* table = PyList_New(0);
  if (!table) return -1;
  Py_SETREF(self->_romberg_table, table);
  PyObject* precision_table = PyList_New(0);
  if (!precision_table) return -1;
  Py_SETREF(self->_precision_table, precision_table);
  return 0;
}

PyObject* integrator_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
  // object.__new__ refuses abstract subclasses with the interpreter's own message.
  Ref owner;
  if (type->tp_flags & Py_TPFLAGS_IS_ABSTRACT) {
    Ref no_arguments = Ref::steal(PyTuple_New(0));
    if (!no_arguments) return nullptr;
    owner = Ref::steal(PyBaseObject_Type.tp_new(type, no_arguments.get(), nullptr));
  } else {
    owner = Ref::steal(type->tp_alloc(type, 0));
  }
  if (!owner) return nullptr;
  PyObject* op = owner.get();
  IntegratorObject* self = as_integrator(op);
  self->ops = &integrator_ops;
  self->_integrand = Py_NewRef(Py_None);
  self->_romberg_map = Py_NewRef(Py_None);
  self->_romberg_table = Py_NewRef(Py_None);
  self->_precision_table = Py_NewRef(Py_None);
  if (construct(self, args, kwds) < 0) {
    add_traceback(kTraceCinit);
    return nullptr;
  }
  return owner.release();
}

// The class has no finaliser of its own; a Python subclass's deallocator runs
// its finaliser before it calls this one.
void integrator_dealloc(PyObject* op) {
  PyTypeObject* type = Py_TYPE(op);
  PyObject_GC_UnTrack(op);
  // A chain of instances, each the next one's integrand, is released one
  // level at a time instead of one C frame per instance.
  Py_TRASHCAN_BEGIN(op, integrator_dealloc)
  IntegratorObject* self = as_integrator(op);
  Py_CLEAR(self->_integrand);
  Py_CLEAR(self->_romberg_map);
  Py_CLEAR(self->_romberg_table);
  Py_CLEAR(self->_precision_table);
  type->tp_free(op);
  Py_TRASHCAN_END
}

int integrator_traverse(PyObject* op, visitproc visit, void* arg) {
  IntegratorObject* self = as_integrator(op);
  Py_VISIT(self->_integrand);
  Py_VISIT(self->_romberg_map);
  Py_VISIT(self->_romberg_table);
  Py_VISIT(self->_precision_table);
  return 0;
}

// None rather than null, so that a method still running sees a field it can use.
int integrator_clear(PyObject* op) {
  IntegratorObject* self = as_integrator(op);
  Py_SETREF(self->_integrand, Py_NewRef(Py_None));
  Py_SETREF(self->_romberg_map, Py_NewRef(Py_None));
  Py_SETREF(self->_romberg_table, Py_NewRef(Py_None));
  Py_SETREF(self->_precision_table, Py_NewRef(Py_None));
  return 0;
}

PyObject* integrator_get_romberg_map(PyObject* op, void*) {
  return Py_NewRef(as_integrator(op)->_romberg_map);
}

PyObject* integrator_get_romberg_table(PyObject* op, void*) {
  return Py_NewRef(as_integrator(op)->_romberg_table);
}

PyObject* integrator_get_precision_table(PyObject* op, void*) {
  return Py_NewRef(as_integrator(op)->_precision_table);
}

PyGetSetDef integrator_getsetlist[] = {
    {"romberg_map", integrator_get_romberg_map, nullptr,
     "返回 Romberg 哈希表（递归方法使用）", nullptr},
    {"romberg_table", integrator_get_romberg_table, nullptr, "返回 Romberg 动态规划表", nullptr},
    {"precision_table", integrator_get_precision_table, nullptr, "返回精度变化表", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Filled from the method descriptions when the type is readied.
PyMethodDef integrator_method_defs[std::size(integrator_methods) + 1] = {};

}  // namespace

PyTypeObject IntegratorType = {
    PyVarObject_HEAD_INIT(&PyType_Type, 0)
    "Pelorand.Pelorand",                         /* tp_name */
    sizeof(IntegratorObject),                    /* tp_basicsize */
    0,                                           /* tp_itemsize */
    integrator_dealloc,                          /* tp_dealloc */
    0,                                           /* tp_vectorcall_offset */
    nullptr,                                     /* tp_getattr */
    nullptr,                                     /* tp_setattr */
    nullptr,                                     /* tp_as_async */
    nullptr,                                     /* tp_repr */
    nullptr,                                     /* tp_as_number */
    nullptr,                                     /* tp_as_sequence */
    nullptr,                                     /* tp_as_mapping */
    nullptr,                                     /* tp_hash */
    nullptr,                                     /* tp_call */
    nullptr,                                     /* tp_str */
    nullptr,                                     /* tp_getattro */
    nullptr,                                     /* tp_setattro */
    nullptr,                                     /* tp_as_buffer */
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, /* tp_flags */
    kClassDoc,                                   /* tp_doc */
    integrator_traverse,                         /* tp_traverse */
    integrator_clear,                            /* tp_clear */
    nullptr,                                     /* tp_richcompare */
    0,                                           /* tp_weaklistoffset */
    nullptr,                                     /* tp_iter */
    nullptr,                                     /* tp_iternext */
    integrator_method_defs,                      /* tp_methods */
    nullptr,                                     /* tp_members */
    integrator_getsetlist,                       /* tp_getset */
    nullptr,                                     /* tp_base */
    nullptr,                                     /* tp_dict */
    nullptr,                                     /* tp_descr_get */
    nullptr,                                     /* tp_descr_set */
    0,                                           /* tp_dictoffset */
    nullptr,                                     /* tp_init */
    nullptr,                                     /* tp_alloc */
    integrator_new,                              /* tp_new */
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

namespace {

// "Pelorand." before the qualified name: the module's part of the type's name.
void method_trace_name(const MethodSpec& method, char (&name)[128]) {
  const char* type_name = IntegratorType.tp_name;
  const char* dot = std::strchr(type_name, '.');
  PyOS_snprintf(name, sizeof name, "%.*s.%s", static_cast<int>(dot - type_name), type_name,
                method.qualname);
}

}  // namespace

void add_method_traceback(const MethodSpec& method, std::source_location where) {
  char name[128];
  method_trace_name(method, name);
  add_traceback(name, where);
}

void add_method_traceback(const MethodSpec& method, SourcePlace place) {
  char name[128];
  method_trace_name(method, name);
  add_traceback(name, place);
}

int integrator_type_ready() {
  IntegratorConstants& c = integrator_constants;
  if (!c.half && !(c.half = PyFloat_FromDouble(0.5))) return -1;
  integrator_ops._generate_key = integrator_generate_key;
  integrator_ops.T = integrator_T;
  integrator_ops._sub_problem = integrator_sub_problem;
  if (signature_ready(cinit_signature) < 0) return -1;
  for (std::size_t i = 0; i < std::size(integrator_methods); ++i) {
    if (signature_ready(integrator_methods[i]->signature) < 0) return -1;
    integrator_method_defs[i] = method_def(*integrator_methods[i]);
  }
  return static_type_ready(&IntegratorType);
}

}  // namespace pelorand
