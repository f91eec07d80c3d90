// The module definition, its create and exec steps, and the entry point.
// Start-up state is process-wide and lives until the process ends; the module
// binds itself to the first interpreter that loads it.
#include <Python.h>

#include "capi/function.hpp"
#include "capi/interned.hpp"
#include "capi/ref.hpp"
#include "capi/static_type.hpp"
#include "capi/traceback.hpp"
#include "integrator/integrator.hpp"

// Set nonzero by an embedding host before the import to run as "__main__".
extern "C" {
Py_EXPORTED_SYMBOL int __pyx_module_is_main_Pelorand = 0;
}

namespace pelorand {

namespace {

constexpr const char kModuleDoc[] =
    "\n"
    "模块名称: Pelorand\n"
    "功能描述: Romberg 数值积分算法及其实现\n"
    "\n"
    "本模块提供高精度的 Romberg 积分方法，支持递归和动态规划两种实现方式。\n"
    "采用外推加速技术逐步提高积分精度，可达到用户指定的精度要求。\n"
    "\n"
    "版本: 1.0.0\n"
    "更新时间: 2026-12-08\n";

// The size of the heap-type record this module was compiled against.
constexpr Py_ssize_t kHeapTypeSize = sizeof(PyHeapTypeObject);

int64_t interpreter_id = -1;
PyObject* module_object = nullptr;  // while held, the module counts as initialised
PyObject* module_dict = nullptr;
bool strings_made = false;
bool registered_bare_name = false;  // by this exec step, in sys.modules

// Names the start-up uses, made once and kept for the life of the process.
struct ModuleStrings {
  PyObject* module_name;
  PyObject* dunder_main;
  PyObject* dunder_name;
  PyObject* dunder_test;
  PyObject* vtable_key;
};
ModuleStrings strings{};

// ---- create step ----------------------------------------------------------

int check_single_interpreter() {
  const int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) return -1;
  if (interpreter_id == -1) {
    interpreter_id = id;
  } else if (interpreter_id != id) {
    PyErr_SetString(PyExc_ImportError,
                    "Interpreter change detected - this module can only be loaded into one "
                    "interpreter per process.");
    return -1;
  }
  return 0;
}

int copy_spec_attr(PyObject* spec, PyObject* dict, const char* from, const char* to,
                   bool store_none) {
  Ref value = Ref::steal(PyObject_GetAttrString(spec, from));
  if (!value) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    return 0;
  }
  if (!store_none && value.get() == Py_None) return 0;
  return PyDict_SetItemString(dict, to, value.get());
}

PyObject* module_create(PyObject* spec, PyModuleDef*) {
  if (check_single_interpreter() < 0) return nullptr;
  if (module_object) return Py_NewRef(module_object);
  Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
  if (!name) return nullptr;
  Ref module = Ref::steal(PyModule_NewObject(name.get()));
  if (!module) return nullptr;
  PyObject* dict = PyModule_GetDict(module.get());  // borrowed
  if (copy_spec_attr(spec, dict, "loader", "__loader__", true) < 0 ||
      copy_spec_attr(spec, dict, "origin", "__file__", true) < 0 ||
      copy_spec_attr(spec, dict, "parent", "__package__", true) < 0 ||
      copy_spec_attr(spec, dict, "submodule_search_locations", "__path__", false) < 0) {
    return nullptr;
  }
  return module.release();
}

// ---- exec steps, in order --------------------------------------------------

int hold_namespace(PyObject* module) {
  PyObject* dict = PyModule_GetDict(module);  // borrowed
  if (!dict) return -1;
  Py_XSETREF(module_dict, Py_NewRef(dict));
  return 0;
}

int set_builtins(PyObject* module) {
  PyObject* builtins = PyImport_AddModule("builtins");  // borrowed
  if (!builtins) return -1;
  return PyObject_SetAttrString(module, "__builtins__", builtins);
}

