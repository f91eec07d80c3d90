// Test-only extension: reaches what Python cannot, the boundary conversions
// and the class's internal operations (through the capsule in the class dict),
// and the call stacks of the interpreter's allocations.
#include <Python.h>

#if __has_include(<execinfo.h>)
#include <execinfo.h>
#endif

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

// Allocation requests counted as _testcapi.set_nomemory counts them (malloc,
// calloc and realloc of all three domains, from arming on), each with the
// innermost return addresses of its call stack. Nothing fails.
constexpr int kWatchedRequests = 4096;
constexpr int kWatchedFrames = 16;
constexpr PyMemAllocatorDomain kDomains[] = {PYMEM_DOMAIN_RAW, PYMEM_DOMAIN_MEM, PYMEM_DOMAIN_OBJ};
PyMemAllocatorEx watched_allocators[3];
void* watched_frames[kWatchedRequests][kWatchedFrames];
int watched_depths[kWatchedRequests];
int watched_count = 0;

// Runs inside the allocator: it must not allocate through Python.
void watch_request() {
  if (watched_count >= kWatchedRequests) return;
  int depth = 0;
#if __has_include(<execinfo.h>)
  depth = backtrace(watched_frames[watched_count], kWatchedFrames);
#endif
  watched_depths[watched_count++] = depth;
}

PyMemAllocatorEx* allocator(void* ctx) { return static_cast<PyMemAllocatorEx*>(ctx); }

void* watch_malloc(void* ctx, size_t size) {
  watch_request();
  return allocator(ctx)->malloc(allocator(ctx)->ctx, size);
}

void* watch_calloc(void* ctx, size_t count, size_t size) {
  watch_request();
  return allocator(ctx)->calloc(allocator(ctx)->ctx, count, size);
}

void* watch_realloc(void* ctx, void* ptr, size_t size) {
  watch_request();
  return allocator(ctx)->realloc(allocator(ctx)->ctx, ptr, size);
}

void watch_free(void* ctx, void* ptr) { allocator(ctx)->free(allocator(ctx)->ctx, ptr); }

PyObject* probe_watch_allocations(PyObject*, PyObject*) {
#if __has_include(<execinfo.h>)
  // The first call loads the unwinder, with allocations of its own: not in the hook.
  void* frame;
  backtrace(&frame, 1);
#endif
  watched_count = 0;
  for (int i = 0; i < 3; ++i) {
    PyMem_GetAllocator(kDomains[i], &watched_allocators[i]);
    PyMemAllocatorEx hook = {&watched_allocators[i], watch_malloc, watch_calloc, watch_realloc,
                             watch_free};
    PyMem_SetAllocator(kDomains[i], &hook);
  }
  Py_RETURN_NONE;
}

// Disarms; a tuple of return addresses, innermost first, per request.
PyObject* probe_end_watch(PyObject*, PyObject*) {
  for (int i = 0; i < 3; ++i) PyMem_SetAllocator(kDomains[i], &watched_allocators[i]);
  Ref stacks = Ref::steal(PyList_New(0));
  for (int n = 0; stacks && n < watched_count; ++n) {
    Ref stack = Ref::steal(PyTuple_New(watched_depths[n]));
    for (int i = 0; stack && i < watched_depths[n]; ++i) {
      PyObject* address = PyLong_FromVoidPtr(watched_frames[n][i]);
      if (!address) return nullptr;
      PyTuple_SET_ITEM(stack.get(), i, address);
    }
    if (!stack || PyList_Append(stacks.get(), stack.get()) < 0) return nullptr;
  }
  return stacks.release();
}

PyMethodDef probe_methods[] = {
    {"generate_key", probe_generate_key, METH_VARARGS, nullptr},
    {"sub_problem", probe_sub_problem, METH_VARARGS, nullptr},
    {"value_to_float", probe_value_to_float, METH_O, nullptr},
    {"dict_item", probe_dict_item, METH_VARARGS, nullptr},
    {"last_item", probe_last_item, METH_O, nullptr},
    {"watch_allocations", probe_watch_allocations, METH_NOARGS, nullptr},
    {"end_watch", probe_end_watch, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef probe_module = {
    PyModuleDef_HEAD_INIT, "_pelorand_probe", nullptr, 0, probe_methods,
    nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace pelorand

PyMODINIT_FUNC PyInit__pelorand_probe(void) { return PyModule_Create(&pelorand::probe_module); }
