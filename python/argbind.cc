#include "argbind.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tagatlas::py {
namespace {

// "Dict.lookup()" or "open()".
std::string full_name(const ParameterDescription& d) {
  std::string name;
  if (d.class_name != nullptr) name.append(d.class_name).append(".");
  return name.append(d.function_name).append("()");
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string quoted_list(const std::vector<const char*>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() >= 3) out += ',';
      out += i + 1 == names.size() ? " and " : " ";
    }
    out.append("'").append(names[i]).append("'");
  }
  return out;
}

PendingError too_many_positional(const ParameterDescription& d, Py_ssize_t given) {
  const std::string name = full_name(d);
  const char* was = given == 1 ? "was" : "were";
  if (d.required == d.positional.size()) {
    return PendingError::format(PyExc_TypeError,
                                "%s takes %zu positional arguments but %zd %s given", name.c_str(),
                                d.positional.size(), given, was);
  }
  return PendingError::format(PyExc_TypeError,
                              "%s takes from %zu to %zu positional arguments but %zd %s given",
                              name.c_str(), d.required, d.positional.size(), given, was);
}

PendingError missing(const ParameterDescription& d, const char* kind,
                     const std::vector<const char*>& names) {
  return PendingError::format(PyExc_TypeError, "%s missing %zu required %s %s: %s",
                              full_name(d).c_str(), names.size(), kind,
                              names.size() == 1 ? "argument" : "arguments",
                              quoted_list(names).c_str());
}

PendingError unexpected_keyword(const ParameterDescription& d, PyObject* keyword) {
  // The keyword as the caller spelled it, which need not be valid UTF-8 (a lone surrogate).
  Ref text(PyObject_Str(keyword));
  if (!text) return PendingError::fetch();
  return PendingError::format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
                              full_name(d).c_str(), text.get());
}

// The slot a keyword names: keyword-only parameters first, then positional ones, each in order;
// nullopt when it names none (also when it cannot be read as UTF-8).
std::optional<std::size_t> match_keyword(const ParameterDescription& d, PyObject* keyword) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
  if (utf8 == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  const std::string_view text(utf8, static_cast<std::size_t>(size));
  for (std::size_t k = 0; k < d.keyword_only.size(); ++k) {
    if (text == d.keyword_only[k].name) return d.positional.size() + k;
  }
  for (std::size_t i = 0; i < d.positional.size(); ++i) {
    if (text == d.positional[i]) return i;
  }
  return std::nullopt;
}

}  // namespace

Outcome<Done> bind_arguments(const ParameterDescription& d, PyObject* const* args,
                             Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> slots) {
  const std::size_t positional_count = d.positional.size();
  const auto given = static_cast<std::size_t>(nargs);
  for (PyObject*& slot : slots) slot = nullptr;
  for (std::size_t i = 0; i < given && i < positional_count; ++i) slots[i] = args[i];
  if (given > positional_count) return too_many_positional(d, nargs);

  std::vector<const char*> positional_only_by_keyword;
  const Py_ssize_t keyword_count = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t j = 0; j < keyword_count; ++j) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, j);
    const std::optional<std::size_t> slot = match_keyword(d, keyword);
    if (!slot) return unexpected_keyword(d, keyword);
    const char* parameter = *slot < positional_count
                                ? d.positional[*slot]
                                : d.keyword_only[*slot - positional_count].name;
    if (slots[*slot] != nullptr) {
      return PendingError::format(PyExc_TypeError, "%s got multiple values for argument '%s'",
                                  full_name(d).c_str(), parameter);
    }
    if (*slot < d.positional_only) {
      positional_only_by_keyword.push_back(parameter);
      continue;
    }
    slots[*slot] = args[nargs + j];
  }
  if (!positional_only_by_keyword.empty()) {
    return PendingError::format(
        PyExc_TypeError, "%s got some positional-only arguments passed as keyword arguments: %s",
        full_name(d).c_str(), quoted_list(positional_only_by_keyword).c_str());
  }

  std::vector<const char*> absent;
  for (std::size_t i = given; i < d.required; ++i) {
    if (slots[i] == nullptr) absent.push_back(d.positional[i]);
  }
  if (!absent.empty()) return missing(d, "positional", absent);
  for (std::size_t k = 0; k < d.keyword_only.size(); ++k) {
    if (d.keyword_only[k].required && slots[positional_count + k] == nullptr) {
      absent.push_back(d.keyword_only[k].name);
    }
  }
  if (!absent.empty()) return missing(d, "keyword", absent);
  return Done{};
}

}  // namespace tagatlas::py
