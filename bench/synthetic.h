#pragma once

// Generated dictionaries of any size, written as a .tatl file and added to a DcmDataDictionary
// with the same entries, for the cases that the bundled dictionary is too small to show.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dcdict.h"
#include "queries.h"

namespace bench {

class Synthetic {
 public:
  // `n` distinct keys drawn from a fixed-seed generator: half public (even group 0008-7FFE,
  // element 0001-FFFF), half private in the block form (odd group 0009-7FFF, element 00-FF, one
  // of 1,024 creators such as "SYNTH VENDOR 0042"). Each entry has a keyword of its own.
  static Synthetic generate(std::size_t n, std::uint64_t seed);

  // Every (size() / n)-th entry: a smaller dictionary whose keys are spread over the same key
  // space, all of them held by this one too.
  Synthetic spread_subset(std::size_t n) const;

  std::size_t size() const { return entries_.size(); }
  Key key(std::size_t i) const;

  // Writes the dictionary in the .tatl layout: header, sorted index, records, string pool, zero
  // padding to a multiple of 4, root. Throws std::runtime_error when the file cannot be written.
  void write_tatl(const std::string& path) const;

  // Adds every entry to `dict` (VR LO, VM 1). The entries borrow this object's texts, so this
  // object must outlive `dict`.
  void add_to(DcmDataDictionary& dict) const;

 private:
  struct Entry {
    std::uint16_t group;
    std::uint16_t element;
    std::uint32_t creator_hash;  // 0 for a public entry
    std::int32_t creator;        // position in creators_, -1 for a public entry
    std::uint32_t id;            // position in the generated dictionary; names the keyword
  };

  Synthetic(std::vector<std::string> creators, std::vector<Entry> entries);
  std::string_view keyword(std::size_t i) const;

  std::vector<std::string> creators_;
  std::vector<Entry> entries_;  // sorted by (group, element, creator_hash), as the index is
  std::string keywords_;        // kKeywordStride bytes per entry, NUL-terminated for DCMTK
};

}  // namespace bench
