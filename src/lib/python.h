// The one include of the interpreter's headers.  The abi3t build defines
// Py_LIMITED_API 3.15 and Py_TARGET_ABI3T, so only the free-threading stable
// ABI is visible: objects are opaque and reference counts go through
// _Py_IncRef/_Py_DecRef.  The abi3 build defines Py_LIMITED_API 3.12 (the
// stable ABI of GIL builds; its Py_INCREF/Py_DECREF call _Py_IncRef and
// _Py_DecRef too); the calls that differ between the two are in compat.h.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace native::py {

// An owned (strong) reference, dropped on every path.
class Ref {
 public:
  Ref() = default;
  // Takes over a new reference (which may be null).
  static Ref steal(PyObject* object) { return Ref(object); }
  static Ref borrow(PyObject* object) {
    Py_XINCREF(object);
    return Ref(object);
  }
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    Ref(std::move(other)).swap(*this);
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  PyObject* release() { return std::exchange(object_, nullptr); }
  explicit operator bool() const { return object_ != nullptr; }
  void swap(Ref& other) noexcept { std::swap(object_, other.object_); }

 private:
  explicit Ref(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace native::py
