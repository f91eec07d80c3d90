// Binds the call arguments of every Python-visible entry point to its
// parameters and reports wrong calls with the module's fixed messages.
#pragma once

#include <Python.h>

#include "module/constants.hpp"
#include "module/ref.hpp"

namespace pelorand {

inline constexpr Py_ssize_t kMaxParams = 4;

struct ParamTable {
  const char* function;                 // the bare entry-point name used in messages
  PyObject* const* names[kMaxParams];   // interned at start-up, in parameter order
  Py_ssize_t count;
  Py_ssize_t required;                  // positional count needed when no keyword is given
};

inline constexpr ParamTable kCinitParams{
    "__cinit__",
    {&constants.a, &constants.b, &constants.precision, &constants.integrand},
    4, 4};
inline constexpr ParamTable kRecursiveParams{"recursive", {}, 0, 0};
inline constexpr ParamTable kDynamicParams{"dynamic_programming", {&constants.maximum_step}, 1, 0};
inline constexpr ParamTable kReduceParams{"__reduce_cython__", {}, 0, 0};
inline constexpr ParamTable kSetstateParams{"__setstate_cython__", {&constants.pyx_state}, 1, 1};

// Fast calling convention: positional arguments followed by the values of the
// keywords named in `kwnames` (a tuple, or null). Fills slots[0, table.count)
// with owned references, leaving absent parameters empty. Returns 0, or -1
// with a TypeError set and every slot released.
int bind_arguments(const ParamTable& table, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, Ref* slots);

// Object creation: a positional tuple and a keyword dict (or null).
int bind_arguments(const ParamTable& table, PyObject* args, PyObject* kwds, Ref* slots);

}  // namespace pelorand
