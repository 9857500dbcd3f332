#include "panic.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <exception>
#include <new>

#include "process_objects.h"

namespace tagatlas::py {
namespace {

constexpr char kPanicName[] = "tagatlas.PanicException";
constexpr char kPanicDoc[] =
    "Raised when the native code of the tagatlas extension fails internally.\n"
    "\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that it\n"
    "typically propagates all the way up the stack and ends the interpreter; a plain\n"
    "`except Exception:` does not catch it.";
constexpr char kGenericFault[] = "internal fault in the tagatlas extension";

// A fault while turning a fault into an exception: there is no safe way left to report it.
[[noreturn]] void abort_uncaught() noexcept {
  std::fputs("uncaught panic at ffi boundary\n", stderr);
  std::fflush(stderr);
  std::abort();
}

void raise_panic(std::string_view message) noexcept {
  PyObject* type = panic_exception_class();
  if (type == nullptr) abort_uncaught();
  // Surrogates pass, so that the text of a PanicException raised by Python code comes back whole.
  const auto size = static_cast<Py_ssize_t>(message.size());
  Ref text(PyUnicode_DecodeUTF8(message.data(), size, "surrogatepass"));
  if (!text) {
    PyErr_Clear();
    text = Ref(PyUnicode_DecodeUTF8(message.data(), size, "replace"));
  }
  if (!text) abort_uncaught();
  PyErr_SetObject(type, text.get());
}

}  // namespace

PyObject* panic_exception_class() {
  return process_objects.panic_class.get([] {
    return PyErr_NewExceptionWithDoc(kPanicName, kPanicDoc, PyExc_BaseException, nullptr);
  });
}

bool is_panic(PyObject* exception) {
  PyObject* type = process_objects.panic_class.peek();
  return type != nullptr && PyObject_TypeCheck(exception, reinterpret_cast<PyTypeObject*>(type));
}

void resume_panic(Ref exception) {
  PySys_WriteStderr(
      "tagatlas: a PanicException raised by Python code reached native code; "
      "it is raised again as a new PanicException. Its traceback:\n");
  PyErr_DisplayException(exception.get());
  Ref text(PyObject_Str(exception.get()));
  Ref utf8(text ? PyUnicode_AsEncodedString(text.get(), "utf-8", "surrogatepass") : nullptr);
  if (!utf8) {
    PyErr_Clear();
    throw Panic(kGenericFault);
  }
  throw Panic(std::string(PyBytes_AS_STRING(utf8.get()),
                          static_cast<std::size_t>(PyBytes_GET_SIZE(utf8.get()))));
}

Panic panic_from_python_error(const char* context) {
  Ref exception(PyErr_GetRaisedException());
  std::string message = context;
  if (exception) {
    Ref repr(PyObject_Repr(exception.get()));
    Py_ssize_t size = 0;
    const char* utf8 = repr ? PyUnicode_AsUTF8AndSize(repr.get(), &size) : nullptr;
    if (utf8 != nullptr) {
      message.append(": ").append(utf8, static_cast<std::size_t>(size));
    } else {
      PyErr_Clear();
    }
  }
  return Panic(message);
}

void raise_caught_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const Panic& e) {
    raise_panic(e.message());
  } catch (const std::exception& e) {
    raise_panic(e.what()[0] != '\0' ? e.what() : kGenericFault);
  } catch (...) {
    raise_panic(kGenericFault);
  }
}

}  // namespace tagatlas::py
