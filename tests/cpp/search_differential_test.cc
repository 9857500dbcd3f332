// The index search against plain references, on indexes of every size from 0 to 300 and larger
// ones, sorted and not, made up and taken from the bundled dictionary, with both SearchSteps.
//
// Sorted indexes are checked against std::upper_bound (the last entry not greater than the key);
// unsorted ones against a line-by-line transcription of the loop that defines the search, which
// pins which entries are compared, not only what a sorted index gives. Each index lives in a heap buffer of
// exactly its size, so a read past it fails under AddressSanitizer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "lookup/fault.h"
#include "lookup/handle.h"
#include "lookup/search.h"
#include "schema/constants.h"

namespace tagatlas {
namespace {

struct Key {
  std::uint16_t group;
  std::uint16_t element;
  std::uint32_t hash;
  auto operator<=>(const Key&) const = default;
};

struct IndexEntry {
  Key key;
  std::uint32_t record_index;
};

// What a search gives: the record number it returns, a miss, or a fault's message.
struct Outcome {
  std::optional<std::uint32_t> record;
  std::string fault;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
  if (!o.fault.empty()) *os << "fault \"" << o.fault << '"';
  else if (o.record) *os << "record " << *o.record;
  else *os << "miss";
}

// An index and a records array in heap buffers of exactly their size (one byte when empty, so the
// pointer is real), and the root that points at them.
class Arrays {
 public:
  Arrays(const std::vector<IndexEntry>& entries, std::uint32_t record_count)
      : index_(new unsigned char[std::max<std::size_t>(entries.size() * kIndexEntrySize, 1)]),
        records_(new unsigned char[std::max<std::size_t>(std::size_t{record_count} * kTagRecordSize, 1)]()),
        count_(static_cast<std::uint32_t>(entries.size())),
        record_count_(record_count) {
    unsigned char* p = index_.get();
    for (const IndexEntry& e : entries) {
      put(p, e.key.hash, 4);
      put(p + 4, e.record_index, 4);
      put(p + 8, e.key.group, 2);
      put(p + 10, e.key.element, 2);
      p += kIndexEntrySize;
    }
  }

  Outcome find(const Key& key, SearchSteps steps) const {
    const ResolvedRoot root(records_.get(), IndexArray(index_.get(), count_),
                            RecordArray(records_.get(), record_count_), {});
    try {
      const auto view = find_tag(root, key.group, key.element, key.hash, steps);
      if (!view) return {};
      // The record's number, from where its view points.
      const unsigned char* record = view->record().address();
      return {static_cast<std::uint32_t>((record - records_.get()) / kTagRecordSize), {}};
    } catch (const Fault& f) {
      return {std::nullopt, f.what()};
    }
  }

 private:
  static void put(unsigned char* p, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
  }

