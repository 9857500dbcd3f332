#pragma once

#include <cstdint>
#include <optional>

#include "view.h"
#include "../schema/records.h"

namespace tagatlas {

// How a search moves from one step to the next. Both make the same comparisons and give the same
// result for every index, sorted or not, and every key; they differ only in speed.
enum class SearchSteps {
  // Each step is a branch. Fastest when keys recur in the same order (the tags of a series of
  // similar files, a loop of lookups): the branch predictor learns their paths and the processor
  // loads the entries of many steps at once. A key in no learnt order mispredicts about every
  // other step.
  Branch,
  // Each step selects the next position without a branch, so nothing is mispredicted, but every
  // load waits for the one before. Fastest for keys in no order the predictor can learn, such as
  // one lookup among much other work (a call from Python).
  Select,
};

// Binary search of a validated root's index for the last entry equal to (group, element,
// creator_hash). Returns a view of its record, or nullopt on a miss. Throws Fault when that entry
// names a record beyond the records array. Reads only the index entries it compares and the one
// record it returns; the arrays' positions and counts come from `root`, never from the file.
std::optional<TagView> find_tag(const ResolvedRoot& root, std::uint16_t group, std::uint16_t element,
                                std::uint32_t creator_hash, SearchSteps steps = SearchSteps::Branch);

}  // namespace tagatlas
