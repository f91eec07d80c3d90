// Strings made once and kept for the life of the process.
#pragma once

#include <Python.h>

#include <initializer_list>

namespace pelorand {

struct InternedString {
  PyObject** target;
  const char* text;
};

// Makes each string not made yet. Interned strings carry their hash, so dict
// look-ups with them never hash again. 0, or -1 with an exception set; a
// later call keeps what an earlier one made.
inline int intern_strings(std::initializer_list<InternedString> strings) {
  for (const InternedString& entry : strings) {
    if (!*entry.target && !(*entry.target = PyUnicode_InternFromString(entry.text))) return -1;
  }
  return 0;
}

}  // namespace pelorand
