#pragma once

// Builds dictionary files in memory for tests, by the same layout a writer uses: header, sorted
// index, records, pool, zero padding to a multiple of 4, root. Every part's position is recorded
// so a test can damage any field afterwards.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tagatlas::testing {

struct Entry {
  std::uint16_t group = 0;
  std::uint16_t element = 0;
  std::optional<std::string> creator;
  std::string keyword;
  std::string name;
  std::uint8_t vr = 0;
  std::string description;
  bool retired = false;
  bool block_offset = false;
  std::string sources;
};

struct Image {
  std::vector<unsigned char> bytes;
  std::size_t index_at = 0;    // file offset of the index array
  std::size_t records_at = 0;  // file offset of the records array
  std::size_t pool_at = 0;     // file offset of the string pool
  std::size_t root_at = 0;     // file offset of the root record

  std::size_t index_entry(std::size_t i) const { return index_at + 12 * i; }
  std::size_t record(std::size_t i) const { return records_at + 44 * i; }
  // File offsets of the root's vector fields.
  std::size_t index_field() const { return root_at; }
  std::size_t records_field() const { return root_at + 8; }
  std::size_t strings_field() const { return root_at + 16; }

  void put_u8(std::size_t at, std::uint8_t v) { bytes.at(at) = v; }
  void put_u16(std::size_t at, std::uint16_t v);
  void put_u32(std::size_t at, std::uint32_t v);
  void put_i32(std::size_t at, std::int32_t v) { put_u32(at, static_cast<std::uint32_t>(v)); }
  // Sets a vector field so that it points at a file offset.
  void point(std::size_t field, std::size_t target, std::uint32_t count);
};

// Records are laid out in the order given; the index is sorted by (group, element, creator hash)
// with equal keys kept in input order, each entry naming its own record.
Image build(const std::vector<Entry>& entries);

// The one-entry PatientName dictionary (140 bytes).
Entry patient_name();

// A file in a private temporary directory, removed on destruction.
class TempFile {
 public:
  explicit TempFile(const std::vector<unsigned char>& bytes);
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile();
  const std::string& path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

// Open descriptors and mappings of this process, for leak checks.
std::size_t count_open_fds();
std::size_t count_mappings();
// Mappings of one file (lines of /proc/self/maps naming it).
std::size_t count_mappings_of(const std::string& path);

}  // namespace tagatlas::testing
