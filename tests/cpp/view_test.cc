#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fixture.h"
#include "lookup/fault.h"
#include "lookup/view.h"
#include "schema/validate.h"

namespace tagatlas {
namespace {

using testing::Entry;
using testing::Image;
using testing::build;

// Views over an in-memory image (a view needs only a record and a pool, not a file).
struct Views {
  explicit Views(Image img) : image(std::move(img)) {}
  TagView view(std::size_t record) const {
    const auto root = check_archived_root(image.bytes.data() + 32, image.bytes.size() - 32);
    EXPECT_TRUE(root.ok());
    return TagView(root.value().records()[record], root.value().strings());
  }
  Image image;
};

std::vector<std::string> pieces(const SourceList& list) {
  std::vector<std::string> out;
  for (std::string_view piece : list) out.emplace_back(piece);
  return out;
}

std::string fault_of(const std::function<void()>& read) {
  try {
    read();
  } catch (const Fault& f) {
    return f.what();
  }
  return "no fault";
}

TEST(TagView, ReadsEveryTextField) {
  Entry e;
  e.keyword = "PatientName";
  e.name = "Patient's Name";
  e.creator = "ACME 1.0";
  e.description = "Größe — ünïcödé";
  e.sources = "dcmtk|pydicom";
  e.vr = 18;
  const Views v(build({e}));
  const TagView t = v.view(0);
  EXPECT_EQ(t.keyword(), "PatientName");
  EXPECT_EQ(t.name(), "Patient's Name");
  EXPECT_EQ(t.creator(), "ACME 1.0");
  EXPECT_EQ(t.description(), "Größe — ünïcödé");
  EXPECT_EQ(t.vr(), "PN");
  EXPECT_EQ(pieces(t.sources()), (std::vector<std::string>{"dcmtk", "pydicom"}));
}

TEST(TagView, SourcesSkipEmptyPiecesAndTrimNothing) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"a|b", {"a", "b"}}, {"|a||b|", {"a", "b"}}, {"", {}},    {"a | b", {"a ", " b"}},
      {"|", {}},           {"|||", {}},            {"|x|", {"x"}}, {"x", {"x"}},
      {" ", {" "}},
  };
  for (const auto& [text, expected] : cases) {
    Entry e;
    e.sources = text;
    const Views v(build({e}));
    const SourceList list = v.view(0).sources();
    EXPECT_EQ(pieces(list), expected) << '"' << text << '"';
    EXPECT_EQ(list.size(), expected.size()) << '"' << text << '"';
    EXPECT_EQ(list.empty(), expected.empty());
  }
}

TEST(TagView, InvalidUtf8ReadsAsEmpty) {
  Entry e;
  e.keyword = "K";
  e.name = "N";
  e.description = "D";
  e.creator = "C";
  e.sources = "S|T";
  Image image = build({e});
  const std::size_t pool = image.pool_at;  // keyword, name, creator, description, sources
  for (std::size_t i = 0; i < 4; ++i) image.put_u8(pool + i, 0x80);
  image.put_u8(pool + 4 + 1, 0xFF);  // the separator of the sources
  const Views v(image);
  const TagView t = v.view(0);
  EXPECT_EQ(t.keyword(), "");
  EXPECT_EQ(t.name(), "");
  EXPECT_EQ(t.creator(), "");
  EXPECT_EQ(t.description(), "");
  EXPECT_TRUE(t.sources().empty());
}

