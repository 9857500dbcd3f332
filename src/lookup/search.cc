#include "lookup/search.h"

#include <bit>
#include <string>

#include "lookup/fault.h"
#include "lookup/handle.h"
#include "schema/constants.h"
#include "schema/creator.h"

namespace tagatlas {
namespace {

// Packs (group, element, hash) so one unsigned comparison orders keys as the index is sorted.
std::uint64_t packed(std::uint16_t group, std::uint16_t element, std::uint32_t hash) {
  return (std::uint64_t{group} << 48) | (std::uint64_t{element} << 32) | hash;
}

// The packed key of the index entry at p, from two 32-bit loads: the hash at offset 0, and group
// and element at offset 8, which read as element << 16 | group and are rotated into order.
std::uint64_t key_at(const unsigned char* p) {
  const std::uint32_t group_element =
      std::rotl(load_u32(p + offsetof(layout::IndexEntry, group)), 16);
  return (std::uint64_t{group_element} << 32) | load_u32(p + offsetof(layout::IndexEntry, creator_hash));
}

// Out of line and cold: building the message would otherwise cost every lookup a large stack
// frame and saved registers.
[[noreturn, gnu::cold, gnu::noinline]] void throw_record_index_fault(std::uint32_t count,
                                                                    std::uint32_t index) {
  throw Fault("index out of bounds: the len is " + std::to_string(count) + " but the index is " +
              std::to_string(index));
}

// The index entry the search lands on: the last one not greater than the key, so among equal
// entries the last one wins. `size` entries from `base`, at least one. The iteration count
// depends only on the size, not on the key. The position is kept as a byte pointer, so each step
// is one addition before its loads.
template <SearchSteps Steps>
const unsigned char* last_not_greater(const unsigned char* base, std::size_t size, std::uint64_t key) {
  while (size > 1) {
    const std::size_t half = size / 2;
    const unsigned char* mid = base + half * kIndexEntrySize;
    if constexpr (Steps == SearchSteps::Branch) {
      if (key_at(mid) <= key) base = mid;
      // Keeps the compiler from turning the branch into a select.
      asm("" : "+r"(base));
    } else {
      base = key_at(mid) > key ? base : mid;
    }
    size -= half;
  }
  return base;
}

}  // namespace

std::optional<TagView> find_tag(const ResolvedRoot& root, std::uint16_t group, std::uint16_t element,
                                std::uint32_t creator_hash, SearchSteps steps) {
  const std::uint64_t key = packed(group, element, creator_hash);
  const IndexArray index = root.index();
  if (index.size() == 0) return std::nullopt;
  const unsigned char* entry =
      steps == SearchSteps::Branch
          ? last_not_greater<SearchSteps::Branch>(index.data(), index.size(), key)
          : last_not_greater<SearchSteps::Select>(index.data(), index.size(), key);
  if (key_at(entry) != key) return std::nullopt;

  const RecordArray records = root.records();
  const std::uint32_t r = ArchivedIndexEntry(entry).record_index();
  if (r >= records.size()) throw_record_index_fault(records.size(), r);
  return TagView(records[r], root.strings());
}

std::optional<TagView> TatlDict::lookup(std::uint16_t group, std::uint16_t element,
                                        std::optional<std::string_view> creator,
                                        SearchSteps steps) const {
  if (!creator) return find_tag(root_, group, element, 0, steps);
  // hash_creator streams the canonical form into the hash, so no text outlives this line.
  const std::uint32_t hash = hash_present_creator(*creator);
  // Index entries without a creator hold 0, so a creator whose canonical form hashes to 0 would
  // find them; such a creator cannot be told apart from none and finds nothing.
  if (hash == 0) return std::nullopt;
  return find_tag(root_, group, element, hash, steps);
}

}  // namespace tagatlas
