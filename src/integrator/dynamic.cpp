// The row extrapolation step and the dynamic-programming integration method.
#include <cmath>
#include <initializer_list>

#include "capi/binding.hpp"
#include "capi/ref.hpp"
#include "capi/traceback.hpp"
#include "integrator/integrator.hpp"
#include "integrator/trapezoid.hpp"

namespace pelorand {

namespace {

constexpr const char kDynamicDoc[] =
    "\n"
    "        执行 Romberg 积分算法（动态规划方法）。\n"
    "        \n"
    "        使用迭代动态规划方法，构建 Romberg 表，逐步提高精度。\n"
    "        \n"
    "        Parameters\n"
    "        ----------\n"
    "        maximum_step : int, optional\n"
    "            最大迭代步数，默认为 20\n"
    "        \n"
    "        Returns\n"
    "        -------\n"
    "        float\n"
    "            计算得到的积分结果\n"
    "        ";

// The table fields are lists, or None after a garbage-collector clear; the
// failures below are the ones Python itself gives for None.
int fail_none_append() {
  PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", "append");
  return -1;
}

int fail_expected_list(PyObject* obj) {
  PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", "list", Py_TYPE(obj)->tp_name);
  return -1;
}

int append_to(PyObject* list, PyObject* item) {
  if (list == Py_None) return fail_none_append();
  return PyList_Append(list, item);
}

// table[index] for a list or None. The integrand may have shortened the
// table, so the index is checked.
PyObject* item_at(PyObject* table, Py_ssize_t index) {
  if (table == Py_None) {
    fail_none_not_subscriptable();
    return nullptr;
  }
  const Py_ssize_t size = PyList_GET_SIZE(table);
  if (index < 0) index += size;
  if (index < 0 || index >= size) {
    PyErr_SetString(PyExc_IndexError, "list index out of range");
    return nullptr;
  }
  return Py_NewRef(PyList_GET_ITEM(table, index));
}

// The diagonal entry of the row at `index` of the Romberg table.
PyObject* diagonal_entry(IntegratorObject* self, Py_ssize_t index) {
  Ref table = Ref::borrow(self->_romberg_table);
  Ref row = Ref::steal(item_at(table.get(), index));
  if (!row) return nullptr;
  return last_item(row.get());
}

int sub_problem_impl(PyObject* lst_pre, LDFloat first_current, PyObject* lst_current) {
  if (lst_current == Py_None) return fail_none_append();
  // Only a caller outside this module can break these preconditions.
  if (!PyList_Check(lst_current)) return fail_expected_list(lst_current);
  if (lst_current == lst_pre) {
    PyErr_SetString(PyExc_ValueError, "the new row must be a different list from the previous row");
    return -1;
  }
  Ref first = Ref::steal(ldfloat_to_value(first_current));
  if (!first || PyList_Append(lst_current, first.get()) < 0) return -1;
  if (lst_pre == Py_None) return fail_none_not_iterable();
  if (!PyList_Check(lst_pre)) return fail_expected_list(lst_pre);

  Ref previous = Ref::borrow(lst_pre);
  LDFloat down = first_current;
  // The length is read afresh at every step, as Python's list iteration does.
  for (Py_ssize_t index = 0; index < PyList_GET_SIZE(lst_pre); ++index) {
    Ref up = Ref::borrow(PyList_GET_ITEM(lst_pre, index));
    const Py_ssize_t m = index + 1;
    // 4^m, exactly: 4.0 for the first order.
    const double weight = std::exp2(2.0 * static_cast<double>(m));
    // The one extended-precision operation of the step; the rest is float arithmetic.
    const double product = static_cast<double>(down * static_cast<LDFloat>(weight));
    const double denominator = weight - 1.0;
    double elem;
    if (PyFloat_CheckExact(up.get())) {
      elem = (product - PyFloat_AS_DOUBLE(up.get())) / denominator;
    } else {
      Ref p = Ref::steal(PyFloat_FromDouble(product));
      if (!p) return -1;
      Ref t = Ref::steal(PyNumber_Subtract(p.get(), up.get()));
      if (!t) return -1;
      Ref d = Ref::steal(PyFloat_FromDouble(denominator));
      if (!d) return -1;
      Ref q = Ref::steal(PyNumber_TrueDivide(t.get(), d.get()));
      if (!q) return -1;
      elem = value_to_double(q.get());
      if (elem == -1.0 && PyErr_Occurred()) return -1;
    }
    Ref boxed = Ref::steal(PyFloat_FromDouble(elem));
    if (!boxed || PyList_Append(lst_current, boxed.get()) < 0) return -1;
    down = elem;
  }
  return 0;
}

// Each call describes itself alone: both tables are emptied in place.
// Releasing old rows can run Python code, so each field is read when used.
int empty_tables(IntegratorObject* self) {
  for (PyObject* IntegratorObject::*field :
       {&IntegratorObject::_romberg_table, &IntegratorObject::_precision_table}) {
    Ref table = Ref::borrow(self->*field);
    if (PyList_Check(table.get()) &&
        PyList_SetSlice(table.get(), 0, PY_SSIZE_T_MAX, nullptr) < 0) {
      return -1;
    }
  }
  return 0;
}

// Row 0: [T(0)].
int append_first_row(IntegratorObject* self) {
  LDFloat trapezoid;
  if (composite_trapezoid(self, 0, &trapezoid) < 0) return -1;
  Ref first = Ref::steal(ldfloat_to_value(trapezoid));
  if (!first) return -1;
  Ref row = Ref::steal(PyList_New(1));
  if (!row) return -1;
  PyList_SET_ITEM(row.get(), 0, first.release());
  Ref table = Ref::borrow(self->_romberg_table);
  return append_to(table.get(), row.get());
}

// Row m: T(m) from the trapezoid with 2^m intervals, extrapolated along the
// last row of the table.
int append_next_row(IntegratorObject* self, int m) {
  LDFloat trapezoid;
  if (composite_trapezoid(self, m, &trapezoid) < 0) return -1;
  Ref lst_m = Ref::steal(PyList_New(0));
  if (!lst_m) return -1;
  {
    Ref table = Ref::borrow(self->_romberg_table);
    Ref previous = Ref::steal(item_at(table.get(), -1));
    if (!previous) return -1;
    if (!PyList_CheckExact(previous.get()) && previous.get() != Py_None) {
      return fail_expected_list(previous.get());
    }
    self->ops->_sub_problem(self, previous.get(), trapezoid, lst_m.get());
    if (PyErr_Occurred()) return -1;
  }
  Ref table = Ref::borrow(self->_romberg_table);
  return append_to(table.get(), lst_m.get());
}

// |diagonal of row m - diagonal of row m - 1|, appended to the precision table.
int record_difference(IntegratorObject* self, int m, double* out) {
  Ref newest = Ref::steal(diagonal_entry(self, m));
  if (!newest) return -1;
  Ref before = Ref::steal(diagonal_entry(self, m - 1));
  if (!before) return -1;
  double difference;
  // Python's subtraction, then a double: exact floats subtract as doubles do.
  if (PyFloat_CheckExact(newest.get()) && PyFloat_CheckExact(before.get())) {
    difference = PyFloat_AS_DOUBLE(newest.get()) - PyFloat_AS_DOUBLE(before.get());
  } else {
    Ref result = Ref::steal(PyNumber_Subtract(newest.get(), before.get()));
    if (!result) return -1;
    difference = value_to_double(result.get());
    if (difference == -1.0 && PyErr_Occurred()) return -1;
  }
  difference = std::fabs(difference);
  Ref boxed = Ref::steal(PyFloat_FromDouble(difference));
  if (!boxed) return -1;
  Ref precision_table = Ref::borrow(self->_precision_table);
  if (append_to(precision_table.get(), boxed.get()) < 0) return -1;
  *out = difference;
  return 0;
}

// 1 when the last difference exceeds the one before it (Python's >), 0 when
// not or when there are fewer than two, -1 with an exception set.
int difference_grew(IntegratorObject* self) {
  Ref precision_table = Ref::borrow(self->_precision_table);
  if (precision_table.get() == Py_None) {
    PyErr_SetString(PyExc_TypeError, "object of type 'NoneType' has no len()");
    return -1;
  }
  const Py_ssize_t count = PyList_GET_SIZE(precision_table.get());
  if (count < 2) return 0;
  Ref last = Ref::borrow(PyList_GET_ITEM(precision_table.get(), count - 1));
  Ref earlier = Ref::borrow(PyList_GET_ITEM(precision_table.get(), count - 2));
  if (PyFloat_CheckExact(last.get()) && PyFloat_CheckExact(earlier.get())) {
    return PyFloat_AS_DOUBLE(last.get()) > PyFloat_AS_DOUBLE(earlier.get());
  }
  Ref comparison = Ref::steal(PyObject_RichCompare(last.get(), earlier.get(), Py_GT));
  if (!comparison) return -1;
  return PyObject_IsTrue(comparison.get());
}

// float() of the diagonal entry of row m.
PyObject* diagonal_value(IntegratorObject* self, int m) {
  Ref entry = Ref::steal(diagonal_entry(self, m));
  return entry ? value_to_float(entry.get()) : nullptr;
}

PyObject* dynamic_impl(IntegratorObject* self, int maximum_step) {
  if (empty_tables(self) < 0 || append_first_row(self) < 0) return nullptr;
  int m = 0;
  for (int i = 1; i < maximum_step; ++i) {
    m = i;
    if (append_next_row(self, m) < 0) return nullptr;
    double difference;
    if (record_difference(self, m, &difference) < 0) return nullptr;
    // Converged: the difference, a double, is widened for the comparison
    // (recursive() instead takes its difference in extended precision).
    // A NaN difference passes neither this test nor the next.
    if (LDFloat(difference) < self->_precision) return diagonal_value(self, m);
    const int grew = difference_grew(self);
    if (grew < 0) return nullptr;
    if (grew) return diagonal_value(self, m - 1);
  }
  return diagonal_value(self, m);
}

PyObject* integrator_dynamic_programming(PyObject* op, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
  const Signature& signature = dynamic_programming_method.signature;
  Ref slots[1];
  int maximum_step = static_cast<int>(signature.defaults[0]);
  if (bind_arguments(signature, args, nargs, kwnames, slots) < 0 ||
      (slots[0] && (maximum_step = value_to_int(slots[0].get())) == -1 && PyErr_Occurred())) {
    add_traceback(kTraceDynamicProgramming);
    return nullptr;
  }
  PyObject* result = dynamic_impl(reinterpret_cast<IntegratorObject*>(op), maximum_step);
  if (!result) add_traceback(kTraceDynamicProgramming);
  return result;
}

}  // namespace

void integrator_sub_problem(IntegratorObject*, PyObject* lst_pre, LDFloat first_current,
                            PyObject* lst_current) {
  if (sub_problem_impl(lst_pre, first_current, lst_current) < 0) {
    add_traceback(kTraceSubProblem);
  }
}

MethodSpec dynamic_programming_method = {
    .signature = {.function = "dynamic_programming",
                  .params = {"maximum_step"},
                  .required = 0,
                  .defaults = {20}},
    .impl = integrator_dynamic_programming,
    .doc = kDynamicDoc,
    .qualname = "Pelorand.dynamic_programming",
    .locals = {"m", "n", "h", "trapezoid", "i", "j", "lst_m", "precision_diff"},
    .target = BindTarget::kClass,
    .code = here(),
};

}  // namespace pelorand
