#!/usr/bin/env bash
# The wheel as users get it: builds the sdist and, from the sdist, the wheel (in an isolated build
# environment, as pip does); checks that the wheel holds every file of the package and nothing
# else; installs it alone into a fresh venv outside the checkout and runs tests/wheel/smoke.py
# from a folder outside the checkout.
source "$(dirname "$0")/lib.sh"
setup
cd "$ROOT"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

log "wheel: building the sdist and the wheel"
if ! "$PY" -m build --outdir "$tmp/dist" "$ROOT" >"$tmp/build.log" 2>&1; then
  cat "$tmp/build.log" >&2
  exit 1
fi
wheel=$(echo "$tmp"/dist/*.whl)
sdist=$(echo "$tmp"/dist/*.tar.gz)
[ -f "$wheel" ] && [ -f "$sdist" ] || { echo "no wheel or sdist in $tmp/dist" >&2; exit 1; }
log "wheel: $(basename "$wheel") (sdist $(basename "$sdist"))"

# The tag README.md promises: one CPython version's ABI, Linux, the build machine's architecture.
tag=$(basename "$wheel" .whl | cut -d- -f3-)
[[ $tag =~ ^cp3[0-9]+-cp3[0-9]+-linux_[a-z0-9_]+$ ]] || { echo "unexpected wheel tag $tag" >&2; exit 1; }

"$PY" tests/wheel/wheel_contents.py "$wheel" python/tagatlas >"$tmp/contents.txt"
log "wheel: $(wc -l <"$tmp/contents.txt") files, each one the package's"

log "wheel: installing into a fresh venv and running the smoke test outside the checkout"
"$PY" -m venv "$tmp/venv"
"$tmp/venv/bin/python" -m pip install -q --no-index "$wheel"
mkdir "$tmp/work"
cp tests/wheel/smoke.py "$tmp/work/"
version=$(basename "$wheel" | cut -d- -f2)
(cd "$tmp/work" && "$tmp/venv/bin/python" -I smoke.py "$version")
