// The Pelorand class: instance record, type object, internal operations and
// the description of each method that Python sees.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cmath>
#include <source_location>

#include "capi/convert.hpp"
#include "capi/function.hpp"
#include "capi/traceback.hpp"

namespace pelorand {

struct IntegratorObject;

// The class's table of internal operations, not reachable from Python. Other
// extension modules may reach it through the capsule in the class dict.
struct IntegratorOps {
  // A new reference to the memo key "m-k", or null with an exception set.
  PyObject* (*_generate_key)(IntegratorObject* self, int m, int k);
  // T(m, k); on failure 0 with an exception set, so callers test PyErr_Occurred().
  // Python's tracebacks call it _T, a name C++ reserves.
  LDFloat (*T)(IntegratorObject* self, int m, int k);
  // Appends the row after `lst_pre` to `lst_current`; callers test PyErr_Occurred().
  void (*_sub_problem)(IntegratorObject* self, PyObject* lst_pre, LDFloat first_current,
                       PyObject* lst_current);
};

struct IntegratorObject {
  PyObject_HEAD
  IntegratorOps* ops;
  // The object fields are never null while the instance is reachable: None
  // until construction stores them and again after a garbage-collector clear.
  PyObject* _integrand;
  LDFloat _lower_bound;
  LDFloat _upper_bound;
  LDFloat _precision;
  PyObject* _romberg_map;      // dict
  PyObject* _romberg_table;    // list
  PyObject* _precision_table;  // list
};

extern PyTypeObject IntegratorType;
extern IntegratorOps integrator_ops;

extern MethodSpec recursive_method;
extern MethodSpec dynamic_programming_method;
extern MethodSpec reduce_cython_method;
extern MethodSpec setstate_cython_method;

// The methods, in the order of the class's method table. Start-up binds each
// one's function object where its description says.
inline MethodSpec* const integrator_methods[] = {
    &recursive_method, &dynamic_programming_method, &reduce_cython_method,
    &setstate_cython_method};

// Objects made once at start-up by integrator_type_ready().
struct IntegratorConstants {
  PyObject* half;  // the left operand of every 0.5 * (f(a) + f(b))
};
extern IntegratorConstants integrator_constants;

// Makes the constants, fills the operations table, readies every signature
// and the type; 0, or -1 with an exception set.
int integrator_type_ready();

// Makes the class's __reduce__ and __setstate__ refuse pickling and copying,
// unless the class already customises pickling; 0, or -1 with an exception set.
int integrator_setup_pickling();

// Traceback entries are named by the module, the class and the function.
inline constexpr char kTraceCinit[] = "Pelorand.Pelorand.__cinit__";
inline constexpr char kTraceGenerateKey[] = "Pelorand.Pelorand._generate_key";
inline constexpr char kTraceT[] = "Pelorand.Pelorand._T";
inline constexpr char kTraceSubProblem[] = "Pelorand.Pelorand._sub_problem";

// A method's entry: the module's name before its qualified name. Adds it to
// the pending exception's traceback at the C++ line that reports the failure,
// or at `place`.
void add_method_traceback(const MethodSpec& method,
                          std::source_location where = std::source_location::current());
void add_method_traceback(const MethodSpec& method, SourcePlace place);

// The interpreter's own errors for using a field that a garbage-collector
// clear left as None; each sets the exception and returns -1.
int fail_none_not_subscriptable();
int fail_none_not_iterable();

// 4^m as a double, exact with any maths library (infinite from m = 512 on).
inline double power_of_four(Py_ssize_t m) {
  return std::ldexp(1.0, static_cast<int>(2 * std::min<Py_ssize_t>(m, 1024)));
}

PyObject* integrator_generate_key(IntegratorObject* self, int m, int k);
LDFloat integrator_T(IntegratorObject* self, int m, int k);
void integrator_sub_problem(IntegratorObject* self, PyObject* lst_pre, LDFloat first_current,
                            PyObject* lst_current);

}  // namespace pelorand
