#!/usr/bin/env bash
# The Python suite once in a random order (pytest-randomly; the seed is printed, so that a failing
# order can be replayed with --randomly-seed=SEED) and once in two
# pytest-xdist workers. The main runs keep the file's order (-p no:randomly); these two catch a
# test that depends on another's leftovers or on running in one process.
source "$(dirname "$0")/lib.sh"
setup
cd "$ROOT"

seed=${TAGATLAS_TEST_SEED:-$(( RANDOM * 32768 + RANDOM ))}
log "Python tests in random order, seed $seed (replay: TAGATLAS_TEST_SEED=$seed $0)"
"$PY" -m pytest -q --randomly-seed="$seed" "$@"

log "Python tests in two workers"
"$PY" -m pytest -q -p no:randomly -n 2 "$@"
