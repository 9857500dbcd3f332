#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "lookup/error.h"
#include "lookup/view.h"
#include "schema/records.h"
#include "schema/result.h"

namespace tagatlas {

// An opened, validated, read-only mapped dictionary file. Immutable once open() returns, so any
// number of threads may use one handle at once; share it with std::shared_ptr (atomic count).
// Owns the descriptor and the mapping; destruction closes the descriptor, then unmaps.
class TatlDict {
 public:
  // Opens path read-only, maps the whole file, tests size, magic and version, and validates the
  // archive. On failure returns the first error, having released whatever it acquired. A path
  // containing a NUL byte fails without reaching the system.
  static Result<TatlDict, TatlError> open(std::string_view path);

  TatlDict(TatlDict&& other) noexcept;
  TatlDict& operator=(TatlDict&& other) noexcept;
  TatlDict(const TatlDict&) = delete;
  TatlDict& operator=(const TatlDict&) = delete;
  ~TatlDict();

  // Number of index entries (not records).
  std::size_t len() const;

  // Finds the last index entry equal to (group, element, hash_creator(creator)). Returns nullopt
  // on a miss. Throws Fault when the entry names a record beyond the records array.
  std::optional<TagView> lookup(std::uint16_t group, std::uint16_t element,
                                std::optional<std::string_view> creator) const;

  // The mapped file, header included.
  std::span<const unsigned char> bytes() const { return {base_, file_len_}; }
  // The root record, found again from the end of the archive.
  ArchivedDictionary root() const;

 private:
  TatlDict(int fd, const unsigned char* base, std::size_t file_len)
      : fd_(fd), base_(base), file_len_(file_len) {}
  void release() noexcept;

  int fd_ = -1;
  const unsigned char* base_ = nullptr;
  std::size_t file_len_ = 0;  // the length used by every read; the mapping is 1 byte when it is 0
};

}  // namespace tagatlas
