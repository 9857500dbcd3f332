"""The bundled dictionary against its vendored sources: PS3.6 2026c row by row, every private entry
reachable, no firm name lost, and the build report that tools/build_default_dict.py recorded."""

import collections
import json
import pathlib

import pytest

from tagatlas import datadict as dd
from tagatlas._bundled import open_default
from tagatlas.description import parse_description
from tagatlas.elements import find_element
from tagatlas.importers.ps3_6 import read_rows
from tagatlas.importers.sources import SOURCES, default_files
from tagatlas.merge import is_firm
from tagatlas.table import read_table

REPO = pathlib.Path(__file__).resolve().parents[2]
SOURCES_DIR = REPO / "tools" / "sources"
INPUTS = REPO / "tools" / "default_dict_inputs.json"

# 2026c rows that answer otherwise, by design: blank retired rows keep pydicom's name.
BLANK_ROWS_WITH_PYDICOMS_NAME = {0x00080202, 0x00189445, 0x00280020}


@pytest.fixture(scope="module")
def bundled():
    return open_default()


def answer(entry):
    facts = parse_description(entry["description"])
    vr = facts.vr if entry["vr"] == "??" else entry["vr"]
    return (entry["keyword"], entry["name"], vr, facts.vm, entry["retired"])


def first_tag(mask, bundled):
    """The entry that stands for a mask: its first even-group tag, or the wide mask's one entry."""
    mask = mask.upper().replace("X", "x")
    group = int(mask[:4].replace("x", "0"), 16)
    for element in range(0x10000):
        if all(m in ("x", c) for m, c in zip(mask[4:], f"{element:04X}")):
            entry = bundled.lookup(group, element)
            if entry and parse_description(entry["description"]).mask == mask:
                return entry
    return None


def test_every_ps3_6_row_answers_as_2026c(bundled):
    differences = collections.Counter()
    for key, (vr, vm, name, retired, keyword) in read_rows(SOURCES_DIR / "ps3.6-2026c" / "tags.ts"):
        if "x" in key:
            entry = first_tag(key, bundled)
        else:
            entry = bundled.lookup(int(key[:4], 16), int(key[4:], 16))
        assert entry is not None, key
        got = answer(entry)
        expected = (keyword, name, vr, vm, retired == "Retired")
        if got == expected:
            continue
        tag = int(key, 16)
        assert tag in BLANK_ROWS_WITH_PYDICOMS_NAME and got[1:] == ("Retired-blank",) + expected[2:]
        differences["blank row keeps pydicom's name"] += 1
    assert differences == {"blank row keeps pydicom's name": 3}


def test_no_private_entry_is_unreachable():
    t = read_table()
    unreachable = [(hex(g), hex(e), c) for g, e, c, b in zip(t.groups, t.elements, t.creators,
                   t.block_offset) if c and e <= 0xFF and not b]  # fmt: skip
    assert unreachable == []


@pytest.fixture(scope="module")
def private_imports():
    from tagatlas.importers.pydicom_tables import import_pydicom

    out = [s.load(default_files(s, SOURCES_DIR)) for s in SOURCES if s.takes_files]
    try:
        out.append(import_pydicom())
    except ImportError:
        pass
    return out


def test_no_firm_name_is_lost(bundled, private_imports):
    """Every (creator, element) that a source names firmly answers, as a file carries it, with a
    firm name."""
    lost = []
    asked = 0
    for result in private_imports:
        for e in result.entries:
            if e.creator is None or not is_firm(e.name):
                continue
            element = 0x1000 | e.element if e.block_offset else e.element
            found = find_element(bundled, e.group, element, e.creator)
            asked += 1
            if found is None or not is_firm(found.entry["name"]):
                lost.append((result.source, hex(e.group), hex(element), e.creator, e.name))
    assert lost == []
    assert asked > 20_000


@pytest.mark.parametrize("tag", [0x00290089, 0x00291089, 0x00292189])
def test_both_forms_of_pmtf_information_data_answer(tag):
    assert dd.private_dictionary_description(tag, "PMTF INFORMATION DATA") == "?MRImage?"
    entry = find_element(open_default(), tag >> 16, tag & 0xFFFF, "PMTF INFORMATION DATA").entry
    assert parse_description(entry["description"]).vm == "1"
    assert entry["description"].startswith("VM 1; guess")


def test_recorded_build_report_adds_up(bundled):
    report = json.loads(INPUTS.read_text())["report"]
    assert list(report["sources"]) == [s.name for s in SOURCES]
    assert sum(report["entries"].values()) == len(bundled)
    for name, row in report["sources"].items():
        assert 0 < row["added"] and row["lost"] + row["replaced"] >= 0, name
    # The merge made every private element at or below 0xFF a block offset in the importers
    # already; guesses are marked where nothing firmer exists.
    t = read_table()
    guessed = sum(1 for d in t.descriptions if parse_description(d).vm is not None
                  and d.partition("\n")[0].endswith("; guess"))  # fmt: skip
    assert guessed == report["merge"]["guesses"] > 0
