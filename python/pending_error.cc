#include "pending_error.h"

#include <cstdarg>

#include "interned.h"
#include "panic.h"

namespace tagatlas::py {

PendingError::PendingError(PyObject* type, Ref argument)
    : type_(Ref::borrow(type)), value_(std::move(argument)) {}

PendingError PendingError::format(PyObject* type, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Ref message(PyUnicode_FromFormatV(format, args));
  va_end(args);
  if (!message) return fetch();
  return PendingError(type, std::move(message));
}

PendingError PendingError::fetch() {
  Ref exception(PyErr_GetRaisedException());
  if (!exception) throw Panic("an interpreter call failed without setting an exception");
  if (is_panic(exception.get())) resume_panic(std::move(exception));
  return PendingError(std::move(exception));
}

void PendingError::materialize() {
  if (!type_) return;
  // The interpreter makes the object exactly as it would when raising: by calling the class with
  // the argument, or with a TypeError when the class is no exception class.
  PyErr_SetObject(type_.get(), value_.get());
  type_ = Ref();
  value_ = Ref(PyErr_GetRaisedException());
}

PendingError PendingError::with_note(const char* parameter) && {
  materialize();
  const InternedNames* names = interned_names();
  if (names != nullptr && value_) {
    Ref note(PyUnicode_FromFormat("while processing '%s'", parameter));
    if (note) {
      Ref result(PyObject_CallMethodOneArg(value_.get(), names->add_note, note.get()));
    }
  }
  // A note that could not be added is dropped; the error is raised all the same.
  if (PyErr_Occurred()) PyErr_Clear();
  return std::move(*this);
}

void PendingError::raise() && noexcept {
  if (type_) {
    PyErr_SetObject(type_.get(), value_.get());
  } else {
    PyErr_SetRaisedException(value_.release());
  }
}

}  // namespace tagatlas::py
