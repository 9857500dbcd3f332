#pragma once

#include <Python.h>

#include <memory>

#include "lookup/handle.h"
#include "pending_error.h"
#include "ref.h"

namespace tagatlas::py {

// The class Dict, created once per process on first need and kept. Returns nullptr with a Python
// exception set when it cannot be created.
PyTypeObject* dict_type();

// Wraps a freshly opened handle in a new Dict. If the object cannot be allocated the handle
// reference is dropped (closing and unmapping the file) and the allocation's error returned.
Outcome<Ref> new_dict(std::shared_ptr<const TatlDict> handle);

}  // namespace tagatlas::py
