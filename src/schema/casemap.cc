#include "schema/casemap.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace tagatlas {
namespace {

// One character whose uppercase form differs from itself; its mapping is
// kUpperBytes[offset, offset + length).
struct UpperEntry {
  char32_t code_point;
  std::uint16_t offset;
  std::uint8_t length;
};

#include "schema/casemap_table.inc"

constexpr bool entries_in_bounds() {
  for (const UpperEntry& e : kUpperEntries) {
    if (e.length == 0 || e.offset + e.length > sizeof kUpperBytes - 1) return false;
  }
  return true;
}

// The binary search below is only correct on a strictly ascending table, and a bad offset would
// read past the bytes; a regenerated table that broke either would not compile.
static_assert(std::ranges::adjacent_find(kUpperEntries, std::ranges::greater_equal{},
                                         &UpperEntry::code_point) == std::end(kUpperEntries));
static_assert(entries_in_bounds());

}  // namespace

std::string_view uppercase_mapping(char32_t code_point) {
  const auto* it = std::ranges::lower_bound(kUpperEntries, code_point, {}, &UpperEntry::code_point);
  if (it == std::end(kUpperEntries) || it->code_point != code_point) return {};
  return {kUpperBytes + it->offset, it->length};
}

}  // namespace tagatlas
