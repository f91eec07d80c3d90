// Binds the call arguments of Python-visible entry points to their
// parameters and reports wrong calls with fixed messages.
#pragma once

#include <Python.h>

#include "capi/ref.hpp"

namespace pelorand {

inline constexpr int kMaxParams = 4;

// The parameters of one entry point. signature_ready() makes the names into
// interned str objects once, at start-up, so that binding allocates nothing
// and compares keyword names by identity before comparing them by value.
struct Signature {
  const char* function;            // the bare entry-point name used in messages
  const char* params[kMaxParams];  // parameter names, in order
  int required;                    // the leading parameters that have no default
  long defaults[kMaxParams] = {};  // by parameter index, for the others
  // Filled by signature_ready().
  Py_ssize_t count = 0;
  PyObject* names[kMaxParams] = {};
};

// Interns the parameter names; 0, or -1 with an exception set. Calling it
// again after a failure keeps what the first call made.
int signature_ready(Signature& signature);

// Fast calling convention: positional arguments followed by the values of the
// keywords named in `kwnames` (a tuple, or null). Fills slots[0, count) with
// owned references, leaving absent parameters empty. Returns 0, or -1 with a
// TypeError set and every slot released.
int bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, Ref* slots);

// Object creation: a positional tuple and a keyword dict (or null).
int bind_arguments(const Signature& signature, PyObject* args, PyObject* kwds, Ref* slots);

}  // namespace pelorand
