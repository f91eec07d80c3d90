#include "module/constants.hpp"

namespace pelorand {

ModuleConstants constants{};

namespace {

struct StringEntry {
  PyObject** target;
  const char* text;
  bool intern;
};

const StringEntry kStrings[] = {
    {&constants.a, "a", true},
    {&constants.b, "b", true},
    {&constants.precision, "precision", true},
    {&constants.integrand, "integrand", true},
    {&constants.maximum_step, "maximum_step", true},
    {&constants.pyx_state, "__pyx_state", true},
    {&constants.recursive, "recursive", true},
    {&constants.dynamic_programming, "dynamic_programming", true},
    {&constants.reduce_cython, "__reduce_cython__", true},
    {&constants.setstate_cython, "__setstate_cython__", true},
    {&constants.qual_recursive, "Pelorand.recursive", false},
    {&constants.qual_dynamic_programming, "Pelorand.dynamic_programming", false},
    {&constants.qual_reduce_cython, "Pelorand.__reduce_cython__", false},
    {&constants.qual_setstate_cython, "Pelorand.__setstate_cython__", false},
    {&constants.self, "self", true},
    {&constants.m, "m", true},
    {&constants.Tm0, "Tm0", true},
    {&constants.Tm1_0, "Tm1_0", true},
    {&constants.diff, "diff", true},
    {&constants.n, "n", true},
    {&constants.h, "h", true},
    {&constants.trapezoid, "trapezoid", true},
    {&constants.i, "i", true},
    {&constants.j, "j", true},
    {&constants.lst_m, "lst_m", true},
    {&constants.precision_diff, "precision_diff", true},
    {&constants.file_recursive, "recursive.cpp", false},
    {&constants.file_dynamic, "dynamic.cpp", false},
    {&constants.file_stringsource, "<stringsource>", false},
    {&constants.module_name, "Pelorand", true},
    {&constants.dunder_main, "__main__", true},
    {&constants.dunder_name, "__name__", true},
    {&constants.dunder_builtins, "__builtins__", true},
    {&constants.dunder_test, "__test__", true},
    {&constants.dunder_reduce, "__reduce__", true},
    {&constants.dunder_reduce_ex, "__reduce_ex__", true},
    {&constants.dunder_setstate, "__setstate__", true},
    {&constants.dunder_getstate, "__getstate__", true},
    {&constants.dunder_set_name, "__set_name__", true},
    {&constants.vtable_key, "__pyx_vtable__", true},
    {&constants.pickling_refused, "no default __reduce__ due to non-trivial __cinit__", false},
};

}  // namespace

int create_strings() {
  if (!constants.empty_tuple && !(constants.empty_tuple = PyTuple_New(0))) return -1;
  if (!constants.empty_bytes && !(constants.empty_bytes = PyBytes_FromStringAndSize("", 0)))
    return -1;
  if (!constants.empty_str && !(constants.empty_str = PyUnicode_FromStringAndSize("", 0)))
    return -1;
  for (const StringEntry& entry : kStrings) {
    if (*entry.target) continue;
    *entry.target = entry.intern ? PyUnicode_InternFromString(entry.text)
                                 : PyUnicode_FromString(entry.text);
    if (!*entry.target) return -1;
  }
  // Hash now so that dict look-ups with these keys never compute it again.
  for (const StringEntry& entry : kStrings) {
    if (PyObject_Hash(*entry.target) == -1) return -1;
  }
  return 0;
}

int create_numbers() {
  if (!constants.half && !(constants.half = PyFloat_FromDouble(0.5))) return -1;
  if (!constants.twenty && !(constants.twenty = PyLong_FromLong(20))) return -1;
  return 0;
}

int create_defaults() {
  if (!constants.default_steps && !(constants.default_steps = PyTuple_Pack(1, constants.twenty)))
    return -1;
  return 0;
}

}  // namespace pelorand
