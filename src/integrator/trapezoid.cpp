#include "integrator/trapezoid.hpp"

#include "module/constants.hpp"
#include "module/ref.hpp"

namespace pelorand {

namespace {

// Builtin integrands never return to the eval loop, so Ctrl-C is noticed
// only if the sum itself looks for it.
constexpr int kSignalCheckMask = 4096 - 1;

// f(x) with x rounded to a double. The integrand is re-read for every call:
// a garbage-collector clear may have replaced it with None, and the call
// itself holds a reference so that nothing the integrand does can free it.
PyObject* call_at(IntegratorObject* self, LDFloat x) {
  Ref arg = Ref::steal(ldfloat_to_value(x));
  if (!arg) return nullptr;
  Ref f = Ref::borrow(self->_integrand);
  return call_integrand(f.get(), arg.get());
}

}  // namespace

int composite_trapezoid(IntegratorObject* self, int level, LDFloat* out) {
  if (level < 0 || level > kMaxLevel) {
    PyErr_Format(PyExc_OverflowError,
                 "Romberg level %d is out of range: its 2**%d intervals do not fit the 32-bit "
                 "interval count (levels 0 to %d)",
                 level, level, kMaxLevel);
    return -1;
  }
  const int n = 1 << level;
  const LDFloat a = self->_lower_bound;
  const LDFloat h = (self->_upper_bound - a) / n;

  Ref fa = Ref::steal(call_at(self, a));
  if (!fa) return -1;
  Ref fb = Ref::steal(call_at(self, self->_upper_bound));
  if (!fb) return -1;
  double sum;
  // Exact floats add and scale exactly as float.__add__ and float.__mul__ do.
  if (PyFloat_CheckExact(fa.get()) && PyFloat_CheckExact(fb.get())) {
    sum = 0.5 * (PyFloat_AS_DOUBLE(fa.get()) + PyFloat_AS_DOUBLE(fb.get()));
  } else {
    Ref ends = Ref::steal(PyNumber_Add(fa.get(), fb.get()));
    if (!ends) return -1;
    Ref half = Ref::steal(PyNumber_Multiply(constants.half, ends.get()));
    if (!half) return -1;
    sum = value_to_double(half.get());
    if (sum == -1.0 && PyErr_Occurred()) return -1;
  }
  fa.reset();
  fb.reset();

  for (int i = 1; i < n; ++i) {
    if ((i & kSignalCheckMask) == 0 && PyErr_CheckSignals() < 0) return -1;
    Ref fx = Ref::steal(call_at(self, a + static_cast<LDFloat>(i) * h));
    if (!fx) return -1;
    if (PyFloat_CheckExact(fx.get())) {
      sum += PyFloat_AS_DOUBLE(fx.get());
      continue;
    }
    // Any other result meets the running sum as a float, on the left.
    Ref partial = Ref::steal(PyFloat_FromDouble(sum));
    if (!partial) return -1;
    Ref total = Ref::steal(PyNumber_InPlaceAdd(partial.get(), fx.get()));
    if (!total) return -1;
    sum = value_to_double(total.get());
    if (sum == -1.0 && PyErr_Occurred()) return -1;
  }
  *out = h * static_cast<LDFloat>(sum);
  return 0;
}

}  // namespace pelorand
