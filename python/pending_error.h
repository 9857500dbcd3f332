#pragma once

#include <Python.h>

#include "ref.h"
#include "schema/result.h"

namespace tagatlas::py {

// An error on its way from where it arose to the end of an entry point.
//
// Either an exception class with its one argument, from which the exception object is made only
// when it is raised (errors the native code finds itself), or an exception object already taken
// from the interpreter (errors of interpreter calls).
class PendingError {
 public:
  // Class and argument; the object is made later by the interpreter calling the class.
  PendingError(PyObject* type, Ref argument);

  // Class and a message formatted as by PyUnicode_FromFormat. If the message cannot be made, the
  // interpreter's error from that attempt becomes the pending error.
  static PendingError format(PyObject* type, const char* format, ...);

  // Takes the exception that the interpreter has set. A PanicException raised by Python code is
  // not an ordinary error: it is reported and resumed as an internal fault (throws Panic).
  static PendingError fetch();

  // Makes the exception object now if there is none yet, and adds the note
  // "while processing '{parameter}'" through the object's own add_note. A failure to add the note
  // is discarded; the error stays what it was.
  PendingError with_note(const char* parameter) &&;

  // Sets the interpreter's current exception from this error.
  void raise() && noexcept;

 private:
  explicit PendingError(Ref exception) : value_(std::move(exception)) {}
  // The exception object, made from class and argument if it is not one yet.
  void materialize();

  Ref type_;   // the class, for the first kind only
  Ref value_;  // the argument (first kind) or the exception object (second kind)
};

// The outcome of an entry point's body: a value or a pending error.
template <class T>
using Outcome = Result<T, PendingError>;

// The value of a body that produces nothing.
struct Done {};

}  // namespace tagatlas::py
