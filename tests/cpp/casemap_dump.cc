// Prints the uppercase table for every scalar value, one line each: the code point, then the
// code points of its mapping (nothing when it maps to itself), all in upper-case hex. The check
// script compares this against an independent implementation.
#include <cstdio>
#include <string_view>

#include "schema/casemap.h"
#include "schema/utf8.h"

int main() {
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::printf("%04X", static_cast<unsigned>(cp));
    const std::string_view upper = tagatlas::uppercase_mapping(cp);
    for (std::size_t pos = 0; pos < upper.size();) {
      const tagatlas::Utf8Char c = tagatlas::decode_utf8(upper, pos);
      // A malformed byte is printed as such so that the comparison fails on it.
      if (c.valid) {
        std::printf(" %04X", static_cast<unsigned>(c.code_point));
      } else {
        std::printf(" BAD%02X", static_cast<unsigned>(c.code_point));
      }
      pos += c.length;
    }
    std::putchar('\n');
  }
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
