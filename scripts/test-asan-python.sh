#!/usr/bin/env bash
# Runs the Python test suite against an AddressSanitizer + UBSan build of the extension, with the
# sanitizer runtimes preloaded into the interpreter and leak detection on. Leaks that belong to
# the interpreter itself (objects it keeps until exit) are suppressed by tests/lsan.supp; anything
# allocated through the library or the extension is still reported.
source "$(dirname "$0")/lib.sh"
setup
cd "$ROOT"

build=build/py-asan
cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAGATLAS_SANITIZE=ON \
  -DTAGATLAS_BUILD_PYTHON=ON -DTAGATLAS_BUILD_TESTS=OFF -DTAGATLAS_INSTALL=OFF \
  -DPython3_EXECUTABLE="$PY" >/dev/null
cmake --build "$build" -j "$(nproc)"

# A package tree with the sanitized extension beside the package's Python files.
stage="$build/stage"
rm -rf "$stage"
mkdir -p "$stage"
cp -r python/tagatlas "$stage/"
rm -f "$stage"/tagatlas/*.so  # an extension built elsewhere must not stand in for this one
cmake --install "$build" --prefix "$stage" >/dev/null

preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
log "Python tests under ASan + UBSan"
LD_PRELOAD="$preload" \
ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:malloc_context_size=2" \
LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
PYTHONPATH="$ROOT/$stage" PYTHONMALLOC=malloc \
  "$PY" -m pytest -q -p no:cacheprovider -p no:randomly "$@"
