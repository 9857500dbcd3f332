#pragma once

// Chooses the keys of the bundled-dictionary cases by reading both dictionaries: only tags that
// both hold, private ones with the same creator spelling, so that every timed lookup is a hit on
// both sides; and misses that neither holds.

#include <cstddef>
#include <random>
#include <vector>

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dcdict.h"
#include "lookup/handle.h"
#include "queries.h"

namespace bench {

struct SharedKeys {
  std::vector<Key> public_keys;
  std::vector<Key> private_keys;
  std::size_t public_candidates = 0;   // keys both hold, before sampling
  std::size_t private_candidates = 0;
  std::size_t public_from_repeating = 0;  // sampled keys that come from DCMTK's repeating entries
  std::size_t private_from_repeating = 0;
};

// Walks DCMTK's normal and repeating entries (a repeating one by its first tag) and keeps the
// tags that tagatlas also finds: public ones without a creator, private ones in the block form
// (odd group, element below 0x100) whose tagatlas record carries DCMTK's creator spelling and
// is found through the respelled creator. Samples `n` of each kind; fails when there are fewer.
SharedKeys select_shared_keys(const tagatlas::TatlDict& tatl, DcmDataDictionary& dcmtk, std::size_t n,
                              std::mt19937_64& rng);

// `n` keys neither dictionary holds: half public (any group and element, no creator), half
// private (odd group, low byte, a creator taken from `private_keys`).
std::vector<Key> select_misses(const tagatlas::TatlDict& tatl, const DcmDataDictionary& dcmtk,
                               const std::vector<Key>& private_keys, std::size_t n,
                               std::mt19937_64& rng);

}  // namespace bench
