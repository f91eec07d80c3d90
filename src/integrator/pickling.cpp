// Instances refuse pickling and copying: the class's __reduce__ and
// __setstate__ always raise.
#include "capi/binding.hpp"
#include "capi/interned.hpp"
#include "capi/ref.hpp"
#include "capi/static_type.hpp"
#include "integrator/integrator.hpp"

namespace pelorand {

namespace {

// The refusal's code objects and entries name a pseudo-file.
constexpr const char kStringSource[] = "<stringsource>";

// Names the set-up uses, made once and kept for the life of the process.
struct PicklingStrings {
  PyObject* refused;  // the message of the TypeError
  PyObject* dunder_name;
  PyObject* dunder_reduce;
  PyObject* dunder_reduce_ex;
  PyObject* dunder_setstate;
  PyObject* dunder_getstate;
  PyObject* reduce_cython;
  PyObject* setstate_cython;
};
PicklingStrings strings{};

int make_strings() {
  if (intern_strings({{&strings.dunder_name, "__name__"},
                      {&strings.dunder_reduce, "__reduce__"},
                      {&strings.dunder_reduce_ex, "__reduce_ex__"},
                      {&strings.dunder_setstate, "__setstate__"},
                      {&strings.dunder_getstate, "__getstate__"},
                      {&strings.reduce_cython, "__reduce_cython__"},
                      {&strings.setstate_cython, "__setstate_cython__"}}) < 0) {
    return -1;
  }
  if (!strings.refused &&
      !(strings.refused =
            PyUnicode_FromString("no default __reduce__ due to non-trivial __cinit__"))) {
    return -1;
  }
  return 0;
}

void raise_pickling_refused() {
  Ref error = Ref::steal(PyObject_CallOneArg(PyExc_TypeError, strings.refused));
  if (error) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), error.get());
}

PyObject* integrator_reduce_cython(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
  if (bind_arguments(reduce_cython_method.signature, args, nargs, kwnames, nullptr) < 0) {
    return nullptr;
  }
  raise_pickling_refused();
  add_method_traceback(reduce_cython_method, {kStringSource, 2});
  return nullptr;
}

PyObject* integrator_setstate_cython(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
  Ref state[1];
  if (bind_arguments(setstate_cython_method.signature, args, nargs, kwnames, state) < 0) {
    add_method_traceback(setstate_cython_method, {kStringSource, 3});
    return nullptr;
  }
  raise_pickling_refused();
  add_method_traceback(setstate_cython_method, {kStringSource, 4});
  return nullptr;
}

PyObject* class_object() { return reinterpret_cast<PyObject*>(&IntegratorType); }

// Looks `name` up along the MRO without invoking descriptors; empty when
// absent, and empty with an exception set when a look-up failed.
Ref lookup_in_mro(PyTypeObject* type, PyObject* name) {
  PyObject* mro = type->tp_mro;
  for (Py_ssize_t i = 0; mro && i < PyTuple_GET_SIZE(mro); ++i) {
    Ref dict = Ref::steal(PyType_GetDict(reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i))));
    if (!dict) continue;
    PyObject* found = PyDict_GetItemWithError(dict.get(), name);  // borrowed
    if (found || PyErr_Occurred()) return Ref::borrow(found);
  }
  return Ref();
}

// True when `obj.__name__ == name`; errors count as "not equal".
bool has_name(PyObject* obj, PyObject* name) {
  Ref own = Ref::steal(PyObject_GetAttr(obj, strings.dunder_name));
  if (!own) {
    PyErr_Clear();
    return false;
  }
  const int equal = PyObject_RichCompareBool(own.get(), name, Py_EQ);
  if (equal < 0) PyErr_Clear();
  return equal > 0;
}

// getattr(cls, name), with an AttributeError turned into "absent" (null, no error).
Ref class_attr_or_absent(PyObject* name) {
  Ref value = Ref::steal(PyObject_GetAttr(class_object(), name));
  if (!value && PyErr_ExceptionMatches(PyExc_AttributeError)) PyErr_Clear();
  return value;
}

// Moves the class's `from` entry to `to`.
int rename_in_class(PyObject* from, PyObject* to, PyObject* value) {
  if (static_type_set(&IntegratorType, to, value) < 0) return -1;
  return static_type_set(&IntegratorType, from, nullptr);
}

// Installs __reduce_cython__ and __setstate_cython__ as the class's
// __reduce__ and __setstate__, unless the class already customises pickling.
int install_pickling() {
  const PicklingStrings& c = strings;
  PyObject* object_type = reinterpret_cast<PyObject*>(&PyBaseObject_Type);
  Ref getstate = lookup_in_mro(&IntegratorType, c.dunder_getstate);
  if (!getstate && PyErr_Occurred()) return -1;
  if (getstate && getstate.get() != lookup_in_mro(&PyBaseObject_Type, c.dunder_getstate).get()) {
    return 0;
  }

  Ref object_reduce_ex = Ref::steal(PyObject_GetAttr(object_type, c.dunder_reduce_ex));
  if (!object_reduce_ex) return -1;
  Ref reduce_ex = Ref::steal(PyObject_GetAttr(class_object(), c.dunder_reduce_ex));
  if (!reduce_ex) return -1;
  if (reduce_ex.get() != object_reduce_ex.get()) return 0;

  Ref object_reduce = Ref::steal(PyObject_GetAttr(object_type, c.dunder_reduce));
  if (!object_reduce) return -1;
  Ref reduce = Ref::steal(PyObject_GetAttr(class_object(), c.dunder_reduce));
  if (!reduce) return -1;
  const bool reduce_is_default = reduce.get() == object_reduce.get();
  if (!reduce_is_default && !has_name(reduce.get(), c.reduce_cython)) return 0;

  Ref reduce_cython = class_attr_or_absent(c.reduce_cython);
  if (reduce_cython) {
    if (rename_in_class(c.reduce_cython, c.dunder_reduce, reduce_cython.get()) < 0) return -1;
  } else if (reduce_is_default || PyErr_Occurred()) {
    return -1;
  }

  Ref setstate = Ref::steal(PyObject_GetAttr(class_object(), c.dunder_setstate));
  if (!setstate) PyErr_Clear();
  if (!setstate || has_name(setstate.get(), c.setstate_cython)) {
    Ref setstate_cython = class_attr_or_absent(c.setstate_cython);
    if (setstate_cython) {
      if (rename_in_class(c.setstate_cython, c.dunder_setstate, setstate_cython.get()) < 0) {
        return -1;
      }
    } else if (!setstate || PyErr_Occurred()) {
      return -1;
    }
  }
  PyType_Modified(&IntegratorType);
  return 0;
}

}  // namespace

MethodSpec reduce_cython_method = {
    .signature = {.function = "__reduce_cython__", .params = {}, .required = 0},
    .impl = integrator_reduce_cython,
    .doc = nullptr,
    .qualname = "Pelorand.__reduce_cython__",
    .locals = {},
    .target = BindTarget::kModule,
    .code = {kStringSource, 1},
};

MethodSpec setstate_cython_method = {
    .signature = {.function = "__setstate_cython__", .params = {"__pyx_state"}, .required = 1},
    .impl = integrator_setstate_cython,
    .doc = nullptr,
    .qualname = "Pelorand.__setstate_cython__",
    .locals = {},
    .target = BindTarget::kModule,
    .code = {kStringSource, 1},
};

int integrator_setup_pickling() {
  if (make_strings() < 0) return -1;
  if (install_pickling() == 0) return 0;
  if (!PyErr_Occurred()) {
    PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s",
                 IntegratorType.tp_name);
  }
  return -1;
}

}  // namespace pelorand
