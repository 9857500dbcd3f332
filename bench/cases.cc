#include "cases.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "timing.h"

namespace bench {

tagatlas::TatlDict open_tatl(const std::string& path) {
  auto dict = tagatlas::TatlDict::open(path);
  if (!dict) throw std::runtime_error("cannot open " + path + ": " + dict.error().message());
  return std::move(dict).value();
}

namespace {

std::unique_ptr<DcmDataDictionary> load_dcmtk(const std::vector<std::string>& files) {
  auto dict = std::make_unique<DcmDataDictionary>(OFFalse, OFFalse);
  for (const std::string& path : files) {
    if (!dict->loadDictionary(path.c_str())) throw std::runtime_error("DCMTK cannot load " + path);
  }
  return dict;
}

tagatlas::TatlDict write_and_open(const Synthetic& entries, const std::string& path) {
  entries.write_tatl(path);
  return open_tatl(path);
}

std::vector<Key> spread_keys(const Synthetic& s, std::size_t n, std::mt19937_64& rng) {
  std::vector<Key> keys;
  for (std::size_t i = 0; i < n; ++i) keys.push_back(s.key(i * s.size() / n));
  std::shuffle(keys.begin(), keys.end(), rng);
  return keys;
}

std::vector<Key> random_keys(const Synthetic& s, std::size_t n, std::mt19937_64& rng) {
  std::uniform_int_distribution<std::size_t> pick(0, s.size() - 1);
  std::vector<Key> keys;
  for (std::size_t i = 0; i < n; ++i) keys.push_back(s.key(pick(rng)));
  return keys;
}

}  // namespace

BundledCases::BundledCases(const std::string& tatl_path_, std::vector<std::string> dcmtk_files_,
                           std::size_t keys, std::mt19937_64& rng)
    : tatl_path(tatl_path_),
      dcmtk_files(std::move(dcmtk_files_)),
      tatl(open_tatl(tatl_path)),
      dcmtk(load_dcmtk(dcmtk_files)),
      shared(select_shared_keys(tatl, *dcmtk, keys, rng)),
      publics(shared.public_keys),
      privates(shared.private_keys),
      misses(select_misses(tatl, *dcmtk, shared.private_keys, keys, rng)) {}

SyntheticDict::SyntheticDict(Synthetic entries_, const std::string& work_dir)
    : entries(std::move(entries_)),
      path(work_dir + "/synthetic-" + std::to_string(entries.size()) + ".tatl"),
      tatl(write_and_open(entries, path)),
      dcmtk(std::make_unique<DcmDataDictionary>(OFFalse, OFFalse)) {
  const double start = now_ns();
  entries.add_to(*dcmtk);
  dcmtk_build_ns = now_ns() - start;
}

SyntheticCases::SyntheticCases(const std::string& work_dir, std::size_t warm_keys,
                               std::size_t random_count, std::mt19937_64& rng)
    : large(Synthetic::generate(1000000, 42), work_dir),
      small(large.entries.spread_subset(15000), work_dir),
      warm(spread_keys(small.entries, warm_keys, rng)),
      random_small(random_keys(small.entries, random_count, rng)),
      random_large(random_keys(large.entries, random_count, rng)) {}

void require_hits(const std::string& what, const tagatlas::TatlDict& tatl,
                  const DcmDataDictionary& dcmtk, const Queries& q, bool hits) {
  const std::size_t ours = count_hits(tatl, q.tatl());
  const std::size_t theirs = count_hits(dcmtk, q.dcmtk());
  const std::size_t want = hits ? q.size() : 0;
  if (ours != want || theirs != want) {
    throw std::runtime_error(what + ": tagatlas finds " + std::to_string(ours) + " and DCMTK " +
                             std::to_string(theirs) + " of " + std::to_string(q.size()) + " keys");
  }
  std::printf(hits ? "%-22s all %zu keys hit on both sides\n"
                   : "%-22s none of %zu keys hits on either side\n",
              (what + ":").c_str(), q.size());
}

}  // namespace bench
