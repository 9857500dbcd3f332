#include "schema/creator.h"

#include "schema/casemap.h"
#include "schema/utf8.h"

namespace tagatlas {
namespace {

// Each ASCII byte's canonical form: itself upper-cased, or kAsciiSpace for whitespace. One load
// replaces the comparisons that classify and upper-case the byte.
constexpr unsigned char kAsciiSpace = 0x80;

struct AsciiTable {
  unsigned char canonical[0x80];
  constexpr AsciiTable() : canonical{} {
    for (int b = 0; b < 0x80; ++b) {
      const bool space = b == ' ' || (b >= 0x09 && b <= 0x0D);
      canonical[b] = static_cast<unsigned char>(space ? kAsciiSpace : b >= 'a' && b <= 'z' ? b - ('a' - 'A') : b);
    }
  }
};
constexpr AsciiTable kAscii;

// Receives the canonical form piece by piece, so that hashing never builds the text.
struct StringSink {
  std::string& out;
  void put(char c) { out += c; }
  void put(std::string_view s) { out += s; }
};

struct FnvSink {
  std::uint32_t h = 0x811C9DC5u;
  void put(char c) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x01000193u;
  }
  void put(std::string_view s) {
    for (char c : s) put(c);
  }
};

// Normalises whitespace and upper-cases in one pass. That is the same as doing the two steps one
// after the other because the uppercase mapping is context-free, maps no whitespace character and
// produces none, and never maps a character to nothing (so a non-empty piece stays non-empty).
template <typename Sink>
void canonicalize_into(std::string_view text, Sink& sink) {
  bool separator = false;  // whitespace followed a piece: the next piece needs a separator first
  bool any_piece = false;  // a piece has been written
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto b = static_cast<unsigned char>(text[pos]);
    if (b < 0x80) {
      // Creator texts are almost always ASCII: no decoding and no search for them.
      const unsigned char canonical = kAscii.canonical[b];
      ++pos;
      if (canonical == kAsciiSpace) {
        separator = any_piece;
        continue;
      }
      if (separator) sink.put(' ');
      sink.put(static_cast<char>(canonical));
    } else {
      const Utf8Char c = decode_utf8(text, pos);
      // A byte that starts no well-formed sequence is neither whitespace nor cased: it is copied.
      if (c.valid && is_creator_whitespace(c.code_point)) {
        separator = any_piece;
        pos += c.length;
        continue;
      }
      if (separator) sink.put(' ');
      const std::string_view upper = c.valid ? uppercase_mapping(c.code_point) : std::string_view{};
      sink.put(upper.empty() ? text.substr(pos, c.length) : upper);
      pos += c.length;
    }
    separator = false;
    any_piece = true;
  }
}

}  // namespace

bool is_creator_whitespace(char32_t cp) {
  switch (cp) {
    case 0x0009: case 0x000A: case 0x000B: case 0x000C: case 0x000D:
    case 0x0020: case 0x0085: case 0x00A0: case 0x1680:
    case 0x2000: case 0x2001: case 0x2002: case 0x2003: case 0x2004: case 0x2005:
    case 0x2006: case 0x2007: case 0x2008: case 0x2009: case 0x200A:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return false;
  }
}

std::string canonicalize_creator(std::string_view text) {
  std::string out;
  // Upper-casing rarely grows a text and trimming only shrinks it: one allocation in practice.
  out.reserve(text.size());
  StringSink sink{out};
  canonicalize_into(text, sink);
  return out;
}

std::uint32_t hash_creator(std::optional<std::string_view> creator) {
  return creator ? hash_present_creator(*creator) : 0;
}

std::uint32_t hash_present_creator(std::string_view creator) {
  FnvSink sink;
  canonicalize_into(creator, sink);
  return sink.h;
}

}  // namespace tagatlas
