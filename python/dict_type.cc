#include "dict_type.h"

#include <cstdint>
#include <new>
#include <optional>
#include <string_view>

#include "argbind.h"
#include "entry.h"
#include "lookup_result.h"
#include "process_objects.h"
#include "typecheck.h"

namespace tagatlas::py {
namespace {

// An instance: the object header and one shared reference to the opened dictionary, set at
// creation and released only by deallocation.
struct PyTatlDict {
  PyObject_HEAD
  std::shared_ptr<const TatlDict> handle;
};

const TatlDict& handle_of(PyObject* self) { return *reinterpret_cast<PyTatlDict*>(self)->handle; }

constexpr const char* kLookupParameters[] = {"group", "element", "creator"};
constexpr ParameterDescription kLookup{"lookup", "Dict", kLookupParameters, 0, 2, {}};

constexpr const char* kExitParameters[] = {"_exc_type", "_exc", "_tb"};
constexpr ParameterDescription kExit{"__exit__", "Dict", kExitParameters, 0, 0, {}};

// group and element: any int (or __index__ object) in 0..65535.
Outcome<std::uint16_t> to_u16(PyObject* value) {
  const long number = PyLong_AsLong(value);
  if (number == -1 && PyErr_Occurred()) return PendingError::fetch();
  if (number < 0 || number > 0xFFFF) {
    return PendingError::format(PyExc_OverflowError,
                                "out of range integral type conversion attempted");
  }
  return static_cast<std::uint16_t>(number);
}

// None (or absent) for no creator, else the UTF-8 text of a str; the text stays valid while the
// argument does, which outlives the call.
Outcome<std::optional<std::string_view>> to_creator(PyObject* value) {
  if (value == nullptr || value == Py_None) return std::optional<std::string_view>();
  if (!PyUnicode_Check(value)) return type_check_error(value, &PyUnicode_Type);
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
  if (utf8 == nullptr) return PendingError::fetch();
  return std::optional<std::string_view>(std::in_place, utf8, static_cast<std::size_t>(size));
}

Outcome<Ref> lookup(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* arguments[3];
  if (!bind_positional(kLookup, args, nargs, kwnames, arguments)) {
    if (auto bound = bind_arguments(kLookup, args, nargs, kwnames, arguments); !bound) {
      return std::move(bound).error();
    }
  }
  auto group = to_u16(arguments[0]);
  if (!group) return std::move(group).error().with_note("group");
  auto element = to_u16(arguments[1]);
  if (!element) return std::move(element).error().with_note("element");
  auto creator = to_creator(arguments[2]);
  if (!creator) return std::move(creator).error().with_note("creator");

  // One lookup among the interpreter's own work: the branch predictor cannot learn the search's
  // paths between calls, so the search selects instead of branching.
  const std::optional<TagView> view = handle_of(self).lookup(group.value(), element.value(),
                                                             creator.value(), SearchSteps::Select);
  if (!view) return Ref::borrow(Py_None);
  return make_lookup_result(*view);
}

Outcome<Ref> enter_context(PyObject* self) { return Ref::borrow(self); }

Outcome<Ref> exit_context(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* arguments[3];
  if (auto bound = bind_arguments(kExit, args, nargs, kwnames, arguments); !bound) {
    return std::move(bound).error();
  }
  return Ref::borrow(Py_False);
}

Outcome<Py_ssize_t> length(PyObject* self) {
  // The index count is a u32, so it always fits.
  return static_cast<Py_ssize_t>(handle_of(self).len());
}

Outcome<Ref> repr(PyObject* self) {
  Ref text(PyUnicode_FromFormat("<tagatlas.Dict len=%zu>", handle_of(self).len()));
  if (!text) throw panic_from_python_error("cannot create the repr of a Dict");
  return text;
}

void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  // The last reference closes the descriptor and unmaps the file.
  reinterpret_cast<PyTatlDict*>(self)->handle.~shared_ptr();
  type->tp_free(self);
  Py_DECREF(type);
}

template <class F>
PyCFunction as_cfunction(F function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef methods[] = {
    {"lookup", as_cfunction(fast_call<lookup>), METH_FASTCALL | METH_KEYWORDS,
     "lookup($self, group, element, creator=None)\n--\n\n"
     "Look up a tag. Returns a dict or `None`.\n\n"
     "`element` is the low byte for private tags (the \"xx\" form)."},
    {"__enter__", as_cfunction(no_args<enter_context>), METH_NOARGS,
     "__enter__($self)\n--\n\nContext-manager support (no-op - mmap is released on drop)."},
    {"__exit__", as_cfunction(fast_call<exit_context>), METH_FASTCALL | METH_KEYWORDS,
     "__exit__($self, _exc_type=None, _exc=None, _tb=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot type_slots[] = {
    {Py_tp_doc, const_cast<char*>("Opaque handle holding an mmap'd dictionary.")},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_slot<dealloc>)},
    {Py_tp_methods, methods},
    {Py_mp_length, reinterpret_cast<void*>(length_slot<length>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr_slot<repr>)},
    {0, nullptr},
};

// No BASETYPE (not subclassable), no HAVE_GC (an instance refers to no Python object, so it can
// be in no cycle), no IMMUTABLETYPE.
PyType_Spec type_definition = {
    "tagatlas._tagatlas.Dict",
    sizeof(PyTatlDict),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    type_slots,
};

}  // namespace

PyTypeObject* dict_type() {
  return process_objects.dict_type.get(
      [] { return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_definition)); });
}

Outcome<Ref> new_dict(std::shared_ptr<const TatlDict> handle) {
  PyTypeObject* type = dict_type();
  if (type == nullptr) return PendingError::fetch();
  Ref object(type->tp_alloc(type, 0));
  if (!object) return PendingError::fetch();  // handle is released on return
  auto* instance = reinterpret_cast<PyTatlDict*>(object.get());
  new (&instance->handle) std::shared_ptr<const TatlDict>(std::move(handle));
  return object;
}

}  // namespace tagatlas::py
