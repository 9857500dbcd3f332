"""The C++ library's find_element against the package's, for every private entry of the bundled
dictionary: each asked in the first block (gggg,10ee), as stored, and without its creator, in the
stored creator's spelling and in another one.

The C++ answers come from tests/cpp/find_element_dump.cc, built here through CMake in its own
build folder (a no-op once it is up to date), so they always come from the current sources.
"""

import os
import pathlib
import subprocess
import sys
from importlib import resources

import pytest

import tagatlas
from tagatlas.elements import BLOCK_OFFSET, find_element
from tagatlas.table import read_table

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = ROOT / "build" / "find-element-dump"
# CMake and the program are not what a sanitized run of this suite tests: they run without the
# sanitizer runtimes it preloads.
ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


@pytest.fixture(scope="module")
def dump():
    if not (BUILD / "CMakeCache.txt").exists():
        subprocess.run(
            ["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
             f"-DPython3_EXECUTABLE={sys.executable}", "-DTAGATLAS_BUILD_BENCH=OFF",
             "-DTAGATLAS_INSTALL=OFF"],
            check=True, capture_output=True, env=ENV,
        )  # fmt: skip
    subprocess.run(["cmake", "--build", BUILD, "--target", "find_element_dump"],
                   check=True, capture_output=True, env=ENV)  # fmt: skip
    return BUILD / "tests" / "cpp" / "find_element_dump"


def other_spelling(creator):
    # Case and White_Space differ; the canonical form is the same unless lower() does not
    # round-trip through upper() (then both sides must agree that nothing is found).
    return "\t" + creator.lower().replace(" ", "\u3000 ") + " "


def queries():
    t = read_table()
    for group, element, creator in zip(t.groups, t.elements, t.creators):
        if not creator:
            continue
        first_block = 0x1000 | (element & 0xFF)
        for spelling in (creator, other_spelling(creator)):
            yield group, first_block, spelling
            yield group, element, spelling
        yield group, first_block, None


def creator_field(creator):
    return "-" if creator is None else "=" + creator.encode().hex()


def python_answer(d, group, element, creator):
    found = find_element(d, group, element, creator)
    if found is None:
        return "-"
    e = found.entry
    form = "block" if found.form == BLOCK_OFFSET else "full"
    return f"{e['group']:04x} {e['element']:04x} {creator_field(e['creator'])} {e['keyword']} {form}"


def test_cpp_find_element_answers_as_python(dump):
    asked = list(queries())
    d = tagatlas.open_default()
    path = resources.files("tagatlas").joinpath("data/default.tatl")
    lines = "".join(f"{g:04x} {e:04x} {creator_field(c)}\n" for g, e, c in asked)
    run = subprocess.run([dump, str(path)], input=lines.encode(), check=True, capture_output=True,
                         env=ENV)  # fmt: skip
    cpp = run.stdout.decode().splitlines()
    python = [python_answer(d, *q) for q in asked]
    assert len(cpp) == len(asked)
    differ = [(q, c, p) for q, c, p in zip(asked, cpp, python) if c != p]
    assert not differ, f"{len(differ)} of {len(asked)} differ, the first: {differ[:5]}"
    # The table exercises both forms and misses, or it proves little.
    assert {a.rsplit(" ", 1)[-1] for a in python} == {"-", "block", "full"}
