#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "handle.h"
#include "view.h"

namespace tagatlas {

// A dictionary entry found for a data element, and whether it is a block-offset entry: one stored
// as (gggg,xxee) by its offset in a private block rather than under a full element number.
struct FoundElement {
  TagView view;
  bool block_form;
};

// The entry for data element (group, element) as a DICOM file carries it, with the creator named
// by the item's creator element (gggg,00xx) for a private element, or nullopt.
//
// Without a creator only entries without one are found. The full element is tried first. For an
// element above 0xFF of a private (odd) group, or of any group when a creator is given, its low
// byte is tried next, and only a block-offset entry is accepted there: a stored element at or
// below 0xFF that is not a block offset is another element, one of the creator slots
// (gggg,0010-00FF). An entry is accepted only when its stored creator has the asked creator's
// canonical form (canonicalize_creator), since a different creator can share the 32-bit hash
// that lookup() compares.
//
// Throws Fault as TatlDict::lookup and TagView::creator do.
std::optional<FoundElement> find_element(const TatlDict& dict, std::uint16_t group,
                                         std::uint16_t element,
                                         std::optional<std::string_view> creator);

}  // namespace tagatlas
