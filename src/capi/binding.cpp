// Check order, identical for both conventions, so that the first fault of a
// call is the one reported:
//   1. the positional count (too many; too few when no keyword is given);
//   2. the keywords, in call order (dict order for object creation): a name
//      of a positionally bound parameter is "multiple values", any other
//      unknown name is "unexpected";
//   3. the first parameter still missing, reported as a count message whose
//      "given" is that parameter's position.
// Keyword names are compared with the interned parameter names by identity
// first; only on a miss by value.
#include "capi/binding.hpp"

#include <cstring>

namespace pelorand {

namespace {

constexpr const char kCountMessage[] =
    "%.200s() takes %.8s %zd positional argument%.1s (%zd given)";
constexpr const char kUnexpectedKeyword[] = "%s() got an unexpected keyword argument '%U'";
constexpr const char kMultipleValues[] = "%s() got multiple values for keyword argument '%U'";
constexpr const char kKeywordsMustBeStrings[] = "%.200s() keywords must be strings";
constexpr const char kDictKeysMustBeStrings[] = "keywords must be strings";

int fail_count(const Signature& signature, Py_ssize_t given) {
  const bool exact = signature.required == signature.count;
  PyErr_Format(PyExc_TypeError, kCountMessage, signature.function, exact ? "exactly" : "at most",
               signature.count, signature.count == 1 ? "" : "s", given);
  return -1;
}

int fail_keyword(const Signature& signature, const char* format, PyObject* key) {
  PyErr_Format(PyExc_TypeError, format, signature.function, key);
  return -1;
}

// Equal hash (when both are known), length, width and code units.
bool exact_str_equal(PyObject* a, PyObject* b) {
  const Py_hash_t ha = reinterpret_cast<PyASCIIObject*>(a)->hash;
  const Py_hash_t hb = reinterpret_cast<PyASCIIObject*>(b)->hash;
  if (ha != -1 && hb != -1 && ha != hb) return false;
  const Py_ssize_t length = PyUnicode_GET_LENGTH(a);
  if (length != PyUnicode_GET_LENGTH(b)) return false;
  const int kind = PyUnicode_KIND(a);
  if (kind != PyUnicode_KIND(b)) return false;
  return std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), length * kind) == 0;
}

// Index in [from, to) of the parameter named `key`, -1 if none, -2 when a
// comparison raised. `key` is a str or a str subclass.
Py_ssize_t find_name(const Signature& signature, PyObject* key, Py_ssize_t from, Py_ssize_t to) {
  for (Py_ssize_t i = from; i < to; ++i) {
    if (signature.names[i] == key) return i;
  }
  const bool exact = PyUnicode_CheckExact(key);
  for (Py_ssize_t i = from; i < to; ++i) {
    PyObject* name = signature.names[i];
    if (exact) {
      if (exact_str_equal(key, name)) return i;
      continue;
    }
    // A str subclass may define its own equality, which may raise.
    const int equal = PyObject_RichCompareBool(key, name, Py_EQ);
    if (equal < 0) return -2;
    if (equal) return i;
  }
  return -1;
}

// Reports a keyword that names none of the parameters after the positional
// ones: "multiple values" when it names a positional one, else "unexpected".
int fail_unmatched(const Signature& signature, PyObject* key, Py_ssize_t nargs) {
  const Py_ssize_t positional = find_name(signature, key, 0, nargs);
  if (positional == -2) return -1;
  return fail_keyword(signature, positional >= 0 ? kMultipleValues : kUnexpectedKeyword, key);
}

void release(Ref* slots, Py_ssize_t count) {
  for (Py_ssize_t i = 0; i < count; ++i) slots[i].reset();
}

int bind_fast(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
              PyObject* kwnames, Ref* slots) {
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  if (nargs > signature.count || (nkw == 0 && nargs < signature.required)) {
    return fail_count(signature, nargs);
  }
  if (nkw == 0) {
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = Ref::borrow(args[i]);
    return 0;
  }
  if (signature.count == 0) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, 0);
    // '%U' needs a str; a non-str name can only come from a C caller.
    if (!PyUnicode_Check(key)) {
      PyErr_Format(PyExc_TypeError, kKeywordsMustBeStrings, signature.function);
      return -1;
    }
    return fail_keyword(signature, kUnexpectedKeyword, key);
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = Ref::borrow(args[i]);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    if (!PyUnicode_Check(key)) {
      PyErr_Format(PyExc_TypeError, kKeywordsMustBeStrings, signature.function);
      return -1;
    }
    const Py_ssize_t index = find_name(signature, key, nargs, signature.count);
    if (index == -2) return -1;
    if (index < 0) return fail_unmatched(signature, key, nargs);
    // Only a C caller can name one parameter twice in one call.
    if (slots[index]) return fail_keyword(signature, kMultipleValues, key);
    slots[index] = Ref::borrow(args[nargs + k]);
  }
  for (Py_ssize_t i = nargs; i < signature.required; ++i) {
    if (!slots[i]) return fail_count(signature, i);
  }
  return 0;
}

int bind_dict(const Signature& signature, PyObject* args, PyObject* kwds, Ref* slots) {
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  const Py_ssize_t nkw = kwds ? PyDict_GET_SIZE(kwds) : 0;
  if (nargs > signature.count || (nkw == 0 && nargs < signature.required)) {
    return fail_count(signature, nargs);
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = Ref::borrow(PyTuple_GET_ITEM(args, i));
  if (nkw == 0) return 0;

  if (!PyArg_ValidateKeywordArguments(kwds)) return -1;
  Py_ssize_t found = 0;
  for (Py_ssize_t i = nargs; i < signature.count && found < nkw; ++i) {
    PyObject* value = PyDict_GetItemWithError(kwds, signature.names[i]);  // borrowed
    if (value) {
      slots[i] = Ref::borrow(value);
      ++found;
    } else if (PyErr_Occurred()) {
      return -1;
    }
  }
  if (found < nkw) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(kwds, &pos, &key, &value)) {
      // A str subclass's __eq__ may change the dict under the walk.
      Ref held = Ref::borrow(key);
      const Py_ssize_t index = find_name(signature, key, nargs, signature.count);
      if (index == -2) return -1;
      if (index < 0) return fail_unmatched(signature, key, nargs);
    }
  }
  for (Py_ssize_t i = 0; i < signature.count; ++i) {
    if (!slots[i]) return fail_count(signature, i);
  }
  return 0;
}

}  // namespace

int signature_ready(Signature& signature) {
  Py_ssize_t count = 0;
  for (; count < kMaxParams && signature.params[count]; ++count) {
    if (signature.names[count]) continue;
    signature.names[count] = PyUnicode_InternFromString(signature.params[count]);
    if (!signature.names[count]) return -1;
  }
  signature.count = count;
  return 0;
}

int bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, Ref* slots) {
  if (bind_fast(signature, args, nargs, kwnames, slots) == 0) return 0;
  release(slots, signature.count);
  return -1;
}

int bind_arguments(const Signature& signature, PyObject* args, PyObject* kwds, Ref* slots) {
  if (bind_dict(signature, args, kwds, slots) == 0) return 0;
  release(slots, signature.count);
  return -1;
}

}  // namespace pelorand
