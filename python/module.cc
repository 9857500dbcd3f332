#include <Python.h>

#include <string_view>

#include "dict_type.h"
#include "entry.h"
#include "interned.h"
#include "open.h"
#include "panic.h"
#include "typecheck.h"

namespace tagatlas::py {
namespace {

// The version is set once, in the top-level CMakeLists.txt, and passed in by the build.
#ifndef TAGATLAS_VERSION
#error "TAGATLAS_VERSION must be defined by the build"
#endif
constexpr char kVersion[] = TAGATLAS_VERSION;

// Appends name to the module's __all__ (creating the list on first use) and sets the attribute.
Outcome<Done> add_public(PyObject* module, std::string_view name, PyObject* value) {
  const InternedNames* names = interned_names();
  if (names == nullptr) return PendingError::fetch();
  Ref all(PyObject_GetAttr(module, names->dunder_all));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return PendingError::fetch();
    PyErr_Clear();
    all = Ref(PyList_New(0));
    if (!all || PyObject_SetAttr(module, names->dunder_all, all.get()) < 0) {
      return PendingError::fetch();
    }
  }
  if (!PyList_Check(all.get())) return type_check_error(all.get(), &PyList_Type);

  Ref name_object(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
  if (!name_object || PyList_Append(all.get(), name_object.get()) < 0) {
    throw panic_from_python_error("could not append __name__ to __all__");
  }
  if (PyObject_SetAttr(module, name_object.get(), value) < 0) return PendingError::fetch();
  return Done{};
}

// The Dict class, with its creation error as the cause of a RuntimeError.
Outcome<PyObject*> dict_class() {
  if (PyTypeObject* type = dict_type()) return reinterpret_cast<PyObject*>(type);
  PyObject* cause = PyErr_GetRaisedException();
  PyErr_SetString(PyExc_RuntimeError, "An error occurred while initializing class Dict");
  PyObject* error = PyErr_GetRaisedException();
  PyException_SetCause(error, cause);
  PyErr_SetRaisedException(error);
  return PendingError::fetch();
}

// The Dict class, PanicException, the interned names and the result template are process-wide
// (process_objects.h); another interpreter using them corrupts its type cache (classes are told
// apart by per-interpreter version tags) or frees memory of an allocator not its own. The slot refuses sub-interpreters that
// check their extensions; legacy ones do not check, so exec refuses them here.
Outcome<Done> refuse_subinterpreter(PyObject* module) {
  if (PyInterpreterState_Get() == PyInterpreterState_Main()) return Done{};
  Ref name(PyModule_GetNameObject(module));
  if (!name) return PendingError::fetch();
  return PendingError::format(PyExc_ImportError,
                              "module %U does not support loading in subinterpreters", name.get());
}

Outcome<Done> exec_module(PyObject* module) {
  if (!PyModule_Check(module)) return type_check_error(module, &PyModule_Type);
  // Before anything process-wide is made.
  if (auto main_only = refuse_subinterpreter(module); !main_only) return main_only;

  Outcome<PyObject*> dict = dict_class();
  if (!dict) return std::move(dict).error();
  if (auto added = add_public(module, "Dict", dict.value()); !added) return added;

  Ref module_name(PyModule_GetNameObject(module));
  if (!module_name) return PendingError::fetch();
  Ref open(PyCMethod_New(&open_definition, module, module_name.get(), nullptr));
  if (!open) return PendingError::fetch();
  module_name = Ref();

  const InternedNames* names = interned_names();
  if (names == nullptr) return PendingError::fetch();
  Ref open_name(PyObject_GetAttr(open.get(), names->dunder_name));
  if (!open_name) return PendingError::fetch();
  if (!PyUnicode_Check(open_name.get())) return type_check_error(open_name.get(), &PyUnicode_Type);
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(open_name.get(), &size);
  if (utf8 == nullptr) return PendingError::fetch();
  if (auto added = add_public(module, {utf8, static_cast<std::size_t>(size)}, open.get()); !added) {
    return added;
  }

  Ref version(PyUnicode_FromString(kVersion));
  if (!version) return PendingError::fetch();
  return add_public(module, "__version__", version.get());
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_slot<exec_module>)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_tagatlas",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace tagatlas::py

PyMODINIT_FUNC PyInit__tagatlas() { return PyModuleDef_Init(&tagatlas::py::module_definition); }
