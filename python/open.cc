#include "open.h"

#include <memory>
#include <string>
#include <utility>

#include "argbind.h"
#include "dict_type.h"
#include "entry.h"
#include "lookup/handle.h"
#include "typecheck.h"

namespace tagatlas::py {
namespace {

constexpr const char* kOpenParameters[] = {"path"};
constexpr ParameterDescription kOpen{"open", nullptr, kOpenParameters, 0, 1, {}};

// The path protocol, then the str's bytes in the file-system encoding, every byte kept (an
// embedded NUL too: the library refuses it). Bytes paths are refused.
Outcome<std::string> to_path(PyObject* value) {
  Ref path(PyOS_FSPath(value));
  if (!path) return PendingError::fetch();
  if (!PyUnicode_Check(path.get())) return type_check_error(path.get(), &PyUnicode_Type);
  Ref encoded(PyUnicode_EncodeFSDefault(path.get()));
  if (!encoded) return PendingError::fetch();
  return std::string(PyBytes_AS_STRING(encoded.get()),
                     static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get())));
}

// The exception for a file that cannot be used. Exactly OSError or ValueError with the message as
// the one argument: an OSError made from one argument keeps errno, strerror and filename None and
// is not mapped to a subclass such as FileNotFoundError.
PendingError open_error(const std::string& path, const TatlError& error) {
  if (error.kind() == TatlError::Kind::UnsupportedVersion) {
    return PendingError::format(PyExc_ValueError, "unsupported .tatl version %u",
                                static_cast<unsigned>(error.version()));
  }
  // One U+FFFD per maximal ill-formed subpart, as the interpreter's UTF-8 decoder replaces.
  Ref shown(PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()), "replace"));
  if (!shown) return PendingError::fetch();
  const std::string detail = error.message();
  Ref detail_text(
      PyUnicode_DecodeUTF8(detail.data(), static_cast<Py_ssize_t>(detail.size()), "replace"));
  if (!detail_text) return PendingError::fetch();
  return PendingError::format(PyExc_OSError, "cannot open %U: %U", shown.get(), detail_text.get());
}

// Asked by the library when a signal interrupts one of its system calls (a slow network file
// system): runs the Python signal handlers now, and gives up when one of them raised, such as
// Ctrl-C's KeyboardInterrupt, leaving that exception set. A handler that returns lets the call be
// tried again.
bool signal_handler_raised() { return PyErr_CheckSignals() < 0; }

Outcome<Ref> py_open(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* arguments[1];
  if (auto bound = bind_arguments(kOpen, args, nargs, kwnames, arguments); !bound) {
    return std::move(bound).error();
  }
  Outcome<std::string> path = to_path(arguments[0]);
  if (!path) return std::move(path).error().with_note("path");

  // Runs with the interpreter lock held, validation included.
  Result<TatlDict, TatlError> opened = TatlDict::open(path.value(), signal_handler_raised);
  if (!opened) {
    // The handler's exception is raised as it is.
    if (opened.error().kind() == TatlError::Kind::Interrupted) return PendingError::fetch();
    return open_error(path.value(), opened.error());
  }
  return new_dict(std::make_shared<const TatlDict>(std::move(opened).value()));
}

}  // namespace

PyMethodDef open_definition = {
    "open",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fast_call<py_open>)),
    METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
    "open(path)\n--\n\nOpen a `.tatl` file. Raises `IOError` on missing file or corruption,\n"
    "`ValueError` on unsupported version.",
};

}  // namespace tagatlas::py
