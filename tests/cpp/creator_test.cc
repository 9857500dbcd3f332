#include "schema/creator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "schema/casemap.h"
#include "schema/utf8.h"

namespace tagatlas {
namespace {

std::string utf8(std::initializer_list<char32_t> code_points) {
  std::string out;
  for (char32_t cp : code_points) append_utf8(out, cp);
  return out;
}

// The Unicode White_Space property, written out from PropList.txt.
const std::vector<char32_t> kWhiteSpace = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

// Characters that look like separators, are spaces elsewhere (Python's str.split, older Unicode)
// or sit right next to the set, but are not White_Space.
const std::vector<char32_t> kNotWhiteSpace = {
    0x0008, 0x000E, 0x001C, 0x001D, 0x001E, 0x001F, 0x0084, 0x0086, 0x009F, 0x1FFF,
    0x180E, 0x200B, 0x200C, 0x200D, 0x2027, 0x202A, 0x2060, 0x205E, 0x2FFF, 0x3001, 0xFEFF,
};

struct CanonicalCase {
  const char* name;
  std::string input;
  std::string expected;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const CanonicalCase& c, std::ostream* os) { *os << c.name; }

class CanonicalForm : public ::testing::TestWithParam<CanonicalCase> {};

TEST_P(CanonicalForm, Canonicalizes) {
  EXPECT_EQ(canonicalize_creator(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Creator, CanonicalForm,
    ::testing::Values(
        CanonicalCase{"Lower", "abc", "ABC"},
        CanonicalCase{"Padded", " abc ", "ABC"},
        CanonicalCase{"Mixed", "Abc", "ABC"},
        CanonicalCase{"AlreadyCanonical", "ACME CT", "ACME CT"},
        CanonicalCase{"TabAndRuns", "  acme\tct  ", "ACME CT"},
        CanonicalCase{"AllAsciiSpaces", "\ta\n\vb\f\rc d", "A B C D"},
        CanonicalCase{"DigitsAndPunctuation", "gems_0815 v1.2", "GEMS_0815 V1.2"},
        CanonicalCase{"Empty", "", ""},
        CanonicalCase{"OnlyAsciiSpaces", " \t\r\n ", ""},
        CanonicalCase{"OnlyUnicodeSpaces", utf8({0x3000, 0x00A0, 0x2028, 0x0085}), ""},
        CanonicalCase{"NoBreakSpaceSeparates", "acme" + utf8({0x00A0}) + "ct", "ACME CT"},
        CanonicalCase{"MixedRunIsOneSeparator", "a \t" + utf8({0x00A0, 0x2003}) + " b", "A B"},
        CanonicalCase{"ZeroWidthSpaceStays", "a" + utf8({0x200B}) + "b",
                      "A" + utf8({0x200B}) + "B"},
        CanonicalCase{"FileSeparatorStays", "a\x1C" "b\x1D" "c\x1E" "d\x1F" "e",
                      "A\x1C" "B\x1D" "C\x1E" "D\x1F" "E"},
        CanonicalCase{"LoneZeroWidthSpaceIsAPiece", " " + utf8({0x200B}) + " ", utf8({0x200B})},
        CanonicalCase{"SharpS", "stra" + utf8({0x00DF}) + "e", "STRASSE"},
        CanonicalCase{"Ligatures", utf8({0xFB00, 0x0020, 0xFB03}), "FF FFI"},
        CanonicalCase{"Greek", utf8({0x03BA, 0x03B1, 0x03C2}), utf8({0x039A, 0x0391, 0x03A3})},
        CanonicalCase{"GrowsToThreeCharacters", utf8({0x0390}), utf8({0x0399, 0x0308, 0x0301})},
        CanonicalCase{"FourByteCharacters", utf8({0x10428, 0x1E922}), utf8({0x10400, 0x1E900})},
        CanonicalCase{"UncasedStays", utf8({0x65E5, 0x672C}) + " x", utf8({0x65E5, 0x672C}) + " X"},
        CanonicalCase{"NulIsNotWhitespace", std::string("a\0b", 3), std::string("A\0B", 3)},
        CanonicalCase{"InvalidByteCopied", "a\xFF" "b", "A\xFF" "B"},
        CanonicalCase{"ContinuationByteCopied", "\x80" "a", "\x80" "A"},
        CanonicalCase{"TruncatedAtEnd", "ab\xC3", "AB\xC3"},
        // Only the bad lead byte is taken over; what follows is read afresh.
        CanonicalCase{"BadLeadThenAscii", "\xC3" "a b", "\xC3" "A B"},
        CanonicalCase{"TruncatedSequenceBeforeSpace", "x\xE2\x80 y", "X\xE2\x80 Y"},
        // Overlong and surrogate encodings of spaces and letters are not those characters.
        CanonicalCase{"OverlongSpaceIsNotSpace", "a\xC0\xA0" "b", "A\xC0\xA0" "B"},
        CanonicalCase{"OverlongLetterIsNotUpperCased", "\xC1\xA1", "\xC1\xA1"},
        CanonicalCase{"EncodedSurrogateCopied", "\xED\xA0\x80" "z", "\xED\xA0\x80" "Z"},
        CanonicalCase{"PastMaxCopied", "\xF4\x90\x80\x80" "z", "\xF4\x90\x80\x80" "Z"}),
    [](const auto& info) { return std::string(info.param.name); });

// Test names of the character cases: U0009 for U+0009.
std::string code_point_name(const ::testing::TestParamInfo<char32_t>& info) {
  char name[16];
  std::snprintf(name, sizeof name, "U%04X", static_cast<unsigned>(info.param));
  return name;
}

class WhiteSpaceCharacter : public ::testing::TestWithParam<char32_t> {};

TEST_P(WhiteSpaceCharacter, SeparatesAndIsTrimmed) {
  const std::string ws = utf8({GetParam()});
  EXPECT_TRUE(is_creator_whitespace(GetParam()));
  EXPECT_EQ(canonicalize_creator("a" + ws + "b"), "A B");
  EXPECT_EQ(canonicalize_creator(ws + "a" + ws + ws + "b" + ws), "A B");
  EXPECT_EQ(canonicalize_creator(ws), "");
}

INSTANTIATE_TEST_SUITE_P(Creator, WhiteSpaceCharacter, ::testing::ValuesIn(kWhiteSpace),
                         code_point_name);

class NonWhiteSpaceCharacter : public ::testing::TestWithParam<char32_t> {};

TEST_P(NonWhiteSpaceCharacter, StaysInsideItsPiece) {
  const std::string c = utf8({GetParam()});
  EXPECT_FALSE(is_creator_whitespace(GetParam()));
  EXPECT_EQ(canonicalize_creator("a" + c + "b"), "A" + c + "B");
  EXPECT_EQ(canonicalize_creator(" " + c + " "), c);
}

INSTANTIATE_TEST_SUITE_P(Creator, NonWhiteSpaceCharacter, ::testing::ValuesIn(kNotWhiteSpace),
                         code_point_name);

TEST(CreatorWhitespace, IsExactlyTheWhiteSpaceSet) {
  std::size_t found = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (!is_creator_whitespace(cp)) continue;
    ++found;
    EXPECT_NE(std::find(kWhiteSpace.begin(), kWhiteSpace.end(), cp), kWhiteSpace.end())
        << "U+" << std::hex << static_cast<std::uint32_t>(cp);
  }
  EXPECT_EQ(found, kWhiteSpace.size());
}

std::uint32_t fnv1a(std::string_view bytes) {
  std::uint32_t h = 0x811C9DC5u;
  for (unsigned char b : bytes) h = (h ^ b) * 0x01000193u;
  return h;
}

struct HashCase {
  const char* name;
  std::optional<std::string> creator;
  std::uint32_t expected;
};

void PrintTo(const HashCase& c, std::ostream* os) { *os << c.name; }

class CreatorHash : public ::testing::TestWithParam<HashCase> {};

TEST_P(CreatorHash, MatchesKnownValue) {
  const auto& creator = GetParam().creator;
  EXPECT_EQ(hash_creator(creator ? std::optional<std::string_view>(*creator) : std::nullopt),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Creator, CreatorHash,
    ::testing::Values(
        HashCase{"Absent", std::nullopt, 0},
        HashCase{"Empty", "", 0x811C9DC5u},
        HashCase{"WhitespaceOnlyIsEmpty", "  ", 0x811C9DC5u},
        HashCase{"UnicodeWhitespaceOnlyIsEmpty", utf8({0x3000, 0x2029}), 0x811C9DC5u},
        HashCase{"Upper", "ABC", 0x5C842F6Bu},
        HashCase{"Lower", "abc", 0x5C842F6Bu},
        HashCase{"Padded", " abc ", 0x5C842F6Bu},
        HashCase{"Capitalised", "Abc", 0x5C842F6Bu},
        HashCase{"Spaced", "  acme\tct  ", 0x71B055AAu},
        HashCase{"SharpS", "stra" + utf8({0x00DF}) + "e", 0xD2CC11F4u},
        HashCase{"NonAsciiUpperCased", "strasse " + utf8({0x00E9}), 0x3720726Cu},
        HashCase{"LongerThanSmallString", "siemens  csa header", 0x7F560B01u},
        HashCase{"InvalidBytePassesThrough", "a\xFF" "b", 0x5CA1E751u}),
    [](const auto& info) { return std::string(info.param.name); });

// hash_creator streams the canonical form instead of building it; both must give the same bytes.
TEST(CreatorHash, EqualsHashOfCanonicalForm) {
  const std::vector<std::string> inputs = {
      "", " ", "x", "Siemens: Thorax/Multix FD", " \t GEMS_IDEN_01 ",
      "stra" + utf8({0x00DF, 0x00A0, 0x00A0, 0x0149, 0x1F80}) + " ",
      "a\xFF\xC3 \xED\xA0\x80 \xE2\x80", utf8({0x10428, 0x3000, 0x200B, 0xFB03}),
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input);
    EXPECT_EQ(hash_creator(input), fnv1a(canonicalize_creator(input)));
  }
}

struct MappingCase {
  const char* name;
  char32_t code_point;
  std::string expected;  // empty: the character maps to itself
};

void PrintTo(const MappingCase& c, std::ostream* os) { *os << c.name; }

class UppercaseMapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(UppercaseMapping, Maps) {
  EXPECT_EQ(uppercase_mapping(GetParam().code_point), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Creator, UppercaseMapping,
    ::testing::Values(
        MappingCase{"SharpS", 0x00DF, "SS"},
        MappingCase{"NPrecededByApostrophe", 0x0149, utf8({0x02BC, 0x004E})},
        MappingCase{"AlphaWithYpogegrammeni", 0x1F80, utf8({0x1F08, 0x0399})},
        MappingCase{"CapitalWithProsgegrammeni", 0x1F88, utf8({0x1F08, 0x0399})},
        MappingCase{"ThreeCharacters", 0x0390, utf8({0x0399, 0x0308, 0x0301})},
        MappingCase{"FinalSigma", 0x03C2, utf8({0x03A3})},
        MappingCase{"SmallINoTurkishRule", 0x0069, "I"},
        MappingCase{"DotlessI", 0x0131, "I"},
        MappingCase{"CapitalIWithDotStays", 0x0130, ""},
        MappingCase{"CombiningYpogegrammeni", 0x0345, utf8({0x0399})},
        MappingCase{"TitlecaseDigraph", 0x01C5, utf8({0x01C4})},
        MappingCase{"CapitalSharpSStays", 0x1E9E, ""},
        MappingCase{"Micro", 0x00B5, utf8({0x039C})},
        MappingCase{"YWithDiaeresis", 0x00FF, utf8({0x0178})},
        MappingCase{"Deseret", 0x10428, utf8({0x10400})},
        MappingCase{"LastInTable", 0x1E943, utf8({0x1E921})},
        MappingCase{"CapitalAStays", 0x0041, ""},
        MappingCase{"SmallZ", 0x007A, "Z"},
        MappingCase{"Nul", 0x0000, ""},
        MappingCase{"Ideograph", 0x4E00, ""},
        MappingCase{"MaxScalar", 0x10FFFF, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Checked over every scalar value: the table yields well-formed text of one to three characters,
// none of them whitespace (canonicalisation relies on that to upper-case and split in one pass),
// and canonicalising one character, through the ASCII path or the decoder, agrees with the table.
TEST(UppercaseMapping, EveryScalarValueIsConsistent) {
  std::size_t mapped = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const std::string_view upper = uppercase_mapping(cp);
    if (!upper.empty()) {
      ++mapped;
      ASSERT_TRUE(is_valid_utf8(upper)) << "U+" << std::hex << static_cast<std::uint32_t>(cp);
      std::size_t count = 0;
      for (std::size_t pos = 0; pos < upper.size(); ++count) {
        const Utf8Char c = decode_utf8(upper, pos);
        ASSERT_FALSE(is_creator_whitespace(c.code_point));
        pos += c.length;
      }
      ASSERT_GE(count, 1u);
      ASSERT_LE(count, 3u);
      ASSERT_NE(upper, utf8({cp})) << "identity stored for U+" << std::hex
                                    << static_cast<std::uint32_t>(cp);
    }
    if (is_creator_whitespace(cp)) continue;
    const std::string self = utf8({cp});
    ASSERT_EQ(canonicalize_creator(self), upper.empty() ? self : std::string(upper))
        << "U+" << std::hex << static_cast<std::uint32_t>(cp);
  }
  // Unicode 15 has about 1,500 characters whose uppercase differs; a table that lost most of
  // its entries would still pass the checks above.
  EXPECT_GT(mapped, 1400u);
}

}  // namespace
}  // namespace tagatlas
