#include "key_selection.h"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>

namespace bench {
namespace {

// The lookup as the timed loops make it: the creator respelled.
std::optional<tagatlas::TagView> tatl_find(const tagatlas::TatlDict& tatl, const Key& key) {
  if (!key.creator) return tatl.lookup(key.group, key.element, std::nullopt);
  return tatl.lookup(key.group, key.element, respelled(*key.creator));
}

bool tatl_holds(const tagatlas::TatlDict& tatl, const Key& key) {
  const auto view = tatl_find(tatl, key);
  if (!view || !key.creator) return view.has_value();
  return view->record().element_is_block_offset() && view->creator() == *key.creator;
}

bool dcmtk_holds(const DcmDataDictionary& dcmtk, const Key& key) {
  return dcmtk.findEntry(DcmTagKey(key.group, key.element),
                         key.creator ? key.creator->c_str() : nullptr) != nullptr;
}

struct Candidate {
  Key key;
  bool repeating;
};

// Keeps a DCMTK entry's first tag when both dictionaries hold it, once per key.
void consider(const DcmDictEntry& entry, bool repeating, const tagatlas::TatlDict& tatl,
              const DcmDataDictionary& dcmtk, std::set<std::tuple<int, int, std::string>>& seen,
              std::vector<Candidate>& publics, std::vector<Candidate>& privates) {
  Key key{entry.getGroup(), entry.getElement(), std::nullopt};
  if (const char* creator = entry.getPrivateCreator()) {
    if (key.group % 2 == 0 || key.element > 0xFF) return;
    key.creator = creator;
  }
  if (!seen.emplace(key.group, key.element, key.creator.value_or("")).second) return;
  if (!tatl_holds(tatl, key) || !dcmtk_holds(dcmtk, key)) return;
  (key.creator ? privates : publics).push_back({std::move(key), repeating});
}

std::vector<Key> sample(std::vector<Candidate> candidates, std::size_t n, std::mt19937_64& rng,
                        std::size_t& from_repeating, const char* kind) {
  if (candidates.size() < n) {
    throw std::runtime_error(std::string("only ") + std::to_string(candidates.size()) + " " + kind +
                             " keys are held by both dictionaries, " + std::to_string(n) + " needed");
  }
  std::shuffle(candidates.begin(), candidates.end(), rng);
  std::vector<Key> keys;
  from_repeating = 0;
  for (std::size_t i = 0; i < n; ++i) {
    from_repeating += candidates[i].repeating ? 1 : 0;
    keys.push_back(std::move(candidates[i].key));
  }
  return keys;
}

}  // namespace

SharedKeys select_shared_keys(const tagatlas::TatlDict& tatl, DcmDataDictionary& dcmtk, std::size_t n,
                              std::mt19937_64& rng) {
  std::set<std::tuple<int, int, std::string>> seen;
  std::vector<Candidate> publics, privates;
  for (auto it = dcmtk.normalBegin(); it != dcmtk.normalEnd(); ++it) {
    consider(**it, false, tatl, dcmtk, seen, publics, privates);
  }
  for (auto it = dcmtk.repeatingBegin(); it != dcmtk.repeatingEnd(); ++it) {
    consider(**it, true, tatl, dcmtk, seen, publics, privates);
  }
  SharedKeys out;
  out.public_candidates = publics.size();
  out.private_candidates = privates.size();
  out.public_keys = sample(std::move(publics), n, rng, out.public_from_repeating, "public");
  out.private_keys = sample(std::move(privates), n, rng, out.private_from_repeating, "private");
  return out;
}

std::vector<Key> select_misses(const tagatlas::TatlDict& tatl, const DcmDataDictionary& dcmtk,
                               const std::vector<Key>& private_keys, std::size_t n,
                               std::mt19937_64& rng) {
  std::uniform_int_distribution<int> u16(0, 0xFFFF), low_byte(0, 0xFF);
  std::uniform_int_distribution<std::size_t> pick(0, private_keys.size() - 1);
  std::vector<Key> misses;
  while (misses.size() < n) {
    Key key;
    if (misses.size() % 2 == 0) {
      key = {static_cast<std::uint16_t>(u16(rng)), static_cast<std::uint16_t>(u16(rng)), std::nullopt};
    } else {
      key = {static_cast<std::uint16_t>(u16(rng) | 1), static_cast<std::uint16_t>(low_byte(rng)),
             private_keys[pick(rng)].creator};
    }
    if (!tatl_find(tatl, key) && !dcmtk_holds(dcmtk, key)) misses.push_back(std::move(key));
  }
  return misses;
}

}  // namespace bench
