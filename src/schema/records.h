#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "bytes.h"
#include "constants.h"
#include "vr.h"

namespace tagatlas {

// On-disk layouts. They are never placed over mapped bytes (the views below read fields with
// byte loads); they exist so that offsetof() names every field and the asserts pin the layout.
namespace layout {

struct Vector {
  std::int32_t offset;  // target minus the address of this field
  std::uint32_t count;
};

struct Dictionary {
  Vector index;
  Vector records;
  Vector strings;
};

struct IndexEntry {
  std::uint32_t creator_hash;
  std::uint32_t record_index;
  std::uint16_t group;
  std::uint16_t element;
};

struct TagRecord {
  std::uint32_t keyword_offset;
  std::uint32_t name_offset;
  std::uint32_t creator_offset;
  std::uint32_t description_offset;
  std::uint32_t description_len;
  std::uint32_t sources_offset;
  std::uint32_t sources_len;
  std::uint16_t group;
  std::uint16_t element;
  std::uint16_t keyword_len;
  std::uint16_t name_len;
  std::uint16_t creator_len;
  std::uint8_t reserved[2];
  std::uint8_t vr;
  std::uint8_t element_is_block_offset;
  std::uint8_t retired;
  std::uint8_t filler;
};

static_assert(sizeof(Vector) == 8 && offsetof(Vector, count) == 4);
static_assert(sizeof(Dictionary) == kRootSize);
static_assert(offsetof(Dictionary, index) == 0 && offsetof(Dictionary, records) == 8 &&
              offsetof(Dictionary, strings) == 16);
static_assert(sizeof(IndexEntry) == kIndexEntrySize);
static_assert(offsetof(IndexEntry, creator_hash) == 0 && offsetof(IndexEntry, record_index) == 4 &&
              offsetof(IndexEntry, group) == 8 && offsetof(IndexEntry, element) == 10);
static_assert(sizeof(TagRecord) == kTagRecordSize);
static_assert(offsetof(TagRecord, keyword_offset) == 0 && offsetof(TagRecord, name_offset) == 4 &&
              offsetof(TagRecord, creator_offset) == 8 &&
              offsetof(TagRecord, description_offset) == 12 &&
              offsetof(TagRecord, description_len) == 16 && offsetof(TagRecord, sources_offset) == 20 &&
              offsetof(TagRecord, sources_len) == 24 && offsetof(TagRecord, group) == 28 &&
              offsetof(TagRecord, element) == 30 && offsetof(TagRecord, keyword_len) == 32 &&
              offsetof(TagRecord, name_len) == 34 && offsetof(TagRecord, creator_len) == 36 &&
              offsetof(TagRecord, reserved) == 38 && offsetof(TagRecord, vr) == 40 &&
              offsetof(TagRecord, element_is_block_offset) == 41 &&
              offsetof(TagRecord, retired) == 42 && offsetof(TagRecord, filler) == 43);

}  // namespace layout

// The parsed file header. Only the magic and the version mean anything; bytes 6..31 are ignored.
struct FileHeader {
  std::array<unsigned char, 4> magic;
  std::uint16_t version;

  // Returns nullopt when fewer than kHeaderLen bytes are given.
  static std::optional<FileHeader> from_bytes(std::span<const unsigned char> bytes);
};

#define TAGATLAS_FIELD_U16(Layout, name) \
  std::uint16_t name() const { return load_u16(p_ + offsetof(Layout, name)); }
#define TAGATLAS_FIELD_U32(Layout, name) \
  std::uint32_t name() const { return load_u32(p_ + offsetof(Layout, name)); }

// One index entry in place. Holds only the address; reads nothing until asked.
class ArchivedIndexEntry {
 public:
  explicit ArchivedIndexEntry(const unsigned char* p) : p_(p) {}
  TAGATLAS_FIELD_U32(layout::IndexEntry, creator_hash)
  TAGATLAS_FIELD_U32(layout::IndexEntry, record_index)
  TAGATLAS_FIELD_U16(layout::IndexEntry, group)
  TAGATLAS_FIELD_U16(layout::IndexEntry, element)

