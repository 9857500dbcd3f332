#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "fixture.h"
#include "schema/validate.h"

namespace tagatlas {
namespace {

using testing::Entry;
using testing::Image;
using testing::build;
using testing::patient_name;

std::string hex(const unsigned char* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%jx", static_cast<std::uintmax_t>(reinterpret_cast<std::uintptr_t>(p)));
  return buf;
}

std::string range(const unsigned char* lo, const unsigned char* hi) { return hex(lo) + ".." + hex(hi); }

// Validates the archive part of an image in place; addresses in messages are those of its bytes.
struct Checked {
  const Image& image;
  const unsigned char* file() const { return image.bytes.data(); }
  const unsigned char* at(std::size_t offset) const { return file() + offset; }
  const unsigned char* archive_end() const { return file() + image.bytes.size(); }

  std::string error() const {
    auto r = check_archived_root(file() + 32, image.bytes.size() - 32);
    return r ? std::string("ok") : to_string(r.error());
  }
};

std::vector<Entry> entries(std::size_t n) {
  std::vector<Entry> out;
  for (std::size_t i = 0; i < n; ++i) {
    Entry e = patient_name();
    e.element = static_cast<std::uint16_t>(i);
    out.push_back(e);
  }
  return out;
}

TEST(Validate, EmptyAndPopulatedDictionariesPass) {
  for (std::size_t n : {0u, 1u, 9u}) {
    const Image image = build(entries(n));
    auto r = check_archived_root(image.bytes.data() + 32, image.bytes.size() - 32);
    ASSERT_TRUE(r.ok()) << n;
    EXPECT_EQ(r.value().address(), image.bytes.data() + image.root_at);
  }
}

TEST(Validate, ArchiveTooShortForRoot) {
  for (std::size_t archive_len : {0u, 20u}) {
    Image image = build({});
    image.bytes.resize(32 + archive_len);
    const Checked c{image};
    EXPECT_EQ(c.error(), "context error: pointer out of bounds: base " + hex(c.at(32)) + " offset " +
                             std::to_string(static_cast<int>(archive_len) - 24) + " not in range " +
                             range(c.at(32), c.archive_end()));
  }
}

TEST(Validate, RootMustBeAligned) {
  for (std::size_t extra : {1u, 2u, 3u}) {
    Image image = build({});
    image.bytes.resize(image.bytes.size() + extra, 0);
    const Checked c{image};
    EXPECT_EQ(c.error(), "context error: unaligned pointer: ptr " + hex(c.archive_end() - 24) +
                             " unaligned for alignment 4");
  }
}

TEST(Validate, ArrayTargetsMustBeAlignedEvenWhenEmpty) {
  Image image = build({});
  image.point(image.index_field(), 34, 0);
  const Checked c{image};
  EXPECT_EQ(c.error(),
            "check bytes error: check failed for struct member index: unaligned pointer: ptr " +
                hex(c.at(34)) + " unaligned for alignment 4");

  Image records = build(entries(2));
  records.point(records.records_field(), records.records_at + 2, 1);
  const Checked r{records};
  EXPECT_EQ(r.error(), "check bytes error: check failed for struct member records: unaligned pointer: ptr " +
                           hex(r.at(records.records_at + 2)) + " unaligned for alignment 4");
}

TEST(Validate, StringPoolNeedsNoAlignment) {
  Image image = build({patient_name()});
  image.point(image.strings_field(), image.pool_at + 1, 24);
  EXPECT_EQ(Checked{image}.error(), "ok");
}

TEST(Validate, TargetBeforeArchiveIsOutOfBoundsNotSubtree) {
  Image image = build({patient_name()});
  image.point(image.index_field(), 28, 1);  // inside the header
  const Checked c{image};
  EXPECT_EQ(c.error(), "check bytes error: check failed for struct member index: pointer out of bounds: base " +
                           hex(c.at(image.index_field())) + " offset " +
                           std::to_string(28 - static_cast<int>(image.index_field())) + " not in range " +
                           range(c.at(32), c.archive_end()));
}

TEST(Validate, TargetPastArchiveEndIsOutOfBounds) {
  Image image = build({});
  const std::size_t field = image.strings_field();
  image.put_i32(field, static_cast<std::int32_t>(image.bytes.size() - field + 1));
  const Checked c{image};
  EXPECT_EQ(c.error(), "check bytes error: check failed for struct member strings: pointer out of bounds: base " +
                           hex(c.at(field)) + " offset " + std::to_string(image.bytes.size() - field + 1) +
                           " not in range " + range(c.at(32), c.archive_end()));
}

TEST(Validate, EmptyArrayAtArchiveEndPassesBoundsButNotSubtree) {
  // Exactly at the end is a position inside the archive, but it lies in the root's own bytes.
  Image image = build({});
  image.point(image.strings_field(), image.bytes.size(), 0);
  const Checked c{image};
  EXPECT_EQ(c.error(),
            "check bytes error: check failed for struct member strings: subtree pointer out of bounds: ptr " +
                hex(c.archive_end()) + " not in range " + range(c.at(32), c.at(image.root_at)));
}

TEST(Validate, ArrayLongerThanArchiveOverruns) {
  Image image = build(entries(2));
  image.point(image.records_field(), image.records_at, 0xFFFFFFFFu);
  const Checked c{image};
  EXPECT_EQ(c.error(), "check bytes error: check failed for struct member records: pointer overran buffer: ptr " +
                           hex(c.at(image.records_at)) + " size " + std::to_string(44ull * 0xFFFFFFFFull) +
                           " in range " + range(c.at(32), c.archive_end()));
}

TEST(Validate, EmptyArrayMaySitExactlyAtRoot) {
  Image image = build({});
  image.point(image.index_field(), image.root_at, 0);
  image.point(image.records_field(), image.root_at, 0);
  image.point(image.strings_field(), image.root_at, 0);
  EXPECT_EQ(Checked{image}.error(), "ok");
}

TEST(Validate, EmptyArrayPastRootIsSubtreeOutOfBounds) {
  Image image = build({});
  image.put_i32(image.index_field(), 4);
  const Checked c{image};
  EXPECT_EQ(c.error(),
            "check bytes error: check failed for struct member index: subtree pointer out of bounds: ptr " +
                hex(c.at(image.root_at + 4)) + " not in range " + range(c.at(32), c.at(image.root_at)));
}

TEST(Validate, PoolReachingIntoRootOverrunsSubtree) {
  Image image = build({patient_name()});  // pool 88..113, padding to 116, root at 116
  image.point(image.strings_field(), image.pool_at, 28);
  EXPECT_EQ(Checked{image}.error(), "ok") << "a pool ending exactly at the root is fine";
  image.point(image.strings_field(), image.pool_at, 29);
  const Checked c{image};
  EXPECT_EQ(c.error(),
            "check bytes error: check failed for struct member strings: subtree pointer overran range: ptr " +
                hex(c.at(image.pool_at)) + " size 29 in range " + range(c.at(image.records_at + 44), c.at(image.root_at)));
}

TEST(Validate, RecordReachingIntoRootOverrunsSubtree) {
  Image image = build({patient_name()});
  image.point(image.records_field(), image.root_at - 40, 1);
  image.point(image.strings_field(), image.root_at, 0);
  const Checked c{image};
  EXPECT_EQ(c.error(),
            "check bytes error: check failed for struct member records: subtree pointer overran range: ptr " +
                hex(c.at(image.root_at - 40)) + " size 44 in range " + range(c.at(44), c.at(image.root_at)));
}

TEST(Validate, ArraysMustFollowFieldOrder) {
  // The pool placed before the records: the records have claimed everything up to their end.
  Image image = build({patient_name()});
  image.point(image.strings_field(), image.records_at, 4);
  const Checked c{image};
  EXPECT_EQ(c.error(),
            "check bytes error: check failed for struct member strings: subtree pointer out of bounds: ptr " +
                hex(c.at(image.records_at)) + " not in range " + range(c.at(image.pool_at), c.at(image.root_at)));

  // Records overlapping the index.
  Image overlap = build(entries(3));
  overlap.point(overlap.records_field(), overlap.index_at + 12, 3);
  const Checked o{overlap};
  EXPECT_EQ(o.error(),
            "check bytes error: check failed for struct member records: subtree pointer out of bounds: ptr " +
                hex(o.at(overlap.index_at + 12)) + " not in range " +
                range(o.at(overlap.records_at), o.at(overlap.root_at)));
}

TEST(Validate, GapsAndUninterpretedBytesMayHoldAnything) {
  Image image = build(entries(3));
  for (std::size_t i = 6; i < 32; ++i) image.put_u8(i, 0xA5);  // header tail
  for (std::size_t r = 0; r < 3; ++r) {
    image.put_u16(image.record(r) + 38, 0xFFFF);  // reserved
    image.put_u8(image.record(r) + 43, 0xFF);     // filler
  }
  // Shrink each array so a gap of junk follows it.
  image.point(image.index_field(), image.index_at, 1);
  image.point(image.records_field(), image.records_at, 2);
  image.point(image.strings_field(), image.pool_at, 1);
  for (std::size_t at = image.index_at + 12; at < image.records_at; ++at) image.put_u8(at, 0xFF);
  for (std::size_t at = image.record(2); at < image.pool_at; ++at) image.put_u8(at, 0xFF);
  for (std::size_t at = image.pool_at + 1; at < image.root_at; ++at) image.put_u8(at, 0xFF);
  EXPECT_EQ(Checked{image}.error(), "ok");
}

struct RecordCase {
  std::size_t record;
  std::uint8_t block;
  std::uint8_t retired;
  std::uint8_t vr;
  std::string expected_tail;
};

// Names the case by the record and the values written into it: Record7Block0Retired0Vr35.
std::string record_case_name(const RecordCase& c) {
  return "Record" + std::to_string(c.record) + "Block" + std::to_string(c.block) + "Retired" +
         std::to_string(c.retired) + "Vr" + std::to_string(c.vr);
}

void PrintTo(const RecordCase& c, std::ostream* os) { *os << record_case_name(c); }

class RecordChecks : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordChecks, ReportsFirstBadFieldOfFirstBadRecord) {
  const RecordCase& c = GetParam();
  Image image = build(entries(9));
  image.put_u8(image.record(c.record) + 41, c.block);
  image.put_u8(image.record(c.record) + 42, c.retired);
  image.put_u8(image.record(c.record) + 40, c.vr);
  // A later bad record must not be the one reported.
  image.put_u8(image.record(8) + 40, 99);
  EXPECT_EQ(Checked{image}.error(),
            "check bytes error: check failed for struct member records: check failed for slice index " +
                c.expected_tail);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, RecordChecks,
    ::testing::Values(
        RecordCase{7, 0, 0, 35, "7: check failed for struct member vr: invalid tag for enum: 35"},
        RecordCase{0, 0, 2, 18,
                   "0: check failed for struct member retired: check failed for bool: expected 0 or 1, found 2"},
        RecordCase{3, 0, 2, 200,
                   "3: check failed for struct member retired: check failed for bool: expected 0 or 1, found 2"},
        RecordCase{
            1, 5, 9, 18,
            "1: check failed for struct member element_is_block_offset: check failed for bool: expected 0 or 1, found 5"},
        RecordCase{2, 0, 0, 255, "2: check failed for struct member vr: invalid tag for enum: 255"}),
    [](const auto& info) { return record_case_name(info.param); });

TEST(Validate, HighestValidValuesPass) {
  Image image = build(entries(2));
  image.put_u8(image.record(1) + 40, 34);
  image.put_u8(image.record(1) + 41, 1);
  image.put_u8(image.record(1) + 42, 1);
  EXPECT_EQ(Checked{image}.error(), "ok");
}

TEST(Validate, RecordsBeyondTheCountAreNotExamined) {
  Image image = build(entries(3));
  image.put_u8(image.record(2) + 40, 200);
  image.point(image.records_field(), image.records_at, 2);
  EXPECT_EQ(Checked{image}.error(), "ok");
}

TEST(Validate, FieldOrderDecidesWhichErrorWins) {
  // A bad index beats a bad record, and a bad record beats a bad pool.
  Image image = build(entries(2));
  image.put_u8(image.record(0) + 40, 40);
  image.point(image.strings_field(), image.index_at, 1);
  EXPECT_NE(Checked{image}.error().find("struct member records: check failed for slice index 0"), std::string::npos);
  image.point(image.index_field(), image.index_at + 2, 2);
  EXPECT_NE(Checked{image}.error().find("struct member index: unaligned pointer"), std::string::npos);
}

TEST(Validate, IndexOrderRecordIndexAndTextRangesAreNotChecked) {
  Image image = build(entries(3));
  image.put_u16(image.index_entry(0) + 8, 0xFFFF);       // index now unsorted
  image.put_u32(image.index_entry(1) + 4, 1000);         // record beyond the records
  image.put_u32(image.record(2) + 0, 0xFFFFFFF0u);       // keyword far beyond the pool
  image.put_u8(image.pool_at, 0x80);                     // invalid UTF-8
  EXPECT_EQ(Checked{image}.error(), "ok");
}

}  // namespace
}  // namespace tagatlas
