#include "synthetic.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <stdexcept>

#include "dcmtk/dcmdata/dcdicent.h"
#include "dcmtk/dcmdata/dcvr.h"
#include "schema/constants.h"
#include "schema/creator.h"
#include "schema/records.h"

namespace bench {
namespace {

using tagatlas::layout::Dictionary;
using tagatlas::layout::IndexEntry;
using tagatlas::layout::TagRecord;
using tagatlas::layout::Vector;

constexpr std::size_t kCreators = 1024;
constexpr std::size_t kKeywordLen = 16;  // "Synthetic" and seven hex digits
constexpr std::size_t kKeywordStride = kKeywordLen + 1;
constexpr std::uint8_t kVrLo = 10;
constexpr std::string_view kDescription = "VM 1";
constexpr std::string_view kSources = "synthetic";

// splitmix64: a small, fast generator whose sequence is the same on every platform.
struct SplitMix {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
};

std::uint64_t sort_key(std::uint16_t group, std::uint16_t element, std::uint32_t hash) {
  return (std::uint64_t{group} << 48) | (std::uint64_t{element} << 32) | hash;
}

void put_u16(std::vector<unsigned char>& out, std::size_t at, std::uint16_t v) {
  out[at] = static_cast<unsigned char>(v);
  out[at + 1] = static_cast<unsigned char>(v >> 8);
}

void put_u32(std::vector<unsigned char>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// Points the root's vector field at `field` (a file offset) to the file offset `target`.
void put_vector(std::vector<unsigned char>& out, std::size_t field, std::size_t target,
                std::size_t count) {
  const std::int64_t offset = static_cast<std::int64_t>(target) - static_cast<std::int64_t>(field);
  put_u32(out, field + offsetof(Vector, offset), static_cast<std::uint32_t>(offset));
  put_u32(out, field + offsetof(Vector, count), static_cast<std::uint32_t>(count));
}

}  // namespace

Synthetic::Synthetic(std::vector<std::string> creators, std::vector<Entry> entries)
    : creators_(std::move(creators)), entries_(std::move(entries)) {
  keywords_.reserve(entries_.size() * kKeywordStride);
  char text[kKeywordStride + 1];
  for (const Entry& e : entries_) {
    std::snprintf(text, sizeof text, "Synthetic%07X", static_cast<unsigned>(e.id));
    keywords_.append(text, kKeywordLen);
    keywords_ += '\0';
  }
}

Synthetic Synthetic::generate(std::size_t n, std::uint64_t seed) {
  std::vector<std::string> creators;
  std::vector<std::uint32_t> hashes;
  for (std::size_t i = 0; i < kCreators; ++i) {
    char text[32];
    std::snprintf(text, sizeof text, "SYNTH VENDOR %04zu", i);
    creators.emplace_back(text);
    hashes.push_back(tagatlas::hash_creator(creators.back()));
  }
  // Distinct creators must be distinct keys, and none may look like "no creator" (hash 0).
  const std::set<std::uint32_t> distinct(hashes.begin(), hashes.end());
  if (distinct.size() != kCreators || distinct.contains(0)) {
    throw std::runtime_error("two synthetic creators share a hash");
  }

  SplitMix rng{seed};
  std::vector<Entry> entries;
  while (entries.size() < n) {
    for (std::size_t i = entries.size(); i < n; ++i) {
      // Bit 0 chooses the kind, bits 1-20 the group, bits 21-36 the element, 37 on the creator.
      const std::uint64_t r = rng.next();
      const auto group_step = static_cast<std::uint16_t>(2 * (((r >> 1) & 0xFFFFF) % 0x3FFC));
      const auto element_bits = static_cast<std::uint16_t>(r >> 21);
      Entry e{};
      if (r & 1) {
        e.group = static_cast<std::uint16_t>(0x0009 + group_step);
        e.element = element_bits & 0xFF;
        e.creator = static_cast<std::int32_t>((r >> 37) % kCreators);
        e.creator_hash = hashes[e.creator];
      } else {
        e.group = static_cast<std::uint16_t>(0x0008 + group_step);
        e.element = static_cast<std::uint16_t>(1 + element_bits % 0xFFFF);
        e.creator = -1;
      }
      entries.push_back(e);
    }
    const auto key = [](const Entry& e) { return sort_key(e.group, e.element, e.creator_hash); };
    std::sort(entries.begin(), entries.end(),
              [&](const Entry& a, const Entry& b) { return key(a) < key(b); });
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [&](const Entry& a, const Entry& b) { return key(a) == key(b); }),
                  entries.end());
  }
  for (std::size_t i = 0; i < entries.size(); ++i) entries[i].id = static_cast<std::uint32_t>(i);
  return Synthetic(std::move(creators), std::move(entries));
}

Synthetic Synthetic::spread_subset(std::size_t n) const {
  std::vector<Entry> subset;
  for (std::size_t i = 0; i < n; ++i) subset.push_back(entries_[i * entries_.size() / n]);
  return Synthetic(creators_, std::move(subset));
}

