#include <gtest/gtest.h>

#include <vector>

#include "fixture.h"
#include "schema/records.h"
#include "schema/validate.h"

namespace tagatlas {
namespace {

using testing::build;
using testing::patient_name;

TEST(FileHeader, NeedsThirtyTwoBytes) {
  std::vector<unsigned char> bytes(31, 0);
  EXPECT_FALSE(FileHeader::from_bytes(bytes).has_value());
  bytes = {'T', 'A', 'T', 'L', 0x02, 0x01};
  bytes.resize(32, 0xEE);
  const auto header = FileHeader::from_bytes(bytes);
  ASSERT_TRUE(header.has_value());
  EXPECT_EQ(header->magic, kMagic);
  EXPECT_EQ(header->version, 0x0102);
}

// The layout a writer produces, byte for byte, for the smallest files that mean something.
TEST(Layout, EmptyDictionaryIsFiftySixBytes) {
  const std::vector<unsigned char> expected = {
      'T', 'A', 'T', 'L', 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0,  // index: offset 0, count 0
      0xF8, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0,         // records: offset -8
      0xF0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};        // strings: offset -16
  EXPECT_EQ(build({}).bytes, expected);
}

TEST(Layout, PatientNameDictionaryIsOneHundredFortyBytes) {
  const auto image = build({patient_name()});
  const auto& b = image.bytes;
  ASSERT_EQ(b.size(), 140u);
  const std::vector<unsigned char> index_entry = {0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0x10, 0};
  EXPECT_EQ(std::vector<unsigned char>(b.begin() + 32, b.begin() + 44), index_entry);
  std::vector<unsigned char> record(44, 0);
  record[4] = 11;                  // name_offset
  record[28] = record[30] = 0x10;  // group, element
  record[32] = 11;                 // keyword_len
  record[34] = 14;                 // name_len
  record[40] = 18;                 // vr PN
  EXPECT_EQ(std::vector<unsigned char>(b.begin() + 44, b.begin() + 88), record);
  EXPECT_EQ(std::string(b.begin() + 88, b.begin() + 113), "PatientNamePatient's Name");
  EXPECT_EQ(std::vector<unsigned char>(b.begin() + 113, b.begin() + 116), std::vector<unsigned char>(3, 0));
  const std::vector<unsigned char> root = {0xAC, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0,   // -84, 1
                                           0xB0, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0,   // -80, 1
                                           0xD4, 0xFF, 0xFF, 0xFF, 25, 0, 0, 0};  // -44, 25
  EXPECT_EQ(std::vector<unsigned char>(b.begin() + 116, b.end()), root);
}

TEST(ArchivedDictionary, ResolvesEachArrayFromItsOwnField) {
  const auto image = build({patient_name()});
  const unsigned char* file = image.bytes.data();
  const auto root = ArchivedDictionary::at_end_of(file + 32, image.bytes.size() - 32);
  EXPECT_EQ(root.address(), file + 116);
  EXPECT_EQ(root.index().size(), 1u);
  EXPECT_EQ(root.records().size(), 1u);
  EXPECT_EQ(root.strings().data(), file + 88);
  EXPECT_EQ(root.strings().size(), 25u);

  const ArchivedIndexEntry entry = root.index()[0];
  EXPECT_EQ(entry.group(), 0x10);
  EXPECT_EQ(entry.element(), 0x10);
  EXPECT_EQ(entry.creator_hash(), 0u);
  EXPECT_EQ(entry.record_index(), 0u);

  const ArchivedTagRecord record = root.records()[0];
  EXPECT_EQ(record.name_offset(), 11u);
  EXPECT_EQ(record.name_len(), 14u);
  EXPECT_EQ(record.vr(), "PN");
  EXPECT_FALSE(record.retired());
  EXPECT_FALSE(record.element_is_block_offset());
}

TEST(ArchivedTagRecord, ReadsMultiByteFieldsLittleEndian) {
  testing::Entry e = patient_name();
  e.group = 0x1234;
  e.element = 0xABCD;
  e.description = std::string(0x10203, 'd');
  auto image = build({e});
  const auto root = ArchivedDictionary::at_end_of(image.bytes.data() + 32, image.bytes.size() - 32);
  const ArchivedTagRecord record = root.records()[0];
  EXPECT_EQ(record.group(), 0x1234);
  EXPECT_EQ(record.element(), 0xABCD);
  EXPECT_EQ(record.description_len(), 0x10203u);
  EXPECT_EQ(root.index()[0].group(), 0x1234);
  EXPECT_EQ(root.index()[0].element(), 0xABCD);
}

TEST(VrTable, FileOrderNotAlphabetical) {
  const std::pair<std::uint8_t, std::string_view> cases[] = {
      {0, "AE"}, {7, "FL"}, {8, "FD"}, {18, "PN"}, {21, "SQ"}, {33, "UV"}, {34, "??"}};
  for (const auto& [code, text] : cases) EXPECT_EQ(vr_text(code), text) << int{code};
  EXPECT_EQ(kVrTexts.size(), 35u);
  for (std::string_view text : kVrTexts) EXPECT_EQ(text.size(), 2u);
}

}  // namespace
}  // namespace tagatlas
