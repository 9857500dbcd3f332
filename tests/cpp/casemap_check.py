#!/usr/bin/env python3
"""Compares the library's uppercase table with another implementation for every scalar value.

Usage: casemap_check.py PATH_TO_CASEMAP_DUMP
       casemap_check.py --table PATH_TO_CASEMAP_PY PATH_TO_CASEMAP_DUMP

Without --table the other implementation is CPython's str.upper(), which applies the same full,
unconditional mapping (UnicodeData.txt plus the unconditional part of SpecialCasing.txt) from
CPython's own copy of the character database. The table is built from Unicode 15.0.0; CPython
3.13 carries 15.1.0, which changed no case mapping. Should a version ever differ in a mapping, the
code point goes into ALLOWED with the reason.

With --table it is the Python writer's table (python/tagatlas/_format/casemap.py), generated from the
same data as the library's: every mapping must be equal, whatever the running Python's version.
"""

import argparse
import runpy
import subprocess
import sys
import unicodedata

TABLE_VERSION = (15, 0, 0)

# Code points whose mapping differs between TABLE_VERSION and the running Python's database,
# documented in the Unicode release notes. None between 15.0.0 and 15.1.0.
ALLOWED = {}


def python_upper(code):
    return chr(code).upper()


def load_table(path):
    # Run as a file, not imported: the table must come from this path, not an installed package.
    table = runpy.run_path(path)["UPPER"]
    return lambda code: table.get(code, chr(code))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--table", help="the writer's generated table to compare with")
    parser.add_argument("dump", help="the casemap_dump program")
    args = parser.parse_args(argv)
    if args.table:
        upper, allowed, against = load_table(args.table), {}, f"the table in {args.table}"
    else:
        python_version = tuple(int(p) for p in unicodedata.unidata_version.split("."))
        if python_version < TABLE_VERSION:
            print(f"Python {sys.version.split()[0]} has Unicode {unicodedata.unidata_version}, "
                  f"older than the table's {'.'.join(map(str, TABLE_VERSION))}; run this with a "
                  "newer Python", file=sys.stderr)
            return 2
        upper, allowed = python_upper, ALLOWED
        against = f"CPython's str.upper(), Unicode {unicodedata.unidata_version}"

    dump = subprocess.run([args.dump], check=True, capture_output=True, text=True).stdout
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
        mapped = upper(code)
        want = [] if mapped == chr(code) else [f"{ord(c):04X}" for c in mapped]
        checked += 1
        if got != want:
            (allowed_seen if code in allowed else mismatches).append((code, got, want))
    if expected_code != 0x110000:
        print(f"dump ended early, before U+{expected_code:04X}", file=sys.stderr)
        return 1

    for code, got, want in allowed_seen:
        print(f"allowed U+{code:04X}: library {' '.join(got) or '(self)'}, "
              f"other {' '.join(want) or '(self)'} ({allowed[code]})")
    for code, got, want in mismatches[:50]:
        print(f"MISMATCH U+{code:04X}: library {' '.join(got) or '(self)'}, "
              f"other {' '.join(want) or '(self)'}")
    print(f"checked {checked} code points against {against}: "
          f"{len(mismatches)} mismatches, {len(allowed_seen)} allowed differences")
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
