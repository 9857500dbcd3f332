#!/usr/bin/env bash
# Builds the libFuzzer target with clang (ASan + UBSan) and fuzzes the library for a given number
# of seconds (default 60), starting from a freshly generated seed corpus plus whatever corpus
# earlier runs kept in .fuzz/. Fails on any finding; crash inputs are left in .fuzz/findings/.
source "$(dirname "$0")/lib.sh"
seconds=${1:-60}
setup clang libclang-rt-14-dev libfuzzer-14-dev
install_package
cd "$ROOT"

CXX=clang++ cmake -S "$ROOT" -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAGATLAS_FUZZ=ON -DTAGATLAS_BUILD_TESTS=OFF >/dev/null
cmake --build build/fuzz -j "$(nproc)"

mkdir -p .fuzz/seeds .fuzz/corpus .fuzz/findings
"$PY" fuzz/make_corpus.py .fuzz/seeds
log "fuzzing for ${seconds}s"
build/fuzz/fuzz/tatl_fuzz .fuzz/corpus .fuzz/seeds \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -artifact_prefix=.fuzz/findings/ -print_final_stats=1
