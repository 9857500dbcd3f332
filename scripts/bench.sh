#!/usr/bin/env bash
# Builds the C++ benchmark against DCMTK's data dictionary (Release, in build/bench) and runs it:
# opening, public and private hits and misses on the bundled dictionary, and synthetic
# dictionaries of 15,000 and 1,000,000 entries, as medians and ratios measured in one run.
# Arguments go to the benchmark, e.g. `bash scripts/bench.sh --rounds 31`, or
# `--profile public --seconds 5` to run one case alone under a profiler.
# The Python-level benchmark against pydicom is `python bench/bench_lookup.py`.
source "$(dirname "$0")/lib.sh"
setup libdcmtk-dev
cd "$ROOT"

build=build/bench
cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAGATLAS_BUILD_TESTS=OFF \
  -DTAGATLAS_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target bench_dcmtk
exec "$build/bench/bench_dcmtk" "$@"
