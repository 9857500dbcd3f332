#include "lookup_result.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "process_objects.h"
#include "panic.h"
#include "schema/utf8.h"

namespace tagatlas::py {
namespace {

enum Key { kGroup, kElement, kCreator, kKeyword, kName, kVr, kDescription, kRetired,
           kBlockOffset, kSources, kKeyCount };

constexpr std::array<const char*, kKeyCount> kKeyNames = {
    "group", "element", "creator", "keyword", "name", "vr", "description", "retired",
    "block_offset", "sources"};

}  // namespace

// The keys, made once, and a dict holding them in result order. Copying that dict gives a new
// dict of the right size and order with one allocation for its table, where ten insertions into
// an empty dict would resize it twice; storing the values then only replaces. The template holds
// the values most records have for creator, description and the two flags ("" and False), so a
// value identical to the template's needs no store at all. Kept in process_objects.
struct ResultTemplate {
  std::array<PyObject*, kKeyCount> keys;
  std::array<PyObject*, kKeyCount> values;  // borrowed from the dict
  PyObject* dict;
};

namespace {

const ResultTemplate* make_template() {
  Ref dict(PyDict_New());
  Ref empty(PyUnicode_New(0, 0));
  if (!dict || !empty) return nullptr;
  std::array<PyObject*, kKeyCount> values;
  values.fill(Py_None);
  values[kCreator] = values[kDescription] = empty.get();
  values[kRetired] = values[kBlockOffset] = Py_False;
  std::array<Ref, kKeyCount> keys;
  for (std::size_t i = 0; i < kKeyCount; ++i) {
    keys[i] = Ref(PyUnicode_InternFromString(kKeyNames[i]));
    if (!keys[i] || PyDict_SetItem(dict.get(), keys[i].get(), values[i]) < 0) return nullptr;
  }
  auto* made = new ResultTemplate{{}, values, nullptr};
  for (std::size_t i = 0; i < kKeyCount; ++i) made->keys[i] = keys[i].release();
  made->dict = dict.release();
  return made;
}

// Moves Width bytes through a register and returns them, so the caller tests exactly what it
// stored.
template <std::size_t Width>
std::uint64_t move_bytes(char* out, const char* in) {
  std::uint64_t word = 0;
  std::memcpy(&word, in, Width);
  std::memcpy(out, &word, Width);
  return word;
}

// Copies n bytes and tells whether the copy is all ASCII, testing the words as it stores them,
// a few loads in all for the short texts of a record. Where a second, overlapping load covers the
// tail, the bytes it stores are the ones it tests.
bool copy_ascii(char* out, const char* in, std::size_t n) {
  std::uint64_t seen = 0;
  if (n >= 8) {
    for (std::size_t i = 0; n - i > 8; i += 8) seen |= move_bytes<8>(out + i, in + i);
    seen |= move_bytes<8>(out + n - 8, in + n - 8);
  } else if (n >= 4) {
    seen = move_bytes<4>(out, in) | move_bytes<4>(out + n - 4, in + n - 4);
  } else if (n >= 2) {
    seen = move_bytes<2>(out, in) | move_bytes<2>(out + n - 2, in + n - 2);
  } else if (n == 1) {
    seen = move_bytes<1>(out, in);
  }
  return (seen & 0x8080808080808080u) == 0;
}

// A new str of stored text bytes: the text when they are well-formed UTF-8, else "". Dictionary
// texts are nearly all ASCII, which is copied straight into a new str. The copy is what is tested,
// not the mapped bytes, which another process may rewrite at any moment: a str of the ASCII kind
// must hold nothing else.
Ref new_text(std::string_view bytes) {
  const auto size = static_cast<Py_ssize_t>(bytes.size());
  PyObject* object = PyUnicode_New(size, 0x7F);
  // An empty view may have no data pointer at all; it must not be read.
  if (object != nullptr && size > 0) {
    auto* copy = static_cast<char*>(PyUnicode_DATA(object));
    if (!copy_ascii(copy, bytes.data(), bytes.size())) {
      // Tested and decoded from the copy too: the decoder reads its input more than once.
      PyObject* decoded = is_valid_utf8({copy, bytes.size()}) ? PyUnicode_DecodeUTF8(copy, size, nullptr)
                                                                : PyUnicode_New(0, 0);
      Py_DECREF(object);
      object = decoded;
    }
  }
  if (object == nullptr) throw panic_from_python_error("cannot create a text of the lookup result");
  return Ref(object);
}

Ref new_int(unsigned long value) {
  Ref object(PyLong_FromUnsignedLong(value));
  if (!object) throw panic_from_python_error("cannot create a number of the lookup result");
  return object;
}

Ref new_sources(const SourceList& sources) {
  // Records have a few pieces: they are kept as the one scan finds them, so the list is sized and
  // filled from that same scan. A text with more pieces is scanned again to fill the list.
  constexpr std::size_t kKept = 4;
  std::array<std::string_view, kKept> kept;
  std::size_t found = 0;
  for (const std::string_view piece : sources) {
    if (found < kKept) kept[found] = piece;
    ++found;
  }
  const auto count = static_cast<Py_ssize_t>(found);
  Ref list(PyList_New(count));
  if (!list) throw panic_from_python_error("cannot create the sources list of the lookup result");
  if (found <= kKept) {
    for (std::size_t i = 0; i < found; ++i) {
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_text(kept[i]).release());
    }
    return list;
  }
  Py_ssize_t i = 0;
  for (auto it = sources.begin(); it != sources.end() && i < count; ++it) {
    PyList_SET_ITEM(list.get(), i++, new_text(*it).release());
  }
  // Fewer pieces than counted: the file changed during this lookup. No slot may stay empty.
  if (i < count && PyList_SetSlice(list.get(), i, count, nullptr) < 0) {
    throw panic_from_python_error("cannot shorten the sources list of the lookup result");
  }
  return list;
}

}  // namespace

Outcome<Ref> make_lookup_result(const TagView& view) {
  const ResultTemplate* t = process_objects.result_template.get(make_template);
  if (t == nullptr) throw panic_from_python_error("cannot create the keys of the lookup result");
  Ref dict(PyDict_Copy(t->dict));
  if (!dict) throw panic_from_python_error("cannot create the lookup result");

  const ArchivedTagRecord& record = view.record();
  // Each value is made right before it is stored, so a fault in a later text leaves the earlier
  // values built and the dict is simply released on the way out.
  auto store = [&](Key key, Ref value) {
    return value.get() == t->values[key] ||
           PyDict_SetItem(dict.get(), t->keys[key], value.get()) == 0;
  };
  if (!store(kGroup, new_int(record.group())) || !store(kElement, new_int(record.element())) ||
      !store(kCreator, new_text(view.creator_bytes())) ||
      !store(kKeyword, new_text(view.keyword_bytes())) || !store(kName, new_text(view.name_bytes())) ||
      !store(kVr, new_text(view.vr())) || !store(kDescription, new_text(view.description_bytes())) ||
      !store(kRetired, Ref::borrow(record.retired() ? Py_True : Py_False)) ||
      !store(kBlockOffset, Ref::borrow(record.element_is_block_offset() ? Py_True : Py_False)) ||
      !store(kSources, new_sources(view.sources()))) {
    return PendingError::fetch();
  }
  return dict;
}

}  // namespace tagatlas::py
