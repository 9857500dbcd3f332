#pragma once

#include <Python.h>

namespace tagatlas::py {

// The method definition of the module function open(path); the exec step turns it into a
// function object.
extern PyMethodDef open_definition;

}  // namespace tagatlas::py
