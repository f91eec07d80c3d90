// An owned reference to a Python object, released when it goes out of scope.
#pragma once

#include <Python.h>

namespace pelorand {

class Ref {
 public:
  Ref() noexcept = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : ptr_(other.release()) {}
  Ref& operator=(Ref&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Ref() { Py_XDECREF(ptr_); }

  // Takes over a reference the caller owns (a new reference, or null).
  static Ref steal(PyObject* p) noexcept { return Ref(p); }
  // Takes a new reference to an object the caller only borrows.
  static Ref borrow(PyObject* p) noexcept {
    Py_XINCREF(p);
    return Ref(p);
  }

  PyObject* get() const noexcept { return ptr_; }
  PyObject* release() noexcept {
    PyObject* p = ptr_;
    ptr_ = nullptr;
    return p;
  }
  // The old object may run arbitrary code when released; store first so
  // that code never sees this Ref pointing at it.
  void reset(PyObject* p = nullptr) noexcept {
    PyObject* old = ptr_;
    ptr_ = p;
    Py_XDECREF(old);
  }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

 private:
  explicit Ref(PyObject* p) noexcept : ptr_(p) {}
  PyObject* ptr_ = nullptr;
};

}  // namespace pelorand
