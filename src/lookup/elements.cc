#include "lookup/elements.h"

#include "schema/creator.h"

namespace tagatlas {
namespace {

// Whether a stored creator text and an asked one are the same creator to a lookup.
bool same_creator(std::string_view stored, std::string_view asked) {
  return stored == asked || canonicalize_creator(stored) == canonicalize_creator(asked);
}

std::optional<TagView> checked(std::optional<TagView> view,
                               std::optional<std::string_view> creator) {
  if (!view || !creator || same_creator(view->creator(), *creator)) return view;
  return std::nullopt;
}

bool tries_block_form(std::uint16_t group, std::uint16_t element,
                      std::optional<std::string_view> creator) {
  return element > 0xFF && (creator.has_value() || group % 2 == 1);
}

}  // namespace

std::optional<FoundElement> find_element(const TatlDict& dict, std::uint16_t group,
                                         std::uint16_t element,
                                         std::optional<std::string_view> creator) {
  if (auto full = checked(dict.lookup(group, element, creator), creator)) {
    return FoundElement{*full, full->record().element_is_block_offset()};
  }
  if (!tries_block_form(group, element, creator)) return std::nullopt;
  const auto low_byte = static_cast<std::uint16_t>(element & 0xFF);
  auto block = checked(dict.lookup(group, low_byte, creator), creator);
  if (block && block->record().element_is_block_offset()) return FoundElement{*block, true};
  return std::nullopt;
}

}  // namespace tagatlas
