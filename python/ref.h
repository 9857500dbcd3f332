#pragma once

#include <Python.h>

#include <utility>

namespace tagatlas::py {

// One owned strong reference, released when the Ref is destroyed. Owning references this way lets
// a body that throws (an internal fault) unwind without leaking what it had built.
class Ref {
 public:
  Ref() = default;
  // Takes over a new reference (or nullptr).
  explicit Ref(PyObject* owned) : p_(owned) {}
  // Takes a new reference to a borrowed object.
  static Ref borrow(PyObject* borrowed) { return Ref(Py_XNewRef(borrowed)); }

  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    Ref old(std::exchange(p_, std::exchange(other.p_, nullptr)));
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  // Hands the reference to the caller.
  PyObject* release() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

}  // namespace tagatlas::py
