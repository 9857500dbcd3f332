#include "schema/utf8.h"

namespace tagatlas {
namespace {

// Number of bytes announced by a lead byte and the allowed range of the byte after it; the
// narrowed second-byte ranges are what exclude overlong forms, surrogates and values past
// U+10FFFF (the table of RFC 3629, section 4).
struct Lead {
  std::size_t length;
  unsigned char second_lo;
  unsigned char second_hi;
};

Lead classify(unsigned char b) {
  if (b < 0x80) return {1, 0, 0};
  if (b < 0xC2) return {0, 0, 0};  // continuation byte or overlong two-byte lead
  if (b < 0xE0) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b < 0xF0) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b < 0xF4) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

Utf8Char decode_utf8(std::string_view bytes, std::size_t pos) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char b = s[pos];
  const Lead lead = classify(b);
  const Utf8Char invalid{b, 1, false};
  if (lead.length == 1) return {b, 1, true};
  if (lead.length == 0 || bytes.size() - pos < lead.length) return invalid;
  const unsigned char second = s[pos + 1];
  if (second < lead.second_lo || second > lead.second_hi) return invalid;
  char32_t cp = b & (0x7F >> lead.length);
  for (std::size_t i = 1; i < lead.length; ++i) {
    if (!is_continuation(s[pos + i])) return invalid;
    cp = (cp << 6) | (s[pos + i] & 0x3F);
  }
  return {cp, lead.length, true};
}

bool is_valid_utf8(std::string_view bytes) {
  std::size_t pos = 0;
  // ASCII runs dominate dictionary texts; skip them eight bytes at a time, without decoding.
  while ((pos += ascii_prefix(bytes.substr(pos))) < bytes.size()) {
    const Utf8Char c = decode_utf8(bytes, pos);
    if (!c.valid) return false;
    pos += c.length;
  }
  return true;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace tagatlas
