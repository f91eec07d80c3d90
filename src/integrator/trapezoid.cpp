#include "integrator/trapezoid.hpp"

#include "capi/ref.hpp"
#include "capi/threads.hpp"
#include "numeric/extended.hpp"

namespace pelorand {

namespace {

// Builtin integrands never return to the eval loop, so Ctrl-C and other
// threads get their turn only if the sum itself offers it, every so often.
constexpr int kYieldMask = 4096 - 1;

// Calls the integrand held in the record with one float. The field is read
// before every call, so a garbage-collector clear that replaces it with None
// is seen at once; the reference held between calls means nothing the
// integrand does can free it while it runs, at the cost of a compare per call.
class IntegrandCaller {
 public:
  explicit IntegrandCaller(IntegratorObject* self) : self_(self) {}

  // x arrives rounded to a double: handing over an 80-bit value through
  // memory costs more than the rounding.
  PyObject* operator()(double x) {
    if (integrand_.get() != self_->_integrand) integrand_ = Ref::borrow(self_->_integrand);
    Ref arg = Ref::steal(PyFloat_FromDouble(x));
    if (!arg) return nullptr;
    return call_integrand(integrand_.get(), arg.get());
  }

 private:
  IntegratorObject* self_;
  Ref integrand_;
};

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
  const LDFloat h = (self->_upper_bound - a) / LDFloat(n);

  IntegrandCaller call(self);
  Ref fa = Ref::steal(call(static_cast<double>(a)));
  if (!fa) return -1;
  Ref fb = Ref::steal(call(static_cast<double>(self->_upper_bound)));
  if (!fb) return -1;
  double sum;
  // Exact floats add and scale exactly as float.__add__ and float.__mul__ do.
  if (PyFloat_CheckExact(fa.get()) && PyFloat_CheckExact(fb.get())) {
    sum = 0.5 * (PyFloat_AS_DOUBLE(fa.get()) + PyFloat_AS_DOUBLE(fb.get()));
  } else {
    Ref ends = Ref::steal(PyNumber_Add(fa.get(), fb.get()));
    if (!ends) return -1;
    Ref half = Ref::steal(PyNumber_Multiply(integrator_constants.half, ends.get()));
    if (!half) return -1;
    sum = value_to_double(half.get());
    if (sum == -1.0 && PyErr_Occurred()) return -1;
  }
  fa.reset();
  fb.reset();

  const MulAddToDouble<LDFloat> point(h, a);
  for (int i = 1; i < n; ++i) {
    if ((i & kYieldMask) == 0) {
      offer_interpreter_lock();
      if (PyErr_CheckSignals() < 0) return -1;
    }
    // The sample point is formed in extended precision, product first, and
    // rounded to a double only once, when it is handed to the integrand.
    Ref fx = Ref::steal(call(point(i)));
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
  *out = h * LDFloat(sum);
  return 0;
}

}  // namespace pelorand
