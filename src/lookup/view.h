#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string_view>

#include "../schema/records.h"

namespace tagatlas {

// The non-empty pieces of a sources text split at '|', produced lazily in stored order.
class SourceList {
 public:
  class iterator {
   public:
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::input_iterator_tag;

    iterator() = default;
    std::string_view operator*() const { return piece_; }
    iterator& operator++();
    iterator operator++(int) {
      iterator old = *this;
      ++*this;
      return old;
    }
    bool operator==(const iterator& other) const { return piece_.data() == other.piece_.data(); }

   private:
    friend class SourceList;
    explicit iterator(std::string_view rest) : rest_(rest) { ++*this; }

    std::string_view rest_;   // text after the current piece
    std::string_view piece_;  // current piece; null data() marks the end
  };

  explicit SourceList(std::string_view text) : text_(text) {}
  iterator begin() const { return iterator(text_); }
  iterator end() const { return iterator(); }
  // Number of pieces; scans the text once.
  std::size_t size() const;
  bool empty() const { return begin() == end(); }

 private:
  std::string_view text_;
};

// A borrowed view of one record and the string pool of the dictionary it came from. Valid only
// while that TatlDict lives; copies nothing. Numeric fields are read through record().
//
// Each text accessor throws Fault when the record's range reaches beyond the pool, and returns ""
// when the bytes are not well-formed UTF-8.
class TagView {
 public:
  TagView(ArchivedTagRecord record, std::span<const unsigned char> pool)
      : record_(record), pool_(pool) {}

  const ArchivedTagRecord& record() const { return record_; }

  std::string_view keyword() const;
  std::string_view name() const;
  // "" when the record has no creator; the offset is then not looked at.
  std::string_view creator() const;
  std::string_view description() const;
  // Two characters; cannot fail.
  std::string_view vr() const { return record_.vr(); }
  SourceList sources() const;

  // The stored bytes of the same fields, range-tested as above (a Fault beyond the pool) but not
  // tested for UTF-8: for a caller that copies them and tests its copy, which another process
  // cannot change under it. The accessor of a field is its bytes, or "" when they are not
  // well-formed UTF-8.
  std::string_view keyword_bytes() const;
  std::string_view name_bytes() const;
  std::string_view creator_bytes() const;
  std::string_view description_bytes() const;

 private:
  std::string_view bytes(std::uint32_t offset, std::uint32_t len) const;

  ArchivedTagRecord record_;
  std::span<const unsigned char> pool_;
};

}  // namespace tagatlas
