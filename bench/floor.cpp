// Bench-only extension: the least work that calling an integrand on the
// Romberg grids can cost from C++, the floor the integration methods are
// measured against. It samples the same points in the same order as the
// methods do and nothing else: no memo, no table, no Python arithmetic.
#include <Python.h>

namespace pelorand_bench {
namespace {

// f(x) through vectorcall, the result read back as a double; -1 with an
// exception set on failure.
int sample(PyObject* f, double x, double* out) {
  PyObject* arg = PyFloat_FromDouble(x);
  if (!arg) return -1;
  PyObject* stack[2] = {nullptr, arg};
  PyObject* fx = PyObject_Vectorcall(f, stack + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
  Py_DECREF(arg);
  if (!fx) return -1;
  const double value = PyFloat_AsDouble(fx);
  Py_DECREF(fx);
  if (value == -1.0 && PyErr_Occurred()) return -1;
  *out = value;
  return 0;
}

// floor(f, a, b, rows) -> (calls, total): f on the grids of 2**m intervals
// for m = 0 .. rows - 1, each at a, b, then the interior points upwards.
// The total of all samples is returned so that none of the work is dead.
PyObject* bench_floor(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 4) {
    PyErr_Format(PyExc_TypeError, "floor() takes exactly 4 arguments (%zd given)", nargs);
    return nullptr;
  }
  PyObject* f = args[0];  // borrowed: the caller's arguments outlive the call
  const double a = PyFloat_AsDouble(args[1]);
  if (a == -1.0 && PyErr_Occurred()) return nullptr;
  const double b = PyFloat_AsDouble(args[2]);
  if (b == -1.0 && PyErr_Occurred()) return nullptr;
  const long rows = PyLong_AsLong(args[3]);
  if (rows == -1 && PyErr_Occurred()) return nullptr;
  if (rows < 0 || rows > 30) {
    PyErr_SetString(PyExc_ValueError, "floor() needs 0 <= rows <= 30");
    return nullptr;
  }

  Py_ssize_t calls = 0;
  double total = 0.0;
  for (long m = 0; m < rows; ++m) {
    const long n = 1L << m;
    // Step and sample points in long double, rounded to double at the call,
    // as the integration methods form them.
    const long double la = a;
    const long double h = (static_cast<long double>(b) - la) / n;
    double value;
    if (sample(f, a, &value) < 0) return nullptr;
    total += value;
    if (sample(f, b, &value) < 0) return nullptr;
    total += value;
    for (long j = 1; j < n; ++j) {
      const double x = static_cast<double>(la + static_cast<long double>(j) * h);
      if (sample(f, x, &value) < 0) return nullptr;
      total += value;
    }
    calls += n + 1;
  }
  return Py_BuildValue("(nd)", calls, total);
}

PyMethodDef bench_methods[] = {
    {"floor", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(bench_floor)),
     METH_FASTCALL, "floor(f, a, b, rows) -> (calls, total)"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef bench_module = {
    PyModuleDef_HEAD_INIT,
    "_pelorand_bench",  // m_name
    nullptr,            // m_doc
    0,                  // m_size
    bench_methods,      // m_methods
    nullptr,            // m_slots
    nullptr,            // m_traverse
    nullptr,            // m_clear
    nullptr,            // m_free
};

}  // namespace
}  // namespace pelorand_bench

PyMODINIT_FUNC PyInit__pelorand_bench(void) { return PyModule_Create(&pelorand_bench::bench_module); }
