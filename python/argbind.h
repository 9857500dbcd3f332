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

// The common call in full: only positional arguments, at least the required ones and at most the
// positional parameters, and no required keyword-only parameter. Fills the slots as
// bind_arguments would and returns true; returns false, touching nothing, for any other call,
// which bind_arguments must then bind. Inline, as it is a few tests on the hot path of a lookup.
inline bool bind_positional(const ParameterDescription& d, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, std::span<PyObject*> slots) {
  const auto given = static_cast<std::size_t>(nargs);
  if (kwnames != nullptr || given < d.required || given > d.positional.size()) return false;
  for (const KeywordOnlyParameter& k : d.keyword_only) {
    if (k.required) return false;
  }
  for (std::size_t i = 0; i < slots.size(); ++i) slots[i] = i < given ? args[i] : nullptr;
  return true;
}

// Binds a vectorcall's arguments (positional values, then the values of kwnames, all in args) to
// the described parameters. slots must hold slot_count() entries: the positional parameters in
// order, then the keyword-only ones; each ends up holding a borrowed argument or nullptr.
// Fails with the TypeError that names the first problem, before anything has been converted.
Outcome<Done> bind_arguments(const ParameterDescription& description, PyObject* const* args,
                             Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> slots);

}  // namespace tagatlas::py