std::string_view Synthetic::keyword(std::size_t i) const {
  return std::string_view(keywords_).substr(i * kKeywordStride, kKeywordLen);
}

Key Synthetic::key(std::size_t i) const {
  const Entry& e = entries_[i];
  Key key{e.group, e.element, std::nullopt};
  if (e.creator >= 0) key.creator = creators_[e.creator];
  return key;
}

void Synthetic::write_tatl(const std::string& path) const {
  // The pool: creators, the shared description and sources, then the keywords (their NUL
  // terminators stay in the pool between the texts).
  std::string pool;
  std::vector<std::uint32_t> creator_at;
  for (const std::string& c : creators_) {
    creator_at.push_back(static_cast<std::uint32_t>(pool.size()));
    pool += c;
  }
  const auto description_at = static_cast<std::uint32_t>(pool.size());
  pool += kDescription;
  const auto sources_at = static_cast<std::uint32_t>(pool.size());
  pool += kSources;
  const auto keywords_at = static_cast<std::uint32_t>(pool.size());
  pool += keywords_;

  const std::size_t n = entries_.size();
  const std::size_t index_at = tagatlas::kHeaderLen;
  const std::size_t records_at = index_at + n * tagatlas::kIndexEntrySize;
  const std::size_t pool_at = records_at + n * tagatlas::kTagRecordSize;
  const std::size_t root_at = (pool_at + pool.size() + 3) / 4 * 4;
  std::vector<unsigned char> out(root_at + tagatlas::kRootSize, 0);

  std::copy(tagatlas::kMagic.begin(), tagatlas::kMagic.end(), out.begin());
  put_u16(out, 4, tagatlas::kSupportedVersion);
  for (std::size_t i = 0; i < n; ++i) {
    const Entry& e = entries_[i];
    const std::size_t ix = index_at + i * tagatlas::kIndexEntrySize;
    put_u32(out, ix + offsetof(IndexEntry, creator_hash), e.creator_hash);
    put_u32(out, ix + offsetof(IndexEntry, record_index), static_cast<std::uint32_t>(i));
    put_u16(out, ix + offsetof(IndexEntry, group), e.group);
    put_u16(out, ix + offsetof(IndexEntry, element), e.element);

    const std::size_t rec = records_at + i * tagatlas::kTagRecordSize;
    const auto keyword_at = static_cast<std::uint32_t>(keywords_at + i * kKeywordStride);
    put_u32(out, rec + offsetof(TagRecord, keyword_offset), keyword_at);
    put_u32(out, rec + offsetof(TagRecord, name_offset), keyword_at);
    put_u32(out, rec + offsetof(TagRecord, creator_offset), e.creator >= 0 ? creator_at[e.creator] : 0);
    put_u32(out, rec + offsetof(TagRecord, description_offset), description_at);
    put_u32(out, rec + offsetof(TagRecord, description_len), kDescription.size());
    put_u32(out, rec + offsetof(TagRecord, sources_offset), sources_at);
    put_u32(out, rec + offsetof(TagRecord, sources_len), kSources.size());
    put_u16(out, rec + offsetof(TagRecord, group), e.group);
    put_u16(out, rec + offsetof(TagRecord, element), e.element);
    put_u16(out, rec + offsetof(TagRecord, keyword_len), kKeywordLen);
    put_u16(out, rec + offsetof(TagRecord, name_len), kKeywordLen);
    put_u16(out, rec + offsetof(TagRecord, creator_len),
            e.creator >= 0 ? static_cast<std::uint16_t>(creators_[e.creator].size()) : 0);
    out[rec + offsetof(TagRecord, vr)] = kVrLo;
    out[rec + offsetof(TagRecord, element_is_block_offset)] = e.creator >= 0 ? 1 : 0;
  }
  std::copy(pool.begin(), pool.end(), out.begin() + pool_at);
  put_vector(out, root_at + offsetof(Dictionary, index), index_at, n);
  put_vector(out, root_at + offsetof(Dictionary, records), records_at, n);
  put_vector(out, root_at + offsetof(Dictionary, strings), pool_at, pool.size());

  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path);
}

void Synthetic::add_to(DcmDataDictionary& dict) const {
  // DCMTK keeps each hash bucket as a sorted list and inserts by scanning it from the front.
  // Descending key order puts every entry at the front of its bucket, so a million entries take
  // a second instead of most of a minute; the lists come out sorted the same way.
  for (std::size_t i = entries_.size(); i-- > 0;) {
    const Entry& e = entries_[i];
    const char* creator = e.creator >= 0 ? creators_[e.creator].c_str() : nullptr;
    dict.addEntry(new DcmDictEntry(e.group, e.element, DcmVR(EVR_LO), keyword(i).data(), 1, 1,
                                   "synthetic", OFFalse, creator));
  }
}

}  // namespace bench
