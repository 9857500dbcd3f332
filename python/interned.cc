#include "interned.h"

#include "process_objects.h"
#include "ref.h"

namespace tagatlas::py {
const InternedNames* interned_names() {
  return process_objects.interned_names.get([]() -> const InternedNames* {
    Ref all(PyUnicode_InternFromString("__all__"));
    Ref name(PyUnicode_InternFromString("__name__"));
    Ref add_note(PyUnicode_InternFromString("add_note"));
    if (!all || !name || !add_note) return nullptr;
    // Kept for the life of the process, like the strings it holds.
    return new InternedNames{all.release(), name.release(), add_note.release()};
  });
}

}  // namespace tagatlas::py