int check_runtime_version(PyObject*) {
  const int major = static_cast<int>((Py_Version >> 24) & 0xFF);
  const int minor = static_cast<int>((Py_Version >> 16) & 0xFF);
  if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return 0;
  char message[200];
  PyOS_snprintf(message, sizeof message,
                "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                PY_MAJOR_VERSION, PY_MINOR_VERSION, "Pelorand", "does not match", major, minor);
  return PyErr_WarnEx(nullptr, message, 1);
}

int make_strings(PyObject*) {
  if (intern_strings({{&strings.module_name, "Pelorand"},
                      {&strings.dunder_main, "__main__"},
                      {&strings.dunder_name, "__name__"},
                      {&strings.dunder_test, "__test__"},
                      {&strings.vtable_key, "__pyx_vtable__"}}) < 0) {
    return -1;
  }
  strings_made = true;
  return 0;
}

int ready_function_type(PyObject*) { return function_type_ready(); }

int name_main(PyObject* module) {
  if (!__pyx_module_is_main_Pelorand) return 0;
  return PyObject_SetAttr(module, strings.dunder_name, strings.dunder_main);
}

// Also reachable as a top-level module when imported under a package name.
int register_bare_name(PyObject* module) {
  PyObject* modules = PyImport_GetModuleDict();  // borrowed
  if (!modules) return -1;
  if (PyDict_GetItemWithError(modules, strings.module_name)) return 0;
  if (PyErr_Occurred() || PyDict_SetItem(modules, strings.module_name, module) < 0) return -1;
  registered_bare_name = true;
  return 0;
}

// After a failed exec step: a later import must not find the half-built
// module under the bare name. Keeps the pending exception.
void forget_bare_name(PyObject* module) {
  if (!registered_bare_name) return;
  registered_bare_name = false;
  PyObject* error = PyErr_GetRaisedException();
  PyObject* modules = PyImport_GetModuleDict();  // borrowed
  if (modules && PyDict_GetItemWithError(modules, strings.module_name) == module) {
    PyDict_DelItem(modules, strings.module_name);
  }
  PyErr_Clear();
  PyErr_SetRaisedException(error);
}

int ready_class(PyObject*) { return integrator_type_ready(); }

int store_capsule(PyObject*) {
  Ref capsule = Ref::steal(PyCapsule_New(&integrator_ops, nullptr, nullptr));
  if (!capsule) return -1;
  return static_type_set(&IntegratorType, strings.vtable_key, capsule.get());
}

int bind_class(PyObject* module) {
  return PyObject_SetAttr(module, strings.module_name, reinterpret_cast<PyObject*>(&IntegratorType));
}

int setup_pickling(PyObject*) { return integrator_setup_pickling(); }

// The class layout assumes the heap-type record of the headers it was built with.
int check_type_size(PyObject*) {
  Ref builtins = Ref::steal(PyImport_ImportModule("builtins"));
  if (!builtins) return -1;
  Ref type = Ref::steal(PyObject_GetAttrString(builtins.get(), "type"));
  if (!type) return -1;
  if (!PyType_Check(type.get())) {
    PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", "builtins", "type");
    return -1;
  }
  const PyTypeObject* found = reinterpret_cast<PyTypeObject*>(type.get());
  const Py_ssize_t basic = found->tp_basicsize;
  Py_ssize_t item = found->tp_itemsize;
  if (item > 0 && item < 8) item = 8;
  if (basic + item < kHeapTypeSize) {
    PyErr_Format(PyExc_ValueError,
                 "%.200s.%.200s size changed, may indicate binary incompatibility. "
                 "Expected %zd from C header, got %zd from PyObject",
                 "builtins", "type", kHeapTypeSize, basic + item);
    return -1;
  }
  if (basic > kHeapTypeSize) {
    char message[200];
    PyOS_snprintf(message, sizeof message,
                  "%s.%s size changed, may indicate binary incompatibility. "
                  "Expected %zd from C header, got %zd from PyObject",
                  "builtins", "type", kHeapTypeSize, basic);
    return PyErr_WarnEx(nullptr, message, 0);
  }
  return 0;
}

// Each method's function object, in the class dict (replacing the entry that
// readying the type made from the method table) or in the module namespace.
int bind_methods(PyObject*) {
  for (const MethodSpec* spec : integrator_methods) {
    Ref func = Ref::steal(function_new(*spec, &IntegratorType, strings.module_name, module_dict));
    if (!func) return -1;
    PyObject* name = function_name(func.get());  // borrowed
    const int stored = spec->target == BindTarget::kClass
                           ? static_type_set(&IntegratorType, name, func.get())
                           : PyDict_SetItem(module_dict, name, func.get());
    if (stored < 0) return -1;
  }
  return 0;
}

int add_test_dict(PyObject*) {
  Ref test = Ref::steal(PyDict_New());
  if (!test) return -1;
  return PyDict_SetItem(module_dict, strings.dunder_test, test.get());
}

using ExecStep = int (*)(PyObject* module);

constexpr ExecStep kExecSteps[] = {
    hold_namespace,
    set_builtins,
    check_runtime_version,
    make_strings,
    ready_function_type,
    name_main,
    register_bare_name,
    ready_class,
    store_capsule,
    bind_class,
    setup_pickling,
    check_type_size,
    bind_methods,
    add_test_dict,
};

int module_exec(PyObject* module) {
  if (module_object) {
    if (module_object == module) return 0;
    PyErr_SetString(PyExc_RuntimeError,
                    "Module 'Pelorand' has already been imported. Re-initialisation is not "
                    "supported.");
    return -1;
  }
  module_object = Py_NewRef(module);
  for (ExecStep step : kExecSteps) {
    if (step(module) == 0) continue;
    if (strings_made) add_traceback("init Pelorand");
    forget_bare_name(module);
    // Forgotten, so that the next import runs the exec step again from the start.
    Py_CLEAR(module_object);
    return -1;
  }
  return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
#if PY_VERSION_HEX >= 0x030D0000
    // Not made for free-threaded builds: they keep the lock on, and warn so.
    {Py_mod_gil, Py_MOD_GIL_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "Pelorand",    // m_name
    kModuleDoc,    // m_doc
    0,             // m_size
    nullptr,       // m_methods
    module_slots,  // m_slots
    nullptr,       // m_traverse
    nullptr,       // m_clear
    nullptr,       // m_free
};

}  // namespace

}  // namespace pelorand

PyMODINIT_FUNC PyInit_Pelorand(void) { return PyModuleDef_Init(&pelorand::module_def); }
