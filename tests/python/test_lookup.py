"""Lookup results: the ten keys, their values and types, creators, the "xx" form, misses."""

import pytest

import tagatlas
import tatl_layout as layout
from tagatlas.writer import Entry

KEYS = ["group", "element", "creator", "keyword", "name", "vr", "description", "retired",
        "block_offset", "sources"]  # fmt: skip


def test_public_entry(sample):
    result = sample.lookup(0x0008, 0x0020)
    assert list(result) == KEYS
    assert result == {
        "group": 0x0008, "element": 0x0020, "creator": "", "keyword": "StudyDate",
        "name": "Study Date", "vr": "DA", "description": "Date the Study started.",
        "retired": False, "block_offset": False, "sources": ["dicom", "dcmtk"],
    }  # fmt: skip
    types = [type(result[k]) for k in KEYS]
    assert types == [int, int, str, str, str, str, str, bool, bool, list]


def test_private_entry_in_the_xx_form(sample):
    result = sample.lookup(0x0029, 0x10, "Acme CT")
    assert result["keyword"] == "AcmeBlockThing"
    assert result["element"] == 0x10
    assert result["block_offset"] is True
    assert result["creator"] == "Acme CT"
    # The full element is searched as passed; it finds only an entry stored under it.
    assert sample.lookup(0x0029, 0x1010, "Acme CT") is None
    assert sample.lookup(0x0029, 0x1011, "Acme CT")["keyword"] == "AcmeFullThing"


@pytest.mark.parametrize(
    "creator",
    ["Acme CT", "acme ct", "  acme\tct  ", "acme\u00a0ct", "\u3000Acme\n\nCT\u2029"],
)
def test_creator_case_and_spacing_do_not_matter(sample, creator):
    assert sample.lookup(0x0029, 0x10, creator)["keyword"] == "AcmeBlockThing"


def test_creator_is_returned_as_stored(sample):
    assert sample.lookup(0x0029, 0x11, "ACME CT")["creator"] == "  acme\tct  "
    assert sample.lookup(0x0019, 0x20, "STRASSE")["creator"] == "Straße"


@pytest.mark.parametrize(
    "group, element, creator",
    [
        (0x0010, 0x0011, None),       # no such tag
        (0x0029, 0x10, None),         # private tag asked without its creator
        (0x0029, 0x10, "AcmeCT"),     # spacing that changes the text
        (0x0029, 0x10, "Acme\u200bCT"),  # U+200B is no white space
        (0x0010, 0x0010, "Acme CT"),  # public tag asked with a creator
        (0x0010, 0x0010, ""),         # the empty creator is not the absent one
        (0xFFFF, 0xFFFE, None),
    ],
)  # fmt: skip
def test_miss_is_none(sample, group, element, creator):
    assert sample.lookup(group, element, creator) is None


def test_empty_and_blank_creators_are_one_key(write_dict):
    def empty_creator_hash(data):
        # The only entry stands alone under its tag, so changing its hash keeps the index sorted.
        layout.patch_index(data, 0, creator_hash=0x811C9DC5)

    d = tagatlas.open(write_dict([Entry(0x0011, 0x0001, "Blank", creator="X")],
                                 edit=empty_creator_hash))  # fmt: skip
    assert d.lookup(0x0011, 0x0001, "")["keyword"] == "Blank"
    assert d.lookup(0x0011, 0x0001, "  \t ")["keyword"] == "Blank"
    assert d.lookup(0x0011, 0x0001) is None


# The canonical form "XAI_P774" hashes to 0, the value stored for entries without a creator.
@pytest.mark.parametrize("creator", ["XAI_P774", "xai_p774", " Xai_P774\t"])
def test_creator_hashing_to_zero_finds_nothing(write_dict, creator):
    d = tagatlas.open(write_dict([Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN"),
                                  Entry(0x0019, 0x0010, "NoCreator", "No Creator", "LO")]))
    assert d.lookup(0x0010, 0x0010, creator) is None
    assert d.lookup(0x0019, 0x0010, creator) is None
    assert [d.lookup(0x0010, 0x0010)["keyword"], d.lookup(0x0019, 0x0010)["keyword"]] == [
        "PatientName", "NoCreator"]
    bundled = tagatlas.open_default()
    assert bundled.lookup(0x0010, 0x0010, creator) is None
    assert bundled.lookup(0x0010, 0x0010)["keyword"] == "PatientName"


def test_retired_is_a_bool(sample):
    assert sample.lookup(0x0008, 0x0010)["retired"] is True
    assert sample.lookup(0x0010, 0x0010)["retired"] is False


