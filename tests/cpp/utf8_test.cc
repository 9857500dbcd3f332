#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <ostream>
#include <string>

#include "schema/utf8.h"

namespace tagatlas {
namespace {

struct Case {
  const char* what;
  std::string bytes;
  bool valid;
};

// Failure messages and test names say what the case is, not its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  for (const char* p = info.param.what; *p != '\0'; ++p) {
    if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
    else if (*p == ' ' || *p == '-') name += '_';
  }
  return name;
}

class Utf8Validity : public ::testing::TestWithParam<Case> {};

TEST_P(Utf8Validity, FollowsRfc3629) {
  EXPECT_EQ(is_valid_utf8(GetParam().bytes), GetParam().valid) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Validity,
    ::testing::Values(Case{"empty", "", true}, Case{"ascii", "PatientName", true},
                      Case{"nul is a character", std::string("a\0b", 3), true},
                      Case{"two bytes", "\xC3\x9F", true}, Case{"three bytes", "\xE2\x80\x94", true},
                      Case{"four bytes", "\xF0\x9F\x98\x80", true}, Case{"last scalar", "\xF4\x8F\xBF\xBF", true},
                      Case{"before surrogates", "\xED\x9F\xBF", true}, Case{"after surrogates", "\xEE\x80\x80", true},
                      Case{"lone continuation", "\x80", false}, Case{"overlong slash", "\xC0\xAF", false},
                      Case{"overlong two-byte lead", "\xC1\xBF", false},
                      Case{"overlong three bytes", "\xE0\x80\xAF", false},
                      Case{"overlong four bytes", "\xF0\x80\x80\xAF", false},
                      Case{"surrogate", "\xED\xA0\x80", false}, Case{"above U+10FFFF", "\xF4\x90\x80\x80", false},
                      Case{"lead F5", "\xF5\x80\x80\x80", false}, Case{"byte FF", "\xFF", false},
                      Case{"truncated at end", "ab\xE2\x80", false},
                      Case{"continuation missing mid-text", "\xE2\x80" "a", false},
                      Case{"valid then invalid", "\xC3\x9F\xC3", false}),
    case_name);

TEST(Utf8, DecodeReportsLengthAndRejectsBadLeadsAsSingleBytes) {
  const std::string text = "a\xC3\x9F\xE2\x80\x94\xF0\x9F\x98\x80\x80";
  const std::pair<char32_t, std::size_t> expected[] = {{U'a', 1}, {0xDF, 2}, {0x2014, 3}, {0x1F600, 4}};
  std::size_t pos = 0;
  for (const auto& [cp, len] : expected) {
    const Utf8Char c = decode_utf8(text, pos);
    EXPECT_TRUE(c.valid);
    EXPECT_EQ(c.code_point, cp);
    EXPECT_EQ(c.length, len);
    pos += c.length;
  }
  const Utf8Char bad = decode_utf8(text, pos);
  EXPECT_FALSE(bad.valid);
  EXPECT_EQ(bad.length, 1u);
}

TEST(Utf8, EncodeRoundTripsEveryLength) {
  for (char32_t cp : {U'\0', U'\x7F', U'\x80', U'\x7FF', U'\x800', U'\xFFFF', U'\x10000', U'\x10FFFF'}) {
    std::string out;
    append_utf8(out, cp);
    const Utf8Char c = decode_utf8(out, 0);
    EXPECT_TRUE(c.valid);
    EXPECT_EQ(c.code_point, cp);
    EXPECT_EQ(c.length, out.size());
  }
}

// Every length up to 40 with one high byte at every position (and none), in a buffer of exactly
// that length, against a byte-by-byte count: the word loads, their overlapping tail and the short
// cases must neither miss a byte nor read past the end.
TEST(Utf8, AsciiPrefixFindsTheFirstHighByte) {
  for (std::size_t len = 0; len <= 40; ++len) {
    for (std::size_t high = 0; high <= len; ++high) {
      for (unsigned char byte : {0x80, 0xC3, 0xFF}) {
        std::unique_ptr<char[]> text(new char[len ? len : 1]);
        for (std::size_t i = 0; i < len; ++i) text[i] = static_cast<char>('A' + i % 26);
        if (high < len) text[high] = static_cast<char>(byte);
        EXPECT_EQ(ascii_prefix({text.get(), len}), high) << "length " << len << ", high byte at " << high;
      }
    }
  }
  EXPECT_EQ(ascii_prefix(std::string_view(std::string(100, '\x7F'))), 100u);
  EXPECT_EQ(ascii_prefix(std::string_view(std::string("\0\0\x80", 3))), 2u);
}

}  // namespace
}  // namespace tagatlas
