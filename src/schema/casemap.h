#pragma once

#include <string_view>

namespace tagatlas {

// The full, unconditional Unicode uppercase mapping of one scalar value, as UTF-8 (one to three
// characters, e.g. U+00DF -> "SS"). Empty when the character maps to itself.
std::string_view uppercase_mapping(char32_t code_point);

}  // namespace tagatlas
