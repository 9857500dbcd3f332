#!/usr/bin/env bash
# Sets up everything, installs tagatlas into the project venv and looks up PatientName in the
# bundled dictionary. Extra arguments are passed to the command line instead of that lookup.
source "$(dirname "$0")/lib.sh"
setup
install_package
if [ $# -eq 0 ]; then set -- lookup 0010,0010; fi
exec "$PY" -m tagatlas "$@"
