#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tagatlas {

// The canonical form of a private creator text: split at Unicode White_Space, drop empty pieces,
// join with one U+0020, then apply the full unconditional Unicode uppercase mapping ("ß" becomes
// "SS"). Never fails. Bytes that are not well-formed UTF-8 are copied through unchanged.
std::string canonicalize_creator(std::string_view text);

// The value an index entry stores for a creator: 0 when absent, else 32-bit FNV-1a over the UTF-8
// bytes of the canonical form (so "" gives 0x811C9DC5 and "abc" gives 0x5C842F6B).
std::uint32_t hash_creator(std::optional<std::string_view> creator);
// The same for a creator that is present: hash_creator(text) without the test for absence.
std::uint32_t hash_present_creator(std::string_view creator);

// Whether a scalar value is in the Unicode White_Space set.
bool is_creator_whitespace(char32_t code_point);

}  // namespace tagatlas
