#!/usr/bin/env bash
# Runs the README's shell and Python sessions and compares what they print with what it shows.
# Last in CI: the README describes everything the other suites test.
source "$(dirname "$0")/lib.sh"
setup
cd "$ROOT"
install_package
log "README sessions"
"$PY" -m pytest -q -p no:randomly -c /dev/null --rootdir "$ROOT" tests/readme "$@"