 private:
  const unsigned char* p_;
};

// One tag record in place. Text fields are (offset, length) pairs into the string pool; slicing
// and decoding them is the job of TagView, which knows the pool.
class ArchivedTagRecord {
 public:
  explicit ArchivedTagRecord(const unsigned char* p) : p_(p) {}
  // The record's first byte.
  const unsigned char* address() const { return p_; }
  TAGATLAS_FIELD_U32(layout::TagRecord, keyword_offset)
  TAGATLAS_FIELD_U32(layout::TagRecord, name_offset)
  TAGATLAS_FIELD_U32(layout::TagRecord, creator_offset)
  TAGATLAS_FIELD_U32(layout::TagRecord, description_offset)
  TAGATLAS_FIELD_U32(layout::TagRecord, description_len)
  TAGATLAS_FIELD_U32(layout::TagRecord, sources_offset)
  TAGATLAS_FIELD_U32(layout::TagRecord, sources_len)
  TAGATLAS_FIELD_U16(layout::TagRecord, group)
  TAGATLAS_FIELD_U16(layout::TagRecord, element)
  TAGATLAS_FIELD_U16(layout::TagRecord, keyword_len)
  TAGATLAS_FIELD_U16(layout::TagRecord, name_len)
  TAGATLAS_FIELD_U16(layout::TagRecord, creator_len)

  std::uint8_t vr_code() const { return p_[offsetof(layout::TagRecord, vr)]; }
  std::string_view vr() const { return vr_text(vr_code()); }
  // Validation admits only 0 and 1 for the two flags.
  bool element_is_block_offset() const {
    return p_[offsetof(layout::TagRecord, element_is_block_offset)] != 0;
  }
  bool retired() const { return p_[offsetof(layout::TagRecord, retired)] != 0; }

 private:
  const unsigned char* p_;
};

#undef TAGATLAS_FIELD_U16
#undef TAGATLAS_FIELD_U32

// A resolved array: first element and count. Indexing does not test the bound; callers do.
template <class View, std::size_t kElementSize>
class ArchivedArray {
 public:
  ArchivedArray(const unsigned char* data, std::uint32_t count) : data_(data), count_(count) {}
  std::uint32_t size() const { return count_; }
  // The first element's bytes.
  const unsigned char* data() const { return data_; }
  View operator[](std::size_t i) const { return View(data_ + i * kElementSize); }

 private:
  const unsigned char* data_;
  std::uint32_t count_;
};

using IndexArray = ArchivedArray<ArchivedIndexEntry, kIndexEntrySize>;
using RecordArray = ArchivedArray<ArchivedTagRecord, kTagRecordSize>;

// The root record in place, at the last kRootSize bytes of an archive. Every array is resolved
// on demand from its self-relative offset, so each call reads the root's bytes again; readers of
// an opened file use the ResolvedRoot that validation returned instead.
class ArchivedDictionary {
 public:
  explicit ArchivedDictionary(const unsigned char* root) : p_(root) {}

  // Precondition: [archive, archive + len) passed check_archived_root.
  static ArchivedDictionary at_end_of(const unsigned char* archive, std::size_t len) {
    return ArchivedDictionary(archive + len - kRootSize);
  }

  const unsigned char* address() const { return p_; }
  IndexArray index() const { return {target(offsetof(layout::Dictionary, index)), count(offsetof(layout::Dictionary, index))}; }
  RecordArray records() const {
    return {target(offsetof(layout::Dictionary, records)), count(offsetof(layout::Dictionary, records))};
  }
  std::span<const unsigned char> strings() const {
    return {target(offsetof(layout::Dictionary, strings)), count(offsetof(layout::Dictionary, strings))};
  }

 private:
  const unsigned char* target(std::size_t field) const { return p_ + field + load_i32(p_ + field); }
  std::uint32_t count(std::size_t field) const {
    return load_u32(p_ + field + offsetof(layout::Vector, count));
  }

  const unsigned char* p_;
};

// The root's three arrays as validation placed them: each position and count was read from the
// root once, checked, and kept here. Readers use these and never the root's bytes again, so a file
// rewritten while it is mapped cannot move an array outside the ranges that were checked.
class ResolvedRoot {
 public:
  ResolvedRoot(const unsigned char* address, IndexArray index, RecordArray records,
               std::span<const unsigned char> strings)
      : address_(address), index_(index), records_(records), strings_(strings) {}

  // The root record itself.
  const unsigned char* address() const { return address_; }
  IndexArray index() const { return index_; }
  RecordArray records() const { return records_; }
  std::span<const unsigned char> strings() const { return strings_; }

 private:
  const unsigned char* address_;
  IndexArray index_;
  RecordArray records_;
  std::span<const unsigned char> strings_;
};

}  // namespace tagatlas
