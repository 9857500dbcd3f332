// tagatlas against DCMTK's DcmDataDictionary, in one process and one run: opening the bundled
// dictionary, public and private hits and misses on keys both hold, and synthetic dictionaries of
// 15,000 and 1,000,000 entries. Prints medians of interleaved rounds and every ratio
// (tagatlas / other; below 1 means tagatlas is faster).
//
// Usage: bench_dcmtk [--rounds N] [--keys N] [--tatl FILE] [--dcmtk-dict FILE:FILE] [--work DIR]
//        bench_dcmtk --profile CASE [--seconds S]
// The second form runs only tagatlas's side of one case for S seconds (default 10), for a
// profiler; CASE is open, floor, public, private, miss, warm-15k or warm-1m. Its loop is
// bench::profile_loop, e.g. valgrind --tool=callgrind --toggle-collect='bench::profile_loop*'.

#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "cases.h"
#include "dcmtk/config/osconfig.h"
#include "opens.h"
#include "report.h"
#include "timing.h"

namespace bench {

struct Options {
  int rounds = 21;
  std::size_t keys = 1000;
  std::size_t random_keys = 10000;
  std::string tatl = TAGATLAS_BUNDLED_TATL;
  std::string dcmtk_dict = DCM_DICT_DEFAULT_PATH;  // DCMTK's own dicom.dic and private.dic
  std::string work = TAGATLAS_BENCH_WORK_DIR;
  std::string profile;
  double seconds = 10;
};

// Runs `op` until `seconds` have passed; returns how often. Not inlined, so a profiler can
// collect only inside it.
[[gnu::noinline]] std::size_t profile_loop(const std::function<std::uint64_t()>& op, double seconds) {
  const double end = now_ns() + seconds * 1e9;
  std::size_t runs = 0;
  while (now_ns() < end) {
    do_not_optimize(op());
    ++runs;
  }
  return runs;
}

namespace {

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; i += 2) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) throw std::runtime_error("option " + arg + " needs a value");
    const std::string value = argv[i + 1];
    if (arg == "--rounds") o.rounds = std::stoi(value);
    else if (arg == "--keys") o.keys = std::stoul(value);
    else if (arg == "--tatl") o.tatl = value;
    else if (arg == "--dcmtk-dict") o.dcmtk_dict = value;
    else if (arg == "--work") o.work = value;
    else if (arg == "--profile") o.profile = value;
    else if (arg == "--seconds") o.seconds = std::stod(value);
    else throw std::runtime_error("unknown option " + arg);
  }
  return o;
}

std::vector<std::string> split_paths(const std::string& paths) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t end; (end = paths.find(ENVIRONMENT_PATH_SEPARATOR, start)) != std::string::npos;
       start = end + 1) {
    out.push_back(paths.substr(start, end - start));
  }
  out.push_back(paths.substr(start));
  return out;
}

std::string cpu_model() {
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown CPU";
}

Side tatl_lookups(const tagatlas::TatlDict& dict, const Queries& q,
                  tagatlas::SearchSteps steps = tagatlas::SearchSteps::Branch) {
  return repeated([&dict, &q, steps] { return lookup_all(dict, q.tatl(), steps); }, q.size());
}

Side dcmtk_lookups(const DcmDataDictionary& dict, const Queries& q) {
  return repeated([&dict, &q] { return lookup_all(dict, q.dcmtk()); }, q.size());
}

Side tatl_open(const std::string& path) {
  return self_timed([path] { return time_tatl_open(path); });
}

Side open_floor(const std::string& path) {
  return self_timed([path] { return time_open_floor(path); });
}

void check(const BundledCases& b) {
  std::printf("tagatlas %s: %zu entries\n", b.tatl_path.c_str(), b.tatl.len());
  std::printf("DCMTK");
  for (const std::string& f : b.dcmtk_files) std::printf(" %s", f.c_str());
  std::printf(": %d normal and %d repeating entries\n", b.dcmtk->numberOfNormalTagEntries(),
              b.dcmtk->numberOfRepeatingTagEntries());
  std::printf("held by both: %zu public and %zu private keys (same creator spelling); of the %zu "
              "sampled of each, %zu public and %zu private come from DCMTK's repeating entries\n",
              b.shared.public_candidates, b.shared.private_candidates, b.publics.size(),
              b.shared.public_from_repeating, b.shared.private_from_repeating);
  require_hits("public hit", b.tatl, *b.dcmtk, b.publics, true);
  require_hits("private hit", b.tatl, *b.dcmtk, b.privates, true);
  require_hits("miss", b.tatl, *b.dcmtk, b.misses, false);
}

void check(const SyntheticCases& s) {
  for (const SyntheticDict* d : {&s.small, &s.large}) {
    std::printf("synthetic %zu entries: %s; DCMTK's addEntry of them took %.0f ms\n",
                d->entries.size(), d->path.c_str(), d->dcmtk_build_ns / 1e6);
  }
  require_hits("15k, warm keys", s.small.tatl, *s.small.dcmtk, s.warm, true);
  require_hits("1M, the same keys", s.large.tatl, *s.large.dcmtk, s.warm, true);
  require_hits("15k, random keys", s.small.tatl, *s.small.dcmtk, s.random_small, true);
  require_hits("1M, random keys", s.large.tatl, *s.large.dcmtk, s.random_large, true);
}

