#include "typecheck.h"

namespace tagatlas::py {
namespace {

Ref qualified_name(PyTypeObject* type) {
  Ref name(PyType_GetQualName(type));
  if (!name) {
    PyErr_Clear();
    name = Ref(PyUnicode_FromString("<failed to extract type name>"));
  }
  return name;
}

}  // namespace

PendingError type_check_error(PyObject* object, PyTypeObject* expected) {
  Ref expected_name(PyType_GetQualName(expected));
  if (!expected_name) return PendingError::fetch();
  if (object == Py_None) {
    return PendingError::format(PyExc_TypeError, "'None' is not an instance of '%U'",
                                expected_name.get());
  }
  Ref type_name = qualified_name(Py_TYPE(object));
  if (!type_name) return PendingError::fetch();
  return PendingError::format(PyExc_TypeError, "'%U' object is not an instance of '%U'",
                              type_name.get(), expected_name.get());
}

}  // namespace tagatlas::py
