#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tagatlas {

namespace utf8_detail {

// The high bit of every byte of a Width-byte little-endian load at p.
template <std::size_t Width>
std::uint64_t high_bits(const char* p) {
  std::uint64_t word = 0;
  std::memcpy(&word, p, Width);
  return word & 0x8080808080808080u;
}

// Position of the first byte whose high bit is set in `high`, a nonzero result of high_bits.
inline std::size_t first_high(std::uint64_t high) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<std::size_t>(std::countr_zero(high)) / 8;
  } else {
    return static_cast<std::size_t>(std::countl_zero(high)) / 8;
  }
}

// ascii_prefix of Width to 2 * Width bytes: the first Width bytes, then the last Width, which
// overlap them. A high bit in the second load belongs to a byte the first did not cover.
template <std::size_t Width>
std::size_t ascii_prefix_short(const char* p, std::size_t size) {
  if (const std::uint64_t high = high_bits<Width>(p)) return first_high(high);
  const std::uint64_t high = high_bits<Width>(p + size - Width);
  return high ? size - Width + first_high(high) : size;
}

}  // namespace utf8_detail

// Length of the leading run of ASCII bytes (below 0x80): the position of the first other byte, or
// the size when there is none. Tests eight bytes at a time and reads nothing past the end: the
// last test overlaps the one before it.
inline std::size_t ascii_prefix(std::string_view bytes) {
  using namespace utf8_detail;
  const char* p = bytes.data();
  const std::size_t size = bytes.size();
  if (size >= 8) {
    std::size_t n = 0;
    for (; size - n > 8; n += 8) {
      if (const std::uint64_t high = high_bits<8>(p + n)) return n + first_high(high);
    }
    // The bytes before n are ASCII, so a high bit in the last eight belongs to a byte at or after n.
    const std::uint64_t high = high_bits<8>(p + size - 8);
    return high ? size - 8 + first_high(high) : size;
  }
  if (size >= 4) return ascii_prefix_short<4>(p, size);
  if (size >= 2) return ascii_prefix_short<2>(p, size);
  return size == 1 && static_cast<unsigned char>(p[0]) < 0x80 ? 1 : 0;
}

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
