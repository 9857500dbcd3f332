#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tagatlas {

// True when the bytes are well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing
// above U+10FFFF, no truncated sequence.
bool is_valid_utf8(std::string_view bytes);

// One decoded scalar value and the number of bytes it took. A byte that does not start a
// well-formed sequence decodes as itself with length 1 and valid == false.
struct Utf8Char {
  char32_t code_point;
  std::size_t length;
  bool valid;
};

// Precondition: pos < bytes.size().
Utf8Char decode_utf8(std::string_view bytes, std::size_t pos);

// Appends the UTF-8 encoding of a scalar value.
void append_utf8(std::string& out, char32_t code_point);

}  // namespace tagatlas