void measure(const Options& o, const BundledCases& b, const SyntheticCases& s, std::vector<Row>& rows,
             std::vector<std::string>& notes) {
  {
    const auto m = interleaved(o.rounds, {tatl_open(b.tatl_path), open_floor(b.tatl_path),
                                          self_timed([&] { return time_dcmtk_load(b.dcmtk_files); })});
    rows.push_back({"open bundled (DCMTK: dicom.dic+private.dic)", m[0], m[2], "DCMTK", {}, {}});
    rows.push_back({"open bundled / its floor", m[0], m[1], "floor", 1.1, {}});
  }
  const struct {
    const char* name;
    const Queries& q;
    double goal;
  } bundled[] = {
      {"public hit", b.publics, 1.5}, {"private hit", b.privates, 1.5}, {"miss", b.misses, 0.5}};
  for (const auto& c : bundled) {
    const auto m = interleaved(o.rounds, {tatl_lookups(b.tatl, c.q), dcmtk_lookups(*b.dcmtk, c.q)});
    rows.push_back({c.name, m[0], m[1], "DCMTK", c.goal, {}});
  }
  {
    const auto m = interleaved(o.rounds, {tatl_lookups(s.small.tatl, s.warm),
                                          dcmtk_lookups(*s.small.dcmtk, s.warm),
                                          tatl_lookups(s.large.tatl, s.warm),
                                          dcmtk_lookups(*s.large.dcmtk, s.warm)});
    rows.push_back({"15k: 1,000 warm keys", m[0], m[1], "DCMTK", {}, {}});
    rows.push_back({"1M: the same 1,000 warm keys", m[2], m[3], "DCMTK", {}, {}});
    rows.push_back({"1M / 15k, warm keys", m[2], m[0], "15k", 2.0, {}});
    char note[96];
    std::snprintf(note, sizeof note, "DCMTK's 1M / 15k, warm keys: %.1fx", m[3].median / m[1].median);
    notes.push_back(note);
  }
  {
    const auto m = interleaved(o.rounds, {tatl_lookups(s.small.tatl, s.random_small),
                                          dcmtk_lookups(*s.small.dcmtk, s.random_small),
                                          tatl_lookups(s.large.tatl, s.random_large),
                                          dcmtk_lookups(*s.large.dcmtk, s.random_large)});
    rows.push_back({"15k: random keys", m[0], m[1], "DCMTK", {}, {}});
    rows.push_back({"1M: random keys", m[2], m[3], "DCMTK", {}, {}});
  }
  {
    // Keys in no order the branch predictor learns: the search that selects, against the default
    // that branches (the extension's choice, since its lookups come one at a time).
    using tagatlas::SearchSteps;
    const auto m = interleaved(o.rounds, {tatl_lookups(s.small.tatl, s.random_small, SearchSteps::Select),
                                          tatl_lookups(s.small.tatl, s.random_small),
                                          tatl_lookups(s.large.tatl, s.random_large, SearchSteps::Select),
                                          tatl_lookups(s.large.tatl, s.random_large)});
    rows.push_back({"15k: random keys, select / branch steps", m[0], m[1], "branch", {}, {}});
    rows.push_back({"1M: random keys, select / branch steps", m[2], m[3], "branch", {}, {}});
  }
  {
    const auto m = interleaved(o.rounds, {tatl_open(s.small.path), open_floor(s.small.path),
                                          tatl_open(s.large.path), open_floor(s.large.path)});
    rows.push_back({"open 15k / its floor", m[0], m[1], "floor", {}, {}});
    rows.push_back({"open 1M / its floor", m[2], m[3], "floor", {}, 10e6});
  }
}

int profile(const Options& o, std::mt19937_64& rng) {
  const BundledCases b(o.tatl, split_paths(o.dcmtk_dict), o.keys, rng);
  std::function<std::uint64_t()> op;
  std::unique_ptr<SyntheticCases> s;
  if (o.profile == "open") {
    op = [&] { return static_cast<std::uint64_t>(time_tatl_open(b.tatl_path)); };
  } else if (o.profile == "floor") {
    op = [&] { return static_cast<std::uint64_t>(time_open_floor(b.tatl_path)); };
  } else if (o.profile == "public" || o.profile == "private" || o.profile == "miss") {
    const Queries* q = o.profile == "public"    ? &b.publics
                       : o.profile == "private" ? &b.privates
                                                : &b.misses;
    op = [&b, q] { return lookup_all(b.tatl, q->tatl()); };
  } else if (o.profile == "warm-15k" || o.profile == "warm-1m") {
    s = std::make_unique<SyntheticCases>(o.work, o.keys, o.random_keys, rng);
    const tagatlas::TatlDict* d = o.profile == "warm-15k" ? &s->small.tatl : &s->large.tatl;
    op = [d, q = &s->warm] { return lookup_all(*d, q->tatl()); };
  } else {
    throw std::runtime_error("unknown case " + o.profile);
  }
  const std::size_t runs = profile_loop(op, o.seconds);
  std::printf("%s: %zu runs in %.1f s\n", o.profile.c_str(), runs, o.seconds);
  return 0;
}

int run(const Options& o) {
  std::mt19937_64 rng(20240611);
  if (!o.profile.empty()) return profile(o, rng);
  std::printf("tagatlas against DCMTK %s; %d interleaved rounds, medians; %s\n\n", PACKAGE_VERSION,
              o.rounds, cpu_model().c_str());
  const BundledCases bundled(o.tatl, split_paths(o.dcmtk_dict), o.keys, rng);
  check(bundled);
  const SyntheticCases synthetic(o.work, o.keys, o.random_keys, rng);
  check(synthetic);
  std::printf("\n");
  std::vector<Row> rows;
  std::vector<std::string> notes;
  measure(o, bundled, synthetic, rows, notes);
  print_table(rows);
  for (const std::string& note : notes) std::printf("%s\n", note.c_str());
  return 0;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  try {
    return bench::run(bench::parse(argc, argv));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_dcmtk: %s\n", e.what());
    return 1;
  }
}
