// The row extrapolation step and the dynamic-programming integration method.
#include <cmath>
#include <initializer_list>
#include <utility>

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
    const double weight = power_of_four(m);
    // The one extended-precision operation of the step; the rest is float arithmetic.
    const double product = static_cast<double>(down * LDFloat(weight));
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
    down = LDFloat(elem);
  }
  return 0;
}

// One call's walk down the Romberg table. Each step reads the newest row from
// romberg_table and the differences from precision_table, and whatever a row
// or a difference holds goes through Python's number protocol. Only rows that
// are not this call's own are refused: a nested call or another thread using
// the same object must never have this call build on its rows.
class TableRun {
 public:
  explicit TableRun(IntegratorObject* self) : self_(self) {}

  // Each call describes itself alone: both tables are emptied in place.
  int empty_tables();
  // Row 0: [T(0)].
  int append_first_row();
  // Row m: T(m) from the trapezoid with 2^m intervals, extrapolated along the
  // table's last row.
  int append_next_row(int m);
  // |diagonal of the new row - diagonal of the row it extended|, as a double.
  int record_difference();

  bool converged() const {
    // The difference is a double, widened only for the comparison
    // (recursive() takes its difference in extended precision). NaN fails.
    return LDFloat(difference_) < self_->_precision;
  }
  // 1 when the last recorded difference exceeds the one before it, 0 when
  // not, -1 with an exception set.
  int difference_grew() const;

  // float() of the diagonal entry of the newest row, or of the row it extended.
  PyObject* newest_diagonal() const { return diagonal(row_.get()); }
  PyObject* previous_diagonal() const { return diagonal(previous_row_.get()); }

 private:
  static PyObject* diagonal(PyObject* row) {
    Ref entry = Ref::steal(last_item(row));
    return entry ? value_to_float(entry.get()) : nullptr;
  }
  int check_tables(int m) const;

  IntegratorObject* self_;
  Ref row_;            // the newest row this call appended to the table
  Ref previous_row_;   // the row that row_ extended, read from the table
  double difference_ = 0.0;
};

int TableRun::empty_tables() {
  // Releasing old rows can run Python code, so each field is read when used.
  for (PyObject* IntegratorObject::*field :
       {&IntegratorObject::_romberg_table, &IntegratorObject::_precision_table}) {
    Ref table = Ref::borrow(self_->*field);
    if (PyList_Check(table.get()) &&
        PyList_SetSlice(table.get(), 0, PY_SSIZE_T_MAX, nullptr) < 0) {
      return -1;
    }
  }
  return 0;
}

int TableRun::append_first_row() {
  LDFloat trapezoid;
  if (composite_trapezoid(self_, 0, &trapezoid) < 0) return -1;
  Ref first = Ref::steal(ldfloat_to_value(trapezoid));
  if (!first) return -1;
  Ref row = Ref::steal(PyList_New(1));
  if (!row) return -1;
  PyList_SET_ITEM(row.get(), 0, first.release());
  Ref table = Ref::borrow(self_->_romberg_table);
  if (append_to(table.get(), row.get()) < 0) return -1;
  row_ = std::move(row);
  return 0;
}

int fail_changed(const char* table) {
  PyErr_Format(PyExc_RuntimeError,
               "%s no longer holds what this dynamic_programming() call put there: it was "
               "changed during the call (by the integrand, by a nested call or by another "
               "thread using the same object)",
               table);
  return -1;
}

// Before row m the table holds this call's m rows, its newest row last (or a
// None put in its place), and the precision table its m - 1 differences.
int TableRun::check_tables(int m) const {
  PyObject* table = self_->_romberg_table;  // borrowed: nothing here runs Python code
  if (table == Py_None) return fail_none_not_subscriptable();
  const Py_ssize_t rows = PyList_GET_SIZE(table);
  if (rows > 0) {
    PyObject* last = PyList_GET_ITEM(table, rows - 1);
    if (!PyList_CheckExact(last) && last != Py_None) return fail_expected_list(last);
    if (last != Py_None && last != row_.get()) return fail_changed("romberg_table");
  }
  if (rows != m) return fail_changed("romberg_table");
  // The field holds the list this call emptied or, after a garbage-collector
  // clear, None, which fails when the difference is appended.
  PyObject* differences = self_->_precision_table;  // borrowed
  if (differences != Py_None && PyList_GET_SIZE(differences) != m - 1) {
    return fail_changed("precision_table");
  }
  return 0;
}

