#pragma once

// The dictionaries and keys of every case, set up once and checked before anything is timed.

#include <cstddef>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dcdict.h"
#include "key_selection.h"
#include "lookup/handle.h"
#include "queries.h"
#include "synthetic.h"

namespace bench {

// Opens a dictionary or throws std::runtime_error with the library's message.
tagatlas::TatlDict open_tatl(const std::string& path);

// The bundled dictionary and DCMTK's dictionary files (dicom.dic and private.dic), with keys both
// hold and misses.
struct BundledCases {
  BundledCases(const std::string& tatl_path, std::vector<std::string> dcmtk_files, std::size_t keys,
               std::mt19937_64& rng);
  BundledCases(const BundledCases&) = delete;
  BundledCases& operator=(const BundledCases&) = delete;

  const std::string tatl_path;
  const std::vector<std::string> dcmtk_files;
  const tagatlas::TatlDict tatl;
  const std::unique_ptr<DcmDataDictionary> dcmtk;
  SharedKeys shared;
  const Queries publics;
  const Queries privates;
  const Queries misses;
};

// One synthetic size: its entries, its file, an open handle and DCMTK's dictionary of the same
// entries (which borrows their texts, so `entries` stays where it is).
struct SyntheticDict {
  SyntheticDict(Synthetic entries, const std::string& work_dir);
  SyntheticDict(const SyntheticDict&) = delete;
  SyntheticDict& operator=(const SyntheticDict&) = delete;

  const Synthetic entries;
  const std::string path;
  const tagatlas::TatlDict tatl;
  const std::unique_ptr<DcmDataDictionary> dcmtk;
  double dcmtk_build_ns = 0;  // the addEntry calls
};

// A 1,000,000-entry dictionary and a 15,000-entry one spread over its key space, so the same warm
// keys are held by both; and random keys over each whole dictionary.
struct SyntheticCases {
  SyntheticCases(const std::string& work_dir, std::size_t warm_keys, std::size_t random_keys,
                 std::mt19937_64& rng);

  const SyntheticDict large;
  const SyntheticDict small;
  const Queries warm;
  const Queries random_small;
  const Queries random_large;
};

// Fails unless both sides find every key (hits) or none (misses); prints what it checked.
void require_hits(const std::string& what, const tagatlas::TatlDict& tatl,
                  const DcmDataDictionary& dcmtk, const Queries& q, bool hits);

}  // namespace bench
