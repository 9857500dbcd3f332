#!/usr/bin/env python3
"""Compares the library's uppercase table with CPython's str.upper() for every scalar value.

Usage: casemap_check.py PATH_TO_CASEMAP_DUMP

str.upper() applies the same full, unconditional mapping (UnicodeData.txt plus the unconditional
part of SpecialCasing.txt), from CPython's own copy of the character database. The table is built
from Unicode 15.0.0; CPython 3.13 carries 15.1.0, which changed no case mapping. Should a
version ever differ in a mapping, the code point goes into ALLOWED with the reason.
"""

import subprocess
import sys
import unicodedata

TABLE_VERSION = (15, 0, 0)

# Code points whose mapping differs between TABLE_VERSION and the running Python's database,
# documented in the Unicode release notes. None between 15.0.0 and 15.1.0.
ALLOWED = {}


def main(argv):
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    python_version = tuple(int(p) for p in unicodedata.unidata_version.split("."))
    if python_version < TABLE_VERSION:
        print(f"Python {sys.version.split()[0]} has Unicode {unicodedata.unidata_version}, older "
              f"than the table's {'.'.join(map(str, TABLE_VERSION))}; run this with a newer Python",
              file=sys.stderr)
        return 2

    dump = subprocess.run([argv[0]], check=True, capture_output=True, text=True).stdout
    checked = 0
    mismatches = []
    allowed_seen = []
    expected_code = 0
    for line in dump.splitlines():
        fields = line.split()
        code = int(fields[0], 16)
        if 0xD800 <= expected_code <= 0xDFFF:
            expected_code = 0xE000
        if code != expected_code:
            print(f"dump out of sequence: expected U+{expected_code:04X}, got {line!r}",
                  file=sys.stderr)
            return 1
        expected_code += 1
        got = fields[1:]
        upper = chr(code).upper()
        want = [] if upper == chr(code) else [f"{ord(c):04X}" for c in upper]
        checked += 1
        if got != want:
            (allowed_seen if code in ALLOWED else mismatches).append((code, got, want))
    if expected_code != 0x110000:
        print(f"dump ended early, before U+{expected_code:04X}", file=sys.stderr)
        return 1

    for code, got, want in allowed_seen:
        print(f"allowed U+{code:04X}: table {' '.join(got) or '(self)'}, "
              f"Python {' '.join(want) or '(self)'} ({ALLOWED[code]})")
    for code, got, want in mismatches[:50]:
        print(f"MISMATCH U+{code:04X}: table {' '.join(got) or '(self)'}, "
              f"Python {' '.join(want) or '(self)'}")
    print(f"checked {checked} code points against Unicode {unicodedata.unidata_version}: "
          f"{len(mismatches)} mismatches, {len(allowed_seen)} allowed differences")
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