// The *_bytes accessors give the stored bytes whatever they hold; the text accessors give them
// only when they are well-formed UTF-8.
TEST(TagView, BytesAccessorsGiveStoredBytesUntested) {
  Entry e;
  e.keyword = "Kw\xC3\x9F";
  e.name = "Name";
  e.creator = "Cr";
  e.description = "Desc";
  Image image = build({e});
  image.put_u8(image.pool_at + 2, 0x80);  // the keyword's first byte of U+00DF, now a stray byte
  const Views v(image);
  const TagView t = v.view(0);
  EXPECT_EQ(t.keyword_bytes(), "Kw\x80\x9F");
  EXPECT_EQ(t.keyword(), "");
  EXPECT_EQ(t.name_bytes(), "Name");
  EXPECT_EQ(t.name(), "Name");
  EXPECT_EQ(t.creator_bytes(), "Cr");
  EXPECT_EQ(t.description_bytes(), "Desc");

  Image no_creator = build({Entry{}});
  no_creator.put_u32(no_creator.record(0) + 8, 0xFFFFFFFF);  // an offset that is never read
  EXPECT_EQ(Views(no_creator).view(0).creator_bytes(), "");
}

TEST(TagView, CreatorOfLengthZeroIgnoresItsOffset) {
  Image image = build({Entry{}});
  image.put_u32(image.record(0) + 8, 0xFFFFFFFF);
  EXPECT_EQ(Views(image).view(0).creator(), "");
}

TEST(TagView, EmptyTextAtPoolEndIsFine) {
  Entry e;
  e.keyword = "abc";
  Image image = build({e});
  image.put_u32(image.record(0) + 0, 3);  // offset == pool length, length 0
  image.put_u16(image.record(0) + 32, 0);
  EXPECT_EQ(Views(image).view(0).keyword(), "");
}

TEST(TagView, RangesBeyondThePoolFault) {
  Entry e;
  e.keyword = "abc";  // the pool is 3 bytes long
  struct Case {
    std::size_t offset_at, len_at;
    bool len_is_u16;
    std::uint32_t offset, len;
    std::function<void(const TagView&)> read;
    std::string message;
    std::function<void(const TagView&)> bytes;  // the same field's bytes accessor, if it has one
  };
  const Case cases[] = {
      {0, 32, true, 4, 0, [](const TagView& t) { (void)t.keyword(); },
       "range start index 4 out of range for slice of length 3",
       [](const TagView& t) { (void)t.keyword_bytes(); }},
      {4, 34, true, 2, 2, [](const TagView& t) { (void)t.name(); },
       "range end index 4 out of range for slice of length 3",
       [](const TagView& t) { (void)t.name_bytes(); }},
      {8, 36, true, 0xFFFFFFFF, 1, [](const TagView& t) { (void)t.creator(); },
       "range start index 4294967295 out of range for slice of length 3",
       [](const TagView& t) { (void)t.creator_bytes(); }},
      {12, 16, false, 3, 0xFFFFFFFF, [](const TagView& t) { (void)t.description(); },
       "range end index 4294967298 out of range for slice of length 3",
       [](const TagView& t) { (void)t.description_bytes(); }},
      {20, 24, false, 1, 3, [](const TagView& t) { (void)t.sources(); },
       "range end index 4 out of range for slice of length 3", {}},
  };
  for (const Case& c : cases) {
    Image image = build({e});
    image.put_u32(image.record(0) + c.offset_at, c.offset);
    if (c.len_is_u16) {
      image.put_u16(image.record(0) + c.len_at, static_cast<std::uint16_t>(c.len));
    } else {
      image.put_u32(image.record(0) + c.len_at, c.len);
    }
    const Views v(image);
    const TagView t = v.view(0);
    EXPECT_EQ(fault_of([&] { c.read(t); }), c.message);
    if (c.bytes) {
      EXPECT_EQ(fault_of([&] { c.bytes(t); }), c.message) << "the bytes accessor";
    }
    if (c.offset_at != 0) {
      EXPECT_EQ(t.keyword(), "abc") << "other fields still read";
    }
  }
}

TEST(TagView, UnknownVrCodeReadsAsQuestionMarks) {
  Entry e;
  e.vr = 34;
  EXPECT_EQ(Views(build({e})).view(0).vr(), "??");
}

}  // namespace
}  // namespace tagatlas
