#!/usr/bin/env bash
# The C++ package as a program gets it: installs the library into a temporary prefix, moves the
# prefix (the package must not depend on where it was installed), and builds examples/cpp against
# it twice, with CMake's find_package and with pkg-config. Both programs must print what
# docs/cpp.md shows, and the installed headers must be exactly those <tagatlas/tagatlas.h> reaches.
source "$(dirname "$0")/lib.sh"
need_debs "${BASE_DEBS[@]}" pkgconf
cd "$ROOT"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

log "C++ package: build and install"
cmake -S "$ROOT" -B build/cpp-package -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTAGATLAS_BUILD_TESTS=OFF -DTAGATLAS_BUILD_BENCH=OFF >/dev/null
cmake --build build/cpp-package -j "$(nproc)"
cmake --install build/cpp-package --prefix "$tmp/installed" >/dev/null
mv "$tmp/installed" "$tmp/prefix"
prefix=$tmp/prefix
log "installed files:"
(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) >&2

# Every installed header is reached from the umbrella header, and every header it reaches is
# installed (a missing one fails the compiler here).
reached=$(echo '#include <tagatlas/tagatlas.h>' |
  c++ -std=c++20 -I"$prefix/include" -MM -x c++ - | tr ' \\' '\n\n' | grep '\.h$' |
  xargs -n1 realpath | sort -u)
installed=$(find "$prefix/include" -type f | xargs -n1 realpath | sort -u)
if [ "$reached" != "$installed" ]; then
  echo "installed headers differ from those <tagatlas/tagatlas.h> includes:" >&2
  diff <(echo "$reached") <(echo "$installed") >&2 || true
  exit 1
fi

# What docs/cpp.md shows the example printing: the console block of its `$ ... lookup_example`.
expected=$(awk '/^```console$/ {block = 1; shown = 0; next}
                /^```$/ {block = 0; next}
                block && /^\$ .*lookup_example/ {shown = 1; next}
                block && shown' docs/cpp.md)
[ -n "$expected" ] || { echo "docs/cpp.md shows no output of lookup_example" >&2; exit 1; }
dictionary=$ROOT/python/tagatlas/data/default.tatl
# And the program docs/cpp.md shows is the one built here.
diff <(awk '/^```cpp$/ {block = 1; next} /^```$/ {block = 0} block' docs/cpp.md) \
  examples/cpp/lookup_example.cc || { echo "docs/cpp.md shows another lookup_example.cc" >&2; exit 1; }

log "C++ package: examples/cpp with find_package"
cmake -S examples/cpp -B "$tmp/example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$tmp/example"
got=$(cd "$tmp" && "$tmp/example/lookup_example" "$dictionary")
diff <(echo "$expected") <(echo "$got") || { echo "find_package build: output differs from docs/cpp.md" >&2; exit 1; }

log "C++ package: examples/cpp with pkg-config"
pc_file=$(find "$prefix" -name tagatlas.pc)
export PKG_CONFIG_PATH="${pc_file%/*}"
version=$(sed -n 's/^project(tagatlas VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$(pkg-config --modversion tagatlas)" = "$version" ] || { echo "tagatlas.pc: wrong version" >&2; exit 1; }
# shellcheck disable=SC2046  # the flags are words
c++ -std=c++20 examples/cpp/lookup_example.cc $(pkg-config --cflags --libs tagatlas) -o "$tmp/lookup_example_pc"
got=$(cd "$tmp" && "$tmp/lookup_example_pc" "$dictionary")
diff <(echo "$expected") <(echo "$got") || { echo "pkg-config build: output differs from docs/cpp.md" >&2; exit 1; }
log "C++ package: ok"
