#!/usr/bin/env bash
# pydicom's own test suite, from the sdist of the installed pydicom release, run twice: as it is,
# and with tagatlas answering every dictionary question (datadict.install_in_pydicom()). Fails
# when a test passes the first time and not the second, unless tests/pydicom_suite/differences.txt
# lists it with its reason. Downloads of extra test data fail at once
# (tests/pydicom_suite/offline.py).
source "$(dirname "$0")/lib.sh"
setup
cd "$ROOT"

version=$("$PY" -c 'import pydicom; print(pydicom.__version__)')
work="$ROOT/build/pydicom-suite"
src="$work/pydicom-$version"
if ! [ -d "$src/tests" ]; then
  log "fetching pydicom $version's sdist for its tests"
  mkdir -p "$work"
  "$PY" -m pip download -q --no-deps --no-binary :all: "pydicom==$version" -d "$work"
  tar -xzf "$work/pydicom-$version.tar.gz" -C "$work" "pydicom-$version/tests"
fi

suite="$ROOT/tests/pydicom_suite"
run_suite() {  # label, outcome file, extra plugin arguments...
  local label=$1 out=$2
  shift 2
  log "pydicom's suite: $label (output in $out.log)"
  # pytest's own exit status is not the verdict: some of pydicom's tests fail in both runs here
  # (those needing the network or optional packages). compare.py judges from the outcomes.
  (cd "$src" && PYTHONPATH="$suite" PYDICOM_SUITE_OUTCOMES="$out" \
    "$PY" -m pytest -q -c "$suite/pytest.ini" --rootdir "$src" -p no:cacheprovider \
    -p no:randomly -p offline -p outcomes "$@" tests >"$out.log" 2>&1) || true
  if ! [ -s "$out" ]; then
    tail -n 30 "$out.log" >&2
    echo "pydicom's suite did not finish ($label)" >&2
    return 1
  fi
}
rm -f "$work/as-is.json" "$work/tagatlas.json"
run_suite "as it is" "$work/as-is.json"
run_suite "with tagatlas answering" "$work/tagatlas.json" -p tagatlas_answers
"$PY" "$suite/compare.py" "$work/as-is.json" "$work/tagatlas.json" "$suite/differences.txt"
