#pragma once

#include <Python.h>

#include <cstddef>
#include <span>

#include "pending_error.h"

namespace tagatlas::py {

struct KeywordOnlyParameter {
  const char* name;
  bool required;
};

// How an entry point's parameters are bound. One static description per entry point that takes
// arguments.
struct ParameterDescription {
  const char* function_name;                     // as the caller sees it: "open", "lookup"
  const char* class_name;                        // "Dict" for a method, nullptr for a function
  std::span<const char* const> positional;       // may be passed by position or by keyword
  std::size_t positional_only;                   // leading positional ones not passable by keyword
  std::size_t required;                          // leading positional ones that must be given
  std::span<const KeywordOnlyParameter> keyword_only;

  std::size_t slot_count() const { return positional.size() + keyword_only.size(); }
};

// Binds a vectorcall's arguments (positional values, then the values of kwnames, all in args) to
// the described parameters. slots must hold slot_count() entries: the positional parameters in
// order, then the keyword-only ones; each ends up holding a borrowed argument or nullptr.
// Fails with the TypeError that names the first problem, before anything has been converted.
Outcome<Done> bind_arguments(const ParameterDescription& description, PyObject* const* args,
                             Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> slots);

}  // namespace tagatlas::py
