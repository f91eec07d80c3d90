// Readying a static type so that a failed attempt can be retried.
#pragma once

#include <Python.h>

namespace pelorand {

// PyType_Ready for a type defined as a static object. A failed readying
// leaves slots inherited from the base in the type, which a retry would
// then take for the type's own and copy into its dict; so on failure the
// type is put back as it was. 0, or -1 with an exception set.
int static_type_ready(PyTypeObject* type);

// type.__dict__[name] = value, or its deletion when value is null, for a
// readied static type, which Python code cannot change; the attribute cache
// forgets the old entry. 0, or -1 with an exception set.
int static_type_set(PyTypeObject* type, PyObject* name, PyObject* value);

}  // namespace pelorand
