#include "capi/traceback.hpp"

#include <Python.h>
#include <frameobject.h>

#include "capi/ref.hpp"

// PyErr_GetRaisedException and PyErr_SetRaisedException are new in 3.12.
#if PY_VERSION_HEX < 0x030C0000
#error "Pelorand needs CPython 3.12 or later"
#endif

namespace pelorand {

namespace {

// An entry is a frame of an empty code object whose first line is `line`,
// which is the line a traceback shows for a frame that never ran.
// Making the code object may call Python (a file-system codec written in
// Python), which must not run with an exception set: the pending one is
// held aside meanwhile, and becomes the context of a failure to make it.
void add_entry(const char* funcname, const char* filename, int line) {
  PyObject* pending = PyErr_GetRaisedException();
  Ref frame;
  if (Ref globals = Ref::steal(PyDict_New())) {
    Ref code = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(filename, funcname, line)));
    if (code) {
      frame = Ref::steal(reinterpret_cast<PyObject*>(
          PyFrame_New(PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code.get()),
                      globals.get(), nullptr)));
    }
  }
  if (!frame) {
    PyObject* failure = PyErr_GetRaisedException();
    if (failure && pending) PyException_SetContext(failure, pending);
    PyErr_SetRaisedException(failure ? failure : pending);
    return;
  }
  PyErr_SetRaisedException(pending);
  PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
}

}  // namespace

void add_traceback(const char* qualname, std::source_location where) {
  add_entry(qualname, base_name(where.file_name()), static_cast<int>(where.line()));
}

void add_traceback(const char* qualname, SourcePlace place) {
  add_entry(qualname, place.file, place.line);
}

}  // namespace pelorand
