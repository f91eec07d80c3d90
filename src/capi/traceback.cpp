#include "capi/traceback.hpp"

#include <Python.h>

// _PyTraceback_Add builds the code and frame objects for an entry without a
// Python frame, saving and restoring the pending exception around it. It is a
// CPython 3.12 export with a private name, so it is used here and nowhere else.
#if PY_VERSION_HEX < 0x030C0000 || PY_VERSION_HEX >= 0x030D0000
#error "Pelorand is built for CPython 3.12 only"
#endif

namespace pelorand {

void add_traceback(const char* qualname, std::source_location where) {
  _PyTraceback_Add(qualname, base_name(where.file_name()), static_cast<int>(where.line()));
}

void add_traceback(const char* qualname, SourcePlace place) {
  _PyTraceback_Add(qualname, place.file, place.line);
}

}  // namespace pelorand
