#pragma once

#include <Python.h>

#include "once.h"

namespace tagatlas::py {

struct InternedNames;
struct ResultTemplate;

// Every object the extension shares across the process, each made on first need by the file
// named beside it and kept until the process ends. Nothing else in the extension is global.
//
// Sharing them is safe because:
// - Each is created once, under its Once's mutex, and published with a release store, so every
//   thread sees it whole or not at all (also without a GIL: the module declares
//   Py_MOD_GIL_NOT_USED).
// - None is ever freed: the cell keeps its reference for the life of the process, so no thread can
//   hold one that another releases.
// - None is changed by the extension after creation: the result template is only copied, the
//   interned names are only passed as attribute names, and the two classes are changed only as
//   Python code may change any class, under the interpreter's own locking.
// - They belong to the main interpreter's allocator and type cache, and only that interpreter
//   uses them: the module refuses to load in sub-interpreters (see refuse_subinterpreter in
//   module.cc). A module object made again in the main interpreter (importlib.reload) reuses
//   them, which is sound since the module itself keeps no state.
//
// The cells are constant-initialized (an atomic null pointer and an unlocked mutex), so no order
// of static initialization can expose one before it is ready.
struct ProcessObjects {
  Once<PyTypeObject> dict_type;                 // the class Dict (dict_type.cc)
  Once<PyObject> panic_class;                   // the class PanicException (panic.cc)
  Once<const InternedNames> interned_names;     // attribute names looked up (interned.cc)
  Once<const ResultTemplate> result_template;   // keys and shape of a lookup result (lookup_result.cc)
};

extern ProcessObjects process_objects;

}  // namespace tagatlas::py
