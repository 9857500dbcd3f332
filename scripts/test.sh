#!/usr/bin/env bash
# Sets up everything and runs all tests: the C++ suite (plain and under ASan + UBSan) and the
# Python suite against the installed package.
source "$(dirname "$0")/lib.sh"
setup
cd "$ROOT"

cpp_suite() {  # build dir, extra cmake args...
  local dir=$1
  shift
  log "C++ tests in $dir"
  cmake -S "$ROOT" -B "$dir" -G Ninja -DPython3_EXECUTABLE="$PY" "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
  (cd "$dir" && ctest -j "$(nproc)" --output-on-failure)
}

cpp_suite build/cpp -DCMAKE_BUILD_TYPE=RelWithDebInfo
cpp_suite build/cpp-asan -DCMAKE_BUILD_TYPE=Debug -DTAGATLAS_SANITIZE=ON

# The C++ package installed and used by a separate CMake project and through pkg-config.
bash "$ROOT/scripts/test-cpp-package.sh"

install_package
log "Python tests"
"$PY" -m pytest -q -p no:randomly "$@"
bash "$ROOT/scripts/test-orders.sh" "$@"

# pydicom's own suite, as it is and with tagatlas answering its dictionary questions.
bash "$ROOT/scripts/test-pydicom-suite.sh"

# The same Python suite against the sanitized extension.
bash "$ROOT/scripts/test-asan-python.sh"

# The sdist and the wheel, built and smoke-tested as users get them.
bash "$ROOT/scripts/test-wheel.sh"

# Last: the README's own sessions, which use what the steps above test.
bash "$ROOT/scripts/test-readme.sh"
