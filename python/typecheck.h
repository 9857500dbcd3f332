#pragma once

#include <Python.h>

#include "pending_error.h"

namespace tagatlas::py {

// The TypeError for an object that is not an instance of the type an entry point requires:
// "'{type}' object is not an instance of '{expected}'", or "'None' is not an instance of
// '{expected}'" for None. Both names are qualified names; a type whose name cannot be read is
// written "<failed to extract type name>".
PendingError type_check_error(PyObject* object, PyTypeObject* expected);

}  // namespace tagatlas::py
