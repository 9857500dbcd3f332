#include "queries.h"

namespace bench {

std::string respelled(std::string_view creator) {
  std::string out = " ";
  for (char c : creator) {
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (c == ' ') out += ' ';
  }
  return out;
}

Queries::Queries(std::vector<Key> keys) : keys_(std::move(keys)) {
  // The texts are complete before any view of them is taken: the vectors do not move them again.
  respelled_.reserve(keys_.size());
  for (const Key& key : keys_) respelled_.push_back(key.creator ? respelled(*key.creator) : "");
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    const Key& key = keys_[i];
    std::optional<std::string_view> creator;
    if (key.creator) creator = respelled_[i];
    tatl_.push_back({key.group, key.element, creator});
    dcmtk_.push_back({DcmTagKey(key.group, key.element), key.creator ? key.creator->c_str() : nullptr});
  }
}

std::uint64_t lookup_all(const tagatlas::TatlDict& dict, std::span<const Queries::Tatl> queries,
                         tagatlas::SearchSteps steps) {
  std::uint64_t sum = 0;
  for (const Queries::Tatl& q : queries) {
    const auto view = dict.lookup(q.group, q.element, q.creator, steps);
    sum += view ? view->record().group() + 1u : 0u;
  }
  return sum;
}

std::uint64_t lookup_all(const DcmDataDictionary& dict, std::span<const Queries::Dcmtk> queries) {
  std::uint64_t sum = 0;
  for (const Queries::Dcmtk& q : queries) {
    const DcmDictEntry* entry = dict.findEntry(q.key, q.creator);
    sum += entry ? entry->getGroup() + 1u : 0u;
  }
  return sum;
}

std::size_t count_hits(const tagatlas::TatlDict& dict, std::span<const Queries::Tatl> queries) {
  std::size_t hits = 0;
  for (const Queries::Tatl& q : queries) hits += dict.lookup(q.group, q.element, q.creator) ? 1 : 0;
  return hits;
}

std::size_t count_hits(const DcmDataDictionary& dict, std::span<const Queries::Dcmtk> queries) {
  std::size_t hits = 0;
  for (const Queries::Dcmtk& q : queries) hits += dict.findEntry(q.key, q.creator) ? 1 : 0;
  return hits;
}

}  // namespace bench