  std::unique_ptr<unsigned char[]> index_;
  std::unique_ptr<unsigned char[]> records_;
  std::uint32_t count_;
  std::uint32_t record_count_;
};

// The outcome of landing on entry `at` (or of no entry to land on).
Outcome landed(const std::vector<IndexEntry>& entries, std::optional<std::size_t> at, const Key& key,
               std::uint32_t record_count) {
  if (!at || entries[*at].key != key) return {};
  const std::uint32_t r = entries[*at].record_index;
  if (r >= record_count) {
    return {std::nullopt, "index out of bounds: the len is " + std::to_string(record_count) +
                              " but the index is " + std::to_string(r)};
  }
  return {r, {}};
}

// For a sorted index: the last entry not greater than the key, by the standard library.
Outcome sorted_reference(const std::vector<IndexEntry>& entries, const Key& key,
                         std::uint32_t record_count) {
  const auto after = std::upper_bound(entries.begin(), entries.end(), key,
                                      [](const Key& k, const IndexEntry& e) { return k < e.key; });
  std::optional<std::size_t> at;
  if (after != entries.begin()) at = static_cast<std::size_t>(after - entries.begin()) - 1;
  return landed(entries, at, key, record_count);
}

// For any index: the loop that defines the search. base = 0, size = n; while size > 1: half = size / 2,
// mid = base + half; if entry[mid] is greater than the key base stays, otherwise base = mid;
// size = size - half. Then entry[base] is compared once more.
Outcome defining_loop(const std::vector<IndexEntry>& entries, const Key& key,
                       std::uint32_t record_count) {
  const std::size_t n = entries.size();
  if (n == 0) return {};
  std::size_t base = 0;
  std::size_t size = n;
  while (size > 1) {
    const std::size_t half = size / 2;
    const std::size_t mid = base + half;
    const Key& e = entries[mid].key;
    const bool greater = e.group != key.group       ? e.group > key.group
                         : e.element != key.element ? e.element > key.element
                                                    : e.hash > key.hash;
    if (!greater) base = mid;
    size -= half;
  }
  return landed(entries, base, key, record_count);
}

constexpr SearchSteps kBothSteps[] = {SearchSteps::Branch, SearchSteps::Select};

// A key drawn from a small space, so that indexes hold duplicates and queries often hit.
Key small_key(std::mt19937& rng) {
  return {static_cast<std::uint16_t>(rng() % 5), static_cast<std::uint16_t>(rng() % 7),
          static_cast<std::uint32_t>(rng() % 3 == 0 ? 0 : rng() % 4)};
}

// Every key of the index, and keys absent below the first, above the last and between entries
// (each field one more and one less), plus random ones.
std::vector<Key> queries_for(const std::vector<IndexEntry>& entries, std::mt19937& rng) {
  std::vector<Key> out = {{0, 0, 0}, {0xFFFF, 0xFFFF, 0xFFFFFFFF}};
  for (const IndexEntry& e : entries) {
    const Key k = e.key;
    out.push_back(k);
    out.push_back({k.group, k.element, k.hash + 1});
    out.push_back({k.group, k.element, k.hash - 1});
    out.push_back({k.group, static_cast<std::uint16_t>(k.element + 1), k.hash});
    out.push_back({static_cast<std::uint16_t>(k.group - 1), k.element, k.hash});
  }
  for (int i = 0; i < 20; ++i) out.push_back(small_key(rng));
  return out;
}

// Record numbers: mostly valid, a few at or beyond the records array so that faults are met.
std::uint32_t record_index_for(std::size_t i, std::uint32_t record_count, std::mt19937& rng) {
  if (rng() % 16 == 0) return record_count + static_cast<std::uint32_t>(rng() % 2 ? 0 : rng());
  return static_cast<std::uint32_t>(i) % record_count;
}

void check_all(const std::vector<IndexEntry>& entries, std::uint32_t record_count, bool sorted,
               std::mt19937& rng) {
  const Arrays arrays(entries, record_count);
  for (const Key& key : queries_for(entries, rng)) {
    const Outcome expected = defining_loop(entries, key, record_count);
    if (sorted) {
      ASSERT_EQ(sorted_reference(entries, key, record_count), expected);
    }
    for (SearchSteps steps : kBothSteps) {
      ASSERT_EQ(arrays.find(key, steps), expected)
          << "size " << entries.size() << (sorted ? " sorted" : " unsorted") << ", key " << key.group
          << "," << key.element << "," << key.hash << ", steps "
          << (steps == SearchSteps::Branch ? "branch" : "select");
    }
  }
}

std::vector<IndexEntry> random_entries(std::size_t n, std::uint32_t record_count, std::mt19937& rng,
                                       bool wide) {
  std::vector<IndexEntry> entries;
  for (std::size_t i = 0; i < n; ++i) {
    Key k = small_key(rng);
    if (wide) {
      k = {static_cast<std::uint16_t>(rng()), static_cast<std::uint16_t>(rng()),
           rng() % 3 ? 0u : static_cast<std::uint32_t>(rng())};
    }
    entries.push_back({k, record_index_for(i, record_count, rng)});
  }
  return entries;
}

std::vector<std::size_t> sizes() {
  std::vector<std::size_t> out;
  for (std::size_t n = 0; n <= 300; ++n) out.push_back(n);
  for (std::size_t n : {511u, 512u, 513u, 1000u, 1023u, 1024u, 1025u, 4095u, 4097u, 20000u}) out.push_back(n);
  return out;
}

TEST(SearchDifferential, SortedRandomIndexesOfEverySize) {
  std::mt19937 rng(20240611);
  for (std::size_t n : sizes()) {
    for (bool wide : {false, true}) {
      const std::uint32_t record_count = static_cast<std::uint32_t>(n / 2 + 1);
      std::vector<IndexEntry> entries = random_entries(n, record_count, rng, wide);
      // Equal keys keep their order, as a writer leaves them.
      std::stable_sort(entries.begin(), entries.end(),
                       [](const IndexEntry& a, const IndexEntry& b) { return a.key < b.key; });
      check_all(entries, record_count, true, rng);
    }
  }
}

TEST(SearchDifferential, UnsortedIndexesFollowTheDefiningLoop) {
  std::mt19937 rng(7);
  for (std::size_t n : sizes()) {
    const std::uint32_t record_count = static_cast<std::uint32_t>(n + 1);
    std::vector<IndexEntry> entries = random_entries(n, record_count, rng, false);
    check_all(entries, record_count, false, rng);
    // Nearly sorted: one pair swapped, where a search that compared other entries would differ.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const IndexEntry& a, const IndexEntry& b) { return a.key < b.key; });
    if (n >= 2) std::swap(entries[rng() % n], entries[rng() % n]);
    check_all(entries, record_count, false, rng);
  }
}

TEST(SearchDifferential, BundledIndexAndItsPiecesOfManySizes) {
  auto opened = TatlDict::open(TAGATLAS_BUNDLED_TATL);
  ASSERT_TRUE(opened) << opened.error().message();
  const ResolvedRoot& root = opened.value().root();
  const IndexArray index = root.index();
  std::vector<IndexEntry> all;
  for (std::uint32_t i = 0; i < index.size(); ++i) {
    const ArchivedIndexEntry e = index[i];
    all.push_back({{e.group(), e.element(), e.creator_hash()}, e.record_index()});
  }
  ASSERT_GT(all.size(), 20000u);
  ASSERT_TRUE(std::is_sorted(all.begin(), all.end(),
                             [](const IndexEntry& a, const IndexEntry& b) { return a.key < b.key; }));
  const std::uint32_t record_count = root.records().size();

  std::mt19937 rng(3);
  check_all(all, record_count, true, rng);
  // Stretches of the real index starting anywhere: real key distributions at every small size.
  for (std::size_t n = 0; n <= 300; ++n) {
    const std::size_t start = rng() % (all.size() - n);
    const std::vector<IndexEntry> piece(all.begin() + static_cast<long>(start),
                                        all.begin() + static_cast<long>(start + n));
    check_all(piece, record_count, true, rng);
  }
}

// The same lookups through the handle, with both SearchSteps, against the sorted reference.
TEST(SearchDifferential, HandleLookupsAgreeForBothSteps) {
  auto opened = TatlDict::open(TAGATLAS_BUNDLED_TATL);
  ASSERT_TRUE(opened) << opened.error().message();
  const TatlDict& dict = opened.value();
  const IndexArray index = dict.root().index();
  for (std::uint32_t i = 0; i < index.size(); i += 7) {
    const ArchivedIndexEntry e = index[i];
    if (e.creator_hash() != 0) continue;  // public entries: no creator text to hash
    for (std::uint16_t element : {e.element(), static_cast<std::uint16_t>(e.element() + 1)}) {
      const auto branch = dict.lookup(e.group(), element, std::nullopt, SearchSteps::Branch);
      const auto select = dict.lookup(e.group(), element, std::nullopt, SearchSteps::Select);
      ASSERT_EQ(branch.has_value(), select.has_value());
      if (branch) {
        EXPECT_EQ(branch->record().address(), select->record().address());
      }
    }
  }
}

}  // namespace
}  // namespace tagatlas
