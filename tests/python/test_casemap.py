"""The writer's uppercase table: the same creator hashes as the library, for every cased character.

The CTest casemap_matches_python_writer compares the two tables mapping by mapping; here the hashes
themselves must agree: every creator written is found again by the library.
"""

import os
import pathlib
import subprocess
import sys

import pytest

import tagatlas
from tagatlas._format.casemap import UPPER
from tagatlas.writer import Entry, write

REPO = pathlib.Path(__file__).resolve().parents[2]
UCD = pathlib.Path("/usr/share/unicode")
CHUNK = 40


def cased_code_points():
    """Code points that upper-case to something else in the writer's table or in this Python."""
    python = {
        c for c in range(0x110000)
        if not 0xD800 <= c <= 0xDFFF and chr(c).upper() != chr(c)
    }  # fmt: skip
    return sorted(python | set(UPPER))


def test_every_cased_character_is_found_by_the_library(tmp_path):
    codes = cased_code_points()
    assert len(codes) >= len(UPPER) > 1500
    # One creator per character, then the characters in runs: elements keep the keys apart where
    # two characters share an uppercase form (U+1E61 and U+1E9B both become U+1E60).
    singles = [(0x0009, i, chr(c)) for i, c in enumerate(codes)]
    runs = [(0x0011, i, "".join(map(chr, codes[start:start + CHUNK])))
            for i, start in enumerate(range(0, len(codes), CHUNK))]  # fmt: skip
    keys = singles + runs
    entries = [Entry(g, e, f"K{g:04X}{e:04X}", creator=creator) for g, e, creator in keys]
    path = tmp_path / "cased.tatl"
    write(path, entries)
    d = tagatlas.open(path)
    missing = [(g, e, creator) for g, e, creator in keys
               if (d.lookup(g, e, creator) or {}).get("keyword") != f"K{g:04X}{e:04X}"]  # fmt: skip
    assert missing == []


@pytest.mark.skipif(not (UCD / "UnicodeData.txt").exists(), reason="needs Debian's unicode-data")
def test_generated_tables_are_current_and_reproducible(tmp_path):
    outputs = []
    for run in ("first", "second"):
        inc, py = tmp_path / f"{run}.inc", tmp_path / f"{run}.py"
        subprocess.run(
            [sys.executable, str(REPO / "tools" / "gen_casemap.py"), "--ucd", str(UCD),
             "--output", str(inc), "--python-output", str(py)],
            check=True, capture_output=True, env=os.environ,
        )  # fmt: skip
        outputs.append((inc.read_bytes(), py.read_bytes()))
    assert outputs[0] == outputs[1]
    committed = (
        (REPO / "src" / "schema" / "casemap_table.inc").read_bytes(),
        (REPO / "python" / "tagatlas" / "_format" / "casemap.py").read_bytes(),
    )
    assert outputs[0] == committed
