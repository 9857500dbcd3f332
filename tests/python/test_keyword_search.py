"""Keywords searched one by one answer as the maps of every keyword do, before either is read."""

import subprocess
import sys

import pytest

from tagatlas._keyword_search import KeywordSearch
from tagatlas._public_index import read_keywords, read_repeaters
from tagatlas.table import read_table
from tagatlas.writer import Entry, write

# Keywords that share text with others, a keyword held twice (the later tag wins in the map), one
# that is a repeater's and a plain entry's, one only a private entry has, one only in a name.
TRICKY = [
    Entry(0x0010, 0x0010, "Name", "A Name", "PN", description="VM 1"),
    Entry(0x0010, 0x0020, "NameTwo", "Name Two", "LO", description="VM 1"),
    Entry(0x0018, 0x0010, "Twice", "First", "US", description="VM 1"),
    Entry(0x0018, 0x0020, "Twice", "Second", "US", description="VM 1"),
    Entry(0x0020, 0x0010, "Both", "Plain", "US", description="VM 1"),
    Entry(0x5000, 0x0005, "Both", "Repeated", "US", description="VM 1; mask 50xx0005"),
    Entry(0x5002, 0x0005, "Curve", "A Curve", "US", description="VM 1; mask 50xx0005"),
    Entry(0x0019, 0x12, "Vendor", "Vendor Name", "SS", creator="VENDOR", block_offset=True),
    Entry(0x0019, 0x13, "Name", "Private Name", "SS", creator="VENDOR", block_offset=True),
]  # fmt: skip
ASKED = ["Name", "NameTwo", "Twice", "Both", "Curve", "Vendor", "Nam", "ameT", "Private", "Second",
         "mask", "NoSuchKeyword", "name", "\ud800"]  # fmt: skip


def maps_answer(table, keyword):
    return read_keywords(table).get(keyword), keyword in read_repeaters(table).keywords


@pytest.mark.parametrize("keyword", ASKED)
def test_search_answers_as_the_maps(tmp_path, keyword):
    path = tmp_path / "tricky.tatl"
    write(path, TRICKY)
    table = read_table(path)
    assert KeywordSearch(table).find(keyword) == maps_answer(table, keyword)


def test_search_answers_as_the_maps_in_the_bundled_file():
    table = read_table()
    keywords, repeaters = read_keywords(table), read_repeaters(table).keywords
    asked = [*sorted(repeaters), *list(keywords)[::50], "PatientNam", "_is_implicit_VR"]
    search = KeywordSearch(table, limit=len(asked))
    assert [search.find(k) for k in asked] == [(keywords.get(k), k in repeaters) for k in asked]


def test_search_stops_at_its_limit_and_keeps_what_it_found():
    search = KeywordSearch(read_table(), limit=2)
    first = search.find("PatientName")
    assert search.find("OverlayData") == (None, True)
    assert search.find("PatientID") is None and search.find("PatientName") == first


def test_datadict_answers_keywords_without_reading_the_maps():
    # In a fresh interpreter: this process's other tests may have read them already.
    code = """
from tagatlas import datadict as dd
asked = ["PatientName", "OverlayData", "_is_implicit_VR", "TransferSyntaxUID"]
before = [(dd.tag_for_keyword(k), dd.repeater_has_keyword(k)) for k in asked]
unread = dd._state.repeaters is None and dd._state.keywords is None
dd.keyword_dict, dd._repeater_info(dd._state)
print(unread, before == [(dd.tag_for_keyword(k), dd.repeater_has_keyword(k)) for k in asked])
"""
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         check=True, timeout=120).stdout  # fmt: skip
    assert out.split() == ["True", "True"]
