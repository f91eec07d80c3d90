// Objects the module makes once at start-up and keeps for the life of the
// process: interned names, messages and the number constants.
#pragma once

#include <Python.h>

namespace pelorand {

struct ModuleConstants {
  PyObject* empty_tuple;
  PyObject* empty_bytes;
  PyObject* empty_str;

  // Parameter names, compared by identity first when binding keywords.
  PyObject* a;
  PyObject* b;
  PyObject* precision;
  PyObject* integrand;
  PyObject* maximum_step;
  PyObject* pyx_state;

  // Function names, qualified names and code-object locals.
  PyObject* recursive;
  PyObject* dynamic_programming;
  PyObject* reduce_cython;
  PyObject* setstate_cython;
  PyObject* qual_recursive;
  PyObject* qual_dynamic_programming;
  PyObject* qual_reduce_cython;
  PyObject* qual_setstate_cython;
  PyObject* self;
  PyObject* m;
  PyObject* Tm0;
  PyObject* Tm1_0;
  PyObject* diff;
  PyObject* n;
  PyObject* h;
  PyObject* trapezoid;
  PyObject* i;
  PyObject* j;
  PyObject* lst_m;
  PyObject* precision_diff;
  PyObject* file_recursive;
  PyObject* file_dynamic;
  PyObject* file_stringsource;

  // Module and class set-up.
  PyObject* module_name;
  PyObject* dunder_main;
  PyObject* dunder_name;
  PyObject* dunder_builtins;
  PyObject* dunder_test;
  PyObject* dunder_reduce;
  PyObject* dunder_reduce_ex;
  PyObject* dunder_setstate;
  PyObject* dunder_getstate;
  PyObject* dunder_set_name;
  PyObject* vtable_key;

  PyObject* pickling_refused;

  // 0.5 is the left operand of every 0.5 * (f(a) + f(b)); 20 is the default
  // of maximum_step and the only item of its defaults tuple.
  PyObject* half;
  PyObject* twenty;
  PyObject* default_steps;
};

extern ModuleConstants constants;

// Start-up steps; each returns 0, or -1 with an exception set. Calling one a
// second time (after a failed import) keeps what the first call made.
int create_strings();
int create_numbers();
int create_defaults();

}  // namespace pelorand
