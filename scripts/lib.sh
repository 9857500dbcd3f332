# Shared setup for the project's scripts: Debian packages, a Python >= 3.13 and the project venv.
# Every step checks first and does nothing when its work is already done, so scripts may be run
# any number of times. Source this file; it sets ROOT, VENV and PY.

set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VENV="$ROOT/.venv"
PY="$VENV/bin/python"

log() { printf '==> %s\n' "$*" >&2; }

# Installs the Debian packages that are missing. Needs root or password-less sudo when any are.
need_debs() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing Debian packages: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo -n)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Prints the path of an interpreter that is CPython 3.13 or later, or fails.
find_python() {
  local candidates=() c
  for c in python3.15 python3.14 python3.13 python3; do
    command -v "$c" >/dev/null 2>&1 && candidates+=("$(command -v "$c")")
  done
  # pyenv shims work only with a version selected, so look at its installs directly too.
  if command -v pyenv >/dev/null 2>&1; then
    for c in "$(pyenv root)"/versions/3.*/bin/python3; do [ -x "$c" ] && candidates+=("$c"); done
  fi
  for c in "${candidates[@]}"; do
    if "$c" -c 'import sys, venv; sys.exit(sys.version_info < (3, 13))' >/dev/null 2>&1; then
      echo "$c"
      return 0
    fi
  done
  echo "no CPython 3.13 or later found (install python3.13 or a pyenv version)" >&2
  return 1
}

# The build toolchain and everything the tests read (DCMTK's dictionaries for the bundled one,
# the Unicode data the uppercase tables are generated from).
BASE_DEBS=(g++ cmake ninja-build libgtest-dev dcmtk unicode-data)

ensure_venv() {
  if ! [ -x "$PY" ] || ! "$PY" -c 'import sys; sys.exit(sys.version_info < (3, 13))' 2>/dev/null; then
    local base
    base=$(find_python)
    log "creating $VENV from $base"
    rm -rf "$VENV"
    "$base" -m venv "$VENV"
  fi
  local stamp="$VENV/.requirements.sha"
  local want
  # requirements-dev.txt includes tools/requirements-data.txt, so a change to either reinstalls.
  want=$(cat "$ROOT/requirements-dev.txt" "$ROOT/tools/requirements-data.txt" | sha256sum)
  if [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
    log "installing Python packages into the venv"
    "$PY" -m pip install -q --upgrade pip
    "$PY" -m pip install -q -r "$ROOT/requirements-dev.txt"
    echo "$want" > "$stamp"
  fi
}

# Builds and installs the package into the venv. The build tree under build/ is reused, so a
# second run only recompiles what changed.
install_package() {
  log "building and installing tagatlas into the venv"
  "$PY" -m pip install -q --no-build-isolation --no-deps "$ROOT"
}

setup() {
  need_debs "${BASE_DEBS[@]}" "$@"
  ensure_venv
}
