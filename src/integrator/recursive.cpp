// The memoised Romberg entry T(m, k) and the recursive integration method.
#include <cmath>

#include "capi/binding.hpp"
#include "capi/recursion.hpp"
#include "capi/ref.hpp"
#include "capi/traceback.hpp"
#include "integrator/integrator.hpp"
#include "integrator/trapezoid.hpp"

namespace pelorand {

namespace {

constexpr const char kRecursiveDoc[] =
    "\n"
    "        执行 Romberg 积分算法（递归方法）。\n"
    "        \n"
    "        使用递归方法和哈希表缓存中间结果，逐步提高精度直到满足精度要求。\n"
    "        \n"
    "        Returns\n"
    "        -------\n"
    "        float\n"
    "            计算得到的积分结果\n"
    "        ";

// |value| as unsigned, so that INT_MIN has one too.
unsigned magnitude_of(int value) {
  return value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
}

// Length of the decimal text of `value`, sign included.
Py_ssize_t decimal_length(int value) {
  Py_ssize_t length = value < 0 ? 2 : 1;
  for (unsigned rest = magnitude_of(value); rest >= 10; rest /= 10) ++length;
  return length;
}

// Writes the decimal text of `value` so that it ends just before `end`;
// returns where it starts.
Py_UCS1* write_decimal_backwards(Py_UCS1* end, int value) {
  unsigned rest = magnitude_of(value);
  do {
    *--end = static_cast<Py_UCS1>('0' + rest % 10);
    rest /= 10;
  } while (rest);
  if (value < 0) *--end = '-';
  return end;
}

// The map field is a dict, or None after a garbage-collector clear. Each use
// holds its own reference: key comparisons inside the dict can run Python code.
Ref romberg_map(IntegratorObject* self) { return Ref::borrow(self->_romberg_map); }

int read_entry(IntegratorObject* self, PyObject* key, LDFloat* out) {
  Ref map = romberg_map(self);
  if (map.get() == Py_None) return fail_none_not_subscriptable();
  Ref value = Ref::steal(dict_item(map.get(), key));
  if (!value) return -1;
  const LDFloat entry = value_to_ldfloat(value.get());
  if (entry == LDFloat(-1) && PyErr_Occurred()) return -1;
  *out = entry;
  return 0;
}

int compute_entry(IntegratorObject* self, int m, int k, LDFloat* out) {
  Ref key = Ref::steal(self->ops->_generate_key(self, m, k));
  if (!key) return -1;
  {
    Ref map = romberg_map(self);
    if (map.get() == Py_None) return fail_none_not_iterable();
    const int present = PyDict_Contains(map.get(), key.get());
    if (present < 0) return -1;
    if (present) return read_entry(self, key.get(), out);
  }

  LDFloat value;
  if (m == 0) {
    if (composite_trapezoid(self, k, &value) < 0) return -1;
  } else {
    // The finer estimate first: that fixes the order of calls and of storage.
    const LDFloat finer = self->ops->T(self, m - 1, k + 1);
    if (PyErr_Occurred()) return -1;
    const LDFloat coarser = self->ops->T(self, m - 1, k);
    if (PyErr_Occurred()) return -1;
    const double power = power_of_four(m);
    // The denominator is a double: from m = 27 on it rounds to the power itself.
    value = (LDFloat(power) * finer - coarser) / LDFloat(power - 1.0);
  }

  {
    Ref boxed = Ref::steal(ldfloat_to_value(value));
    if (!boxed) return -1;
    Ref map = romberg_map(self);
    if (map.get() == Py_None) return fail_none_not_subscriptable();
    if (PyDict_SetItem(map.get(), key.get(), boxed.get()) < 0) return -1;
  }
  // Read back, so the entry is exactly the double that the map holds.
  return read_entry(self, key.get(), out);
}

// The level m of a memo key "m-0" as _generate_key writes it, or -1; `key`
// is an exact str.
long long level_of_key(PyObject* key) {
  if (!PyUnicode_IS_ASCII(key)) return -1;
  const Py_ssize_t length = PyUnicode_GET_LENGTH(key);
  const Py_UCS1* text = PyUnicode_1BYTE_DATA(key);
  if (length < 3 || length > 12 || text[length - 2] != '-' || text[length - 1] != '0') return -1;
  if (text[0] == '0' && length > 3) return -1;
  long long level = 0;
  for (Py_ssize_t i = 0; i < length - 2; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    level = level * 10 + (text[i] - '0');
  }
  return level;
}

// True when every T(j, 0) after T(m, 0), a NaN, is certain to be a NaN too,
// so that no later difference can pass: each is extrapolated from its
// predecessor unless the memo holds it. False when that is not certain: a
// later "j-0" is in the memo, or a key of another kind might be taken for one.
bool nan_inherited_after(IntegratorObject* self, int m) {
  PyObject* map = self->_romberg_map;  // borrowed, and nothing below runs Python code
  if (!PyDict_CheckExact(map)) return false;  // the next look-up reports it
  Py_ssize_t position = 0;
  PyObject* key;
  PyObject* value;
  while (PyDict_Next(map, &position, &key, &value)) {
    if (!PyUnicode_CheckExact(key) || level_of_key(key) > m) return false;
  }
  return true;
}

int recursive_impl(IntegratorObject* self, double* result) {
  const LDFloat precision = self->_precision;
  // The strict test can never pass: refuse before doing any work.
  if (!(precision > LDFloat())) {
    Ref shown = Ref::steal(ldfloat_to_value(precision));
    if (shown) {
      PyErr_Format(PyExc_ValueError,
                   "recursive() needs a precision greater than zero, got %R", shown.get());
    }
    return -1;
  }
  LDFloat previous = self->ops->T(self, 0, 0);
  if (PyErr_Occurred()) return -1;
  for (int m = 1;; ++m) {
    const LDFloat current = self->ops->T(self, m, 0);
    if (PyErr_Occurred()) return -1;
    // In extended precision: dynamic_programming() subtracts doubles instead.
    const LDFloat diff = fabs(current - previous);
    if (diff < precision) {
      *result = static_cast<double>(current);
      return 0;
    }
    if (isnan(current) && nan_inherited_after(self, m)) {
      PyErr_Format(PyExc_ValueError,
                   "recursive() cannot converge: the difference between T(%d, 0) and "
                   "T(%d, 0) is not a number",
                   m, m - 1);
      return -1;
    }
    previous = current;
  }
}

}  // namespace

PyObject* integrator_generate_key(IntegratorObject*, int m, int k) {
  const Py_ssize_t length = decimal_length(m) + 1 + decimal_length(k);
  PyObject* key = PyUnicode_New(length, 127);
  if (!key) {
    add_traceback(kTraceGenerateKey);
    return nullptr;
  }
  Py_UCS1* end = PyUnicode_1BYTE_DATA(key) + length;
  Py_UCS1* start = write_decimal_backwards(end, k);
  *--start = '-';
  write_decimal_backwards(start, m);
  return key;
}

LDFloat integrator_T(IntegratorObject* self, int m, int k) {
  // Entries placed in the memo can make the recursion as deep as the level.
  int status = -1;
  LDFloat value;
  RecursionGuard guard;
  if (guard.enter(" while computing a Romberg entry") == 0) {
    status = compute_entry(self, m, k, &value);
    guard.leave();
  }
  if (status < 0) {
    add_traceback(kTraceT);
    return LDFloat();
  }
  return value;
}

namespace {

PyObject* integrator_recursive(PyObject* op, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  if (bind_arguments(recursive_method.signature, args, nargs, kwnames, nullptr) < 0) {
    return nullptr;
  }
  double result;
  if (recursive_impl(reinterpret_cast<IntegratorObject*>(op), &result) == 0) {
    if (PyObject* value = PyFloat_FromDouble(result)) return value;
  }
  add_method_traceback(recursive_method);
  return nullptr;
}

}  // namespace

MethodSpec recursive_method = {
    .signature = {.function = "recursive", .params = {}, .required = 0},
    .impl = integrator_recursive,
    .doc = kRecursiveDoc,
    .qualname = "Pelorand.recursive",
    .locals = {"m", "Tm0", "Tm1_0", "diff"},
    .target = BindTarget::kClass,
    .code = here(),
};

}  // namespace pelorand