int TableRun::append_next_row(int m) {
  LDFloat trapezoid;
  if (composite_trapezoid(self_, m, &trapezoid) < 0 || check_tables(m) < 0) return -1;
  Ref previous = Ref::borrow(PyList_GET_ITEM(self_->_romberg_table, m - 1));
  Ref lst_m = Ref::steal(PyList_New(0));
  if (!lst_m) return -1;
  self_->ops->_sub_problem(self_, previous.get(), trapezoid, lst_m.get());
  if (PyErr_Occurred()) return -1;
  Ref table = Ref::borrow(self_->_romberg_table);
  if (append_to(table.get(), lst_m.get()) < 0) return -1;
  previous_row_ = std::move(previous);
  row_ = std::move(lst_m);
  return 0;
}

int TableRun::record_difference() {
  Ref newest = Ref::steal(last_item(row_.get()));
  if (!newest) return -1;
  Ref previous = Ref::steal(last_item(previous_row_.get()));
  if (!previous) return -1;
  double difference;
  if (PyFloat_CheckExact(newest.get()) && PyFloat_CheckExact(previous.get())) {
    // Python's subtraction of two floats is the subtraction of doubles.
    difference = PyFloat_AS_DOUBLE(newest.get()) - PyFloat_AS_DOUBLE(previous.get());
  } else {
    Ref result = Ref::steal(PyNumber_Subtract(newest.get(), previous.get()));
    if (!result) return -1;
    difference = value_to_double(result.get());
    if (difference == -1.0 && PyErr_Occurred()) return -1;
  }
  difference = std::fabs(difference);
  Ref boxed = Ref::steal(PyFloat_FromDouble(difference));
  if (!boxed) return -1;
  Ref differences = Ref::borrow(self_->_precision_table);
  if (append_to(differences.get(), boxed.get()) < 0) return -1;
  difference_ = difference;
  return 0;
}

int TableRun::difference_grew() const {
  Ref differences = Ref::borrow(self_->_precision_table);
  if (differences.get() == Py_None) {
    PyErr_SetString(PyExc_TypeError, "object of type 'NoneType' has no len()");
    return -1;
  }
  const Py_ssize_t count = PyList_GET_SIZE(differences.get());
  if (count < 2) return 0;
  Ref last = Ref::borrow(PyList_GET_ITEM(differences.get(), count - 1));
  Ref before = Ref::borrow(PyList_GET_ITEM(differences.get(), count - 2));
  if (PyFloat_CheckExact(last.get()) && PyFloat_CheckExact(before.get())) {
    return PyFloat_AS_DOUBLE(last.get()) > PyFloat_AS_DOUBLE(before.get());
  }
  return PyObject_RichCompareBool(last.get(), before.get(), Py_GT);
}

PyObject* dynamic_impl(IntegratorObject* self, int maximum_step) {
  TableRun run(self);
  if (run.empty_tables() < 0 || run.append_first_row() < 0) return nullptr;
  for (int m = 1; m < maximum_step; ++m) {
    if (run.append_next_row(m) < 0 || run.record_difference() < 0) return nullptr;
    if (run.converged()) return run.newest_diagonal();
    const int grew = run.difference_grew();
    if (grew < 0) return nullptr;
    if (grew) return run.previous_diagonal();
  }
  return run.newest_diagonal();
}

PyObject* integrator_dynamic_programming(PyObject* op, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
  const Signature& signature = dynamic_programming_method.signature;
  Ref slots[1];
  int maximum_step = static_cast<int>(signature.defaults[0]);
  if (bind_arguments(signature, args, nargs, kwnames, slots) < 0 ||
      (slots[0] && (maximum_step = value_to_int(slots[0].get())) == -1 && PyErr_Occurred())) {
    add_method_traceback(dynamic_programming_method);
    return nullptr;
  }
  PyObject* result = dynamic_impl(reinterpret_cast<IntegratorObject*>(op), maximum_step);
  if (!result) add_method_traceback(dynamic_programming_method);
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