@pytest.mark.parametrize(
    "stored, pieces",
    [(b"|a||b|", ["a", "b"]), (b"", []), (b"a | b", ["a ", " b"]), (b"\xff|a", [])],
)  # fmt: skip
def test_sources_pieces(write_dict, stored, pieces):
    # The writer refuses such lists, so the sources range is pointed at a description holding them.
    def sources_from_description(data):
        layout.patch_record(
            data, 0,
            description_len=len(stored),
            sources_offset=layout.read_record(data, 0, "description_offset"),
            sources_len=len(stored),
        )  # fmt: skip
        layout.patch_pool(data, layout.read_record(data, 0, "description_offset"), stored)

    entry = Entry(0x0010, 0x0010, "K", description="#" * max(1, len(stored)))
    d = tagatlas.open(write_dict([entry], edit=sources_from_description))
    assert d.lookup(0x0010, 0x0010)["sources"] == pieces


@pytest.mark.parametrize("field", ["keyword", "name", "creator", "description"])
def test_bad_utf8_reads_as_empty(write_dict, field):
    entry = Entry(0x0029, 0x0010, keyword="Keyword", name="Name", creator="Creator",
                  description="Description")  # fmt: skip

    def spoil(data):
        offset = layout.read_record(data, 0, f"{field}_offset")
        layout.patch_pool(data, offset, b"\x80")

    result = tagatlas.open(write_dict([entry], edit=spoil)).lookup(0x0029, 0x10, "Creator")
    assert result[field] == ""
    others = {"keyword": "Keyword", "name": "Name", "creator": "Creator",
              "description": "Description"}  # fmt: skip
    del others[field]
    assert {k: result[k] for k in others} == others


# Texts of many lengths, short and longer than a machine word, each with one byte replaced at its
# start, middle or end, or with characters outside ASCII: every result equals what strict UTF-8
# decoding of the stored bytes gives, or "" where that fails.
@pytest.mark.parametrize("payload", [None, b"\x80", b"\xc3", b"\xe9", b"\x7f"])
def test_texts_of_every_length_read_as_their_stored_bytes(write_dict, payload):
    cases = [(length, at) for length in (*range(1, 19), 23, 24, 25, 31, 32, 33)
             for at in sorted({0, length // 2, length - 1})]  # fmt: skip
    letters = "abcdefghijklmnopqrstuvwxyz\u00e9\u20ac\U0001f600"
    entries = []
    for i, (length, at) in enumerate(cases):
        # Distinct texts, so that no two records share pool bytes.
        name = "".join(letters[(i + j) % len(letters)] for j in range(length))
        entries.append(Entry(0x0011, i, f"K{i}", name))
    stored = {}

    def spoil(data):
        for i, (_, at) in enumerate(cases):
            position = layout.record_position(data, 0x0011, i)
            offset = layout.read_record(data, position, "name_offset")
            size = layout.read_record(data, position, "name_len")
            if payload is not None:
                layout.patch_pool(data, offset + min(at, size - 1), payload)
            start = layout.root(data)[5] + offset
            stored[i] = bytes(data[start : start + size])

    d = tagatlas.open(write_dict(entries, edit=spoil))
    for i in range(len(cases)):
        try:
            expected = stored[i].decode("utf-8")
        except UnicodeDecodeError:
            expected = ""
        assert d.lookup(0x0011, i)["name"] == expected, (cases[i], stored[i])


def test_result_reports_the_record_not_the_query(write_dict):
    def retag_record(data):
        layout.patch_record(data, 0, group=0x1234, element=0x5678)

    d = tagatlas.open(write_dict([Entry(0x0010, 0x0010, "K")], edit=retag_record))
    result = d.lookup(0x0010, 0x0010)
    assert (result["group"], result["element"]) == (0x1234, 0x5678)


def test_every_result_is_new(sample):
    first = sample.lookup(0x0008, 0x0020)
    second = sample.lookup(0x0008, 0x0020)
    assert first == second
    assert first is not second and first["sources"] is not second["sources"]
    first["keyword"] = "changed"
    first["sources"].append("changed")
    first["extra"] = 1
    assert sample.lookup(0x0008, 0x0020) == second
    assert second["sources"] == ["dicom", "dcmtk"]


def test_empty_dictionary_finds_nothing(write_dict):
    d = tagatlas.open(write_dict([]))
    assert [d.lookup(g, e) for g, e in [(0, 0), (0x10, 0x10), (0xFFFF, 0xFFFF)]] == [None] * 3


def test_lookups_do_not_leak(sample):
    import gc
    import tracemalloc

    def run():
        for _ in range(2000):
            sample.lookup(0x0008, 0x0020)
            sample.lookup(0x0029, 0x10, "acme ct")
            sample.lookup(0x0010, 0x0011)

    run()  # warm caches and free lists first
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        run()
        gc.collect()
        growth = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    # A leak of one result per call would be megabytes.
    assert growth < 20_000
