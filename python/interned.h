#pragma once

#include <Python.h>

namespace tagatlas::py {

// Names the module looks attributes and methods up by, interned once per process and kept.
struct InternedNames {
  PyObject* dunder_all;   // "__all__"
  PyObject* dunder_name;  // "__name__"
  PyObject* add_note;     // "add_note"
};

// The names, created on first need. Returns nullptr with a Python exception set when they cannot
// be created.
const InternedNames* interned_names();

}  // namespace tagatlas::py
