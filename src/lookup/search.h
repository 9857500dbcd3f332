#pragma once

#include <cstdint>
#include <optional>

#include "lookup/view.h"
#include "schema/records.h"

namespace tagatlas {

// Binary search of a validated root's index for the last entry equal to (group, element,
// creator_hash). Returns a view of its record, or nullopt on a miss. Throws Fault when that entry
// names a record beyond the records array. Reads only the index entries it compares and the one
// record it returns; the arrays' positions and counts come from `root`, never from the file.
std::optional<TagView> find_tag(const ResolvedRoot& root, std::uint16_t group, std::uint16_t element,
                                std::uint32_t creator_hash);

}  // namespace tagatlas
