#pragma once

// Keys asked of both dictionaries, prepared once per side so that a timed loop does nothing but
// look up, and the loops themselves.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dcdicent.h"
#include "dcmtk/dcmdata/dcdict.h"
#include "dcmtk/dcmdata/dctagkey.h"
#include "lookup/handle.h"

namespace bench {

// A tag as both dictionaries store it (a private tag in its block form: the element's low byte)
// and, for a private tag, its creator as DCMTK spells it.
struct Key {
  std::uint16_t group = 0;
  std::uint16_t element = 0;
  std::optional<std::string> creator;
};

// The creator in another case and spacing, which tagatlas must canonicalise to find it: lower
// case, inner spaces doubled, one leading space (" gems_acqu_01", " siemens  csa  header").
std::string respelled(std::string_view creator);

class Queries {
 public:
  struct Tatl {
    std::uint16_t group;
    std::uint16_t element;
    std::optional<std::string_view> creator;  // respelled
  };
  struct Dcmtk {
    DcmTagKey key;
    const char* creator;  // DCMTK's own spelling (it compares exactly), or null
  };

  explicit Queries(std::vector<Key> keys);
  Queries(const Queries&) = delete;
  Queries& operator=(const Queries&) = delete;

  std::size_t size() const { return keys_.size(); }
  const std::vector<Key>& keys() const { return keys_; }
  std::span<const Tatl> tatl() const { return tatl_; }
  std::span<const Dcmtk> dcmtk() const { return dcmtk_; }

 private:
  std::vector<Key> keys_;
  std::vector<std::string> respelled_;  // one per key, "" for public keys
  std::vector<Tatl> tatl_;
  std::vector<Dcmtk> dcmtk_;
};

// Looks every query up and returns a checksum that depends on each result (a field read from
// each hit's record or entry), so no lookup can be skipped.
std::uint64_t lookup_all(const tagatlas::TatlDict& dict, std::span<const Queries::Tatl> queries,
                         tagatlas::SearchSteps steps = tagatlas::SearchSteps::Branch);
std::uint64_t lookup_all(const DcmDataDictionary& dict, std::span<const Queries::Dcmtk> queries);

// How many of the queries each side finds.
std::size_t count_hits(const tagatlas::TatlDict& dict, std::span<const Queries::Tatl> queries);
std::size_t count_hits(const DcmDataDictionary& dict, std::span<const Queries::Dcmtk> queries);

}  // namespace bench
