#pragma once

#include <Python.h>

#include <stdexcept>
#include <string>

#include "ref.h"

namespace tagatlas::py {

// An internal fault found in this layer (the library throws its own tagatlas::Fault). Like every
// exception that reaches an entry point's wrapper, it becomes a PanicException there.
class Panic : public std::runtime_error {
 public:
  explicit Panic(const std::string& message) : std::runtime_error(message), message_(message) {}
  // The whole text; what() stops at an embedded NUL, which a str() from Python code may hold.
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

// The class PanicException, created on first need and kept for the process. Returns nullptr with
// a Python exception set when it cannot be created.
PyObject* panic_exception_class();

// Whether exception is a PanicException. False while the class has not been created, since no
// code can have raised one before.
bool is_panic(PyObject* exception);

// Writes a notice and the exception with its traceback to standard error, then throws Panic with
// the exception's str(), so that the entry point ends with a new PanicException of the same text.
[[noreturn]] void resume_panic(Ref exception);

// Panic carrying the interpreter's current exception: context, ": ", then its repr().
Panic panic_from_python_error(const char* context);

// Raises the C++ exception being handled (call only inside a catch block) as a Python exception:
// std::bad_alloc as MemoryError, anything else as PanicException with the exception's text.
void raise_caught_exception() noexcept;

}  // namespace tagatlas::py
