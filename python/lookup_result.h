#pragma once

#include <Python.h>

#include "lookup/view.h"
#include "pending_error.h"
#include "ref.h"

namespace tagatlas::py {

// The dict that Dict.lookup returns for a found record: the keys "group", "element", "creator",
// "keyword", "name", "vr", "description", "retired", "block_offset", "sources", in this order,
// every value new and read from the view just before it is stored.
//
// Throws (tagatlas::Fault from the view, Panic here) when a text reaches beyond the pool or the
// interpreter cannot create an object; returns the error of a failed insertion. The partly built
// dict is released in both cases.
Outcome<Ref> make_lookup_result(const TagView& view);

}  // namespace tagatlas::py
