#pragma once

#include <Python.h>

#include <utility>

#include "panic.h"
#include "pending_error.h"
#include "ref.h"

namespace tagatlas::py {

// Entry-point wrappers: the functions the interpreter calls. Each runs a body and turns its outcome
// into what the interpreter expects of that kind of entry point. A pending error is raised; any
// C++ exception (a library Fault, a Panic of this layer) becomes PanicException and
// std::bad_alloc MemoryError. Nothing is allowed to unwind into the interpreter.
//
// The interpreter calls every entry point with the interpreter lock held; none releases it.

using FastCallBody = Outcome<Ref> (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames);
using SelfBody = Outcome<Ref> (*)(PyObject* self);
using LengthBody = Outcome<Py_ssize_t> (*)(PyObject* self);
using ExecBody = Outcome<Done> (*)(PyObject* module);
using DeallocBody = void (*)(PyObject* self);

// The new reference of a successful body, or nullptr with the body's error raised.
inline PyObject* finish_object(Outcome<Ref>&& out) noexcept {
  if (!out) {
    std::move(out).error().raise();
    return nullptr;
  }
  return std::move(out).value().release();
}

// METH_FASTCALL | METH_KEYWORDS.
template <FastCallBody body>
PyObject* fast_call(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) noexcept {
  try {
    return finish_object(body(self, args, nargs, kwnames));
  } catch (...) {
    raise_caught_exception();
    return nullptr;
  }
}

// tp_repr.
template <SelfBody body>
PyObject* repr_slot(PyObject* self) noexcept {
  try {
    return finish_object(body(self));
  } catch (...) {
    raise_caught_exception();
    return nullptr;
  }
}

// METH_NOARGS: a self-only body like repr's, with the always-NULL argument ignored.
template <SelfBody body>
PyObject* no_args(PyObject* self, PyObject* /*unused*/) noexcept {
  return repr_slot<body>(self);
}

// mp_length.
template <LengthBody body>
Py_ssize_t length_slot(PyObject* self) noexcept {
  try {
    Outcome<Py_ssize_t> out = body(self);
    if (!out) {
      std::move(out).error().raise();
      return -1;
    }
    return out.value();
  } catch (...) {
    raise_caught_exception();
    return -1;
  }
}

// Py_mod_exec.
template <ExecBody body>
int exec_slot(PyObject* module) noexcept {
  try {
    Outcome<Done> out = body(module);
    if (!out) {
      std::move(out).error().raise();
      return -1;
    }
    return 0;
  } catch (...) {
    raise_caught_exception();
    return -1;
  }
}

// tp_dealloc. It cannot report an error, so a fault is raised and at once written out as
// unraisable; an exception that was already set when deallocation began is kept.
template <DeallocBody body>
void dealloc_slot(PyObject* self) noexcept {
  try {
    body(self);
  } catch (...) {
    PyObject* earlier = PyErr_GetRaisedException();
    raise_caught_exception();
    PyErr_WriteUnraisable(nullptr);
    PyErr_SetRaisedException(earlier);
  }
}

}  // namespace tagatlas::py
