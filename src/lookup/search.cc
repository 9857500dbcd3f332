#include "lookup/search.h"

#include <string>

#include "lookup/fault.h"
#include "lookup/handle.h"
#include "schema/creator.h"

namespace tagatlas {
namespace {

// Packs (group, element, hash) so one unsigned comparison orders keys as the index is sorted.
std::uint64_t packed(std::uint16_t group, std::uint16_t element, std::uint32_t hash) {
  return (std::uint64_t{group} << 48) | (std::uint64_t{element} << 32) | hash;
}

std::uint64_t packed(const ArchivedIndexEntry& e) {
  return packed(e.group(), e.element(), e.creator_hash());
}

}  // namespace

std::optional<TagView> find_tag(const ResolvedRoot& root, std::uint16_t group, std::uint16_t element,
                                std::uint32_t creator_hash) {
  const std::uint64_t key = packed(group, element, creator_hash);
  const IndexArray index = root.index();
  std::size_t size = index.size();
  if (size == 0) return std::nullopt;

  // Lands on the last entry not greater than the key, so among equal entries the last one wins.
  // The iteration count depends only on the index size, not on the key.
  std::size_t base = 0;
  while (size > 1) {
    const std::size_t half = size / 2;
    const std::size_t mid = base + half;
    base = packed(index[mid]) > key ? base : mid;
    size -= half;
  }
  const ArchivedIndexEntry entry = index[base];
  if (packed(entry) != key) return std::nullopt;

  const RecordArray records = root.records();
  const std::uint32_t r = entry.record_index();
  if (r >= records.size()) {
    throw Fault("index out of bounds: the len is " + std::to_string(records.size()) +
                " but the index is " + std::to_string(r));
  }
  return TagView(records[r], root.strings());
}

std::optional<TagView> TatlDict::lookup(std::uint16_t group, std::uint16_t element,
                                        std::optional<std::string_view> creator) const {
  // hash_creator streams the canonical form into the hash, so no text outlives this line.
  const std::uint32_t hash = hash_creator(creator);
  // Index entries without a creator hold 0, so a creator whose canonical form hashes to 0 would
  // find them; such a creator cannot be told apart from none and finds nothing.
  if (creator && hash == 0) return std::nullopt;
  return find_tag(root_, group, element, hash);
}

}  // namespace tagatlas
