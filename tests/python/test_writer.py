"""The dictionary writer: exact bytes, determinism, validation, atomic writes, round trips."""

import os
import struct

import pytest

from tagatlas import writer
from tagatlas._format.creator import canonicalize_creator, hash_creator
from tagatlas._format import layout
from tagatlas._format.vr import VR_TEXTS
from tagatlas.writer import Entry, encode, write
from tatl_layout import expected_result


def parse(data):
    """Reads a file back independently of the writer: (index, records, pool)."""
    assert data[:4] == layout.MAGIC
    assert struct.unpack_from("<H", data, layout.HEADER_VERSION_FIELD)[0] == layout.VERSION
    assert len(data) % 4 == 0
    r = len(data) - 24
    io, ic, ro, rc, so, sc = struct.unpack_from("<iIiIiI", data, r)
    index_at, records_at, pool_at = r + io, r + 8 + ro, r + 16 + so
    index = [struct.unpack_from("<IIHH", data, index_at + 12 * i) for i in range(ic)]
    records = []
    for i in range(rc):
        at = records_at + 44 * i
        (ko, no, co, do, dl, so_, sl) = struct.unpack_from("<7I", data, at)
        group, element, kl, nl, cl = struct.unpack_from("<5H", data, at + 28)
        vr, block, retired = struct.unpack_from("<3B", data, at + 40)
        records.append(
            dict(
                keyword=(ko, kl), name=(no, nl), creator=(co, cl), description=(do, dl),
                sources=(so_, sl), group=group, element=element, vr=vr,
                block_offset=block, retired=retired,
            )
        )  # fmt: skip
    pool = data[pool_at : pool_at + sc]
    return index, records, pool


def text(pool, ref):
    offset, length = ref
    return pool[offset : offset + length].decode("utf-8")


PATIENT_NAME = Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN")


def test_patient_name_file_is_byte_exact():
    header = layout.header()
    index = struct.pack("<IIHH", 0, 0, 0x0010, 0x0010)
    record = struct.pack("<7I", 0, 11, 0, 0, 0, 0, 0)
    record += struct.pack("<5H", 0x0010, 0x0010, 11, 14, 0) + bytes(2)
    record += bytes([18, 0, 0, 0])
    pool = b"PatientName" + b"Patient's Name"
    root = struct.pack("<iIiIiI", -84, 1, -80, 1, -44, 25)
    expected = header + index + record + pool + bytes(3) + root
    assert len(expected) == 140
    assert encode([PATIENT_NAME]) == expected


def test_empty_dictionary_is_the_56_byte_file():
    expected = layout.header() + struct.pack("<iIiIiI", 0, 0, -8, 0, -16, 0)
    assert encode([]) == expected


@pytest.mark.parametrize(
    "creator, expected",
    [
        (None, 0),
        ("", 0x811C9DC5),
        ("abc", 0x5C842F6B),
        (" abc ", 0x5C842F6B),
        ("Abc", 1552166763),
        ("ABC", 1552166763),
        ("XAI_P774", 0),  # the one short creator whose hash is that of no creator
    ],
)
def test_hash_creator_known_values(creator, expected):
    assert hash_creator(creator) == expected


@pytest.mark.parametrize(
    "text, canonical",
    [
        ("acme ct", "ACME CT"),
        ("  acme\tct  ", "ACME CT"),
        ("ACME\r\n\x0b\x0cCT", "ACME CT"),
        ("  ", ""),
        ("straße", "STRASSE"),
        ("a\u00a0b", "A B"),
        ("a\u0085b\u1680c\u2000d\u200ae\u2028f\u2029g\u202fh\u205fi\u3000j", "A B C D E F G H I J"),
        # Not White_Space, although str.split() would split at the first four.
        ("a\x1cb\x1dc\x1ed\x1fe", "A\x1cB\x1dC\x1eD\x1fE"),
        ("a\u200bb", "A\u200bB"),
        ("\ufb00", "FF"),  # a ligature upper-cases to two letters
        ("ǅ", "Ǆ"),  # titlecase letter to its uppercase
    ],
)
def test_canonicalize_creator(text, canonical):
    assert canonicalize_creator(text) == canonical


@pytest.mark.parametrize(
    "a, b",
    [("ACME CT", "  acme\tct  "), ("straße", "STRASSE"), ("a\u00a0b", "A B")],
)
def test_equivalent_creators_hash_alike(a, b):
    assert hash_creator(a) == hash_creator(b)


@pytest.mark.parametrize("a, b", [("a\x1cb", "a b"), ("a\u200bb", "a b"), ("", None)])
def test_distinct_creators_hash_apart(a, b):
    assert hash_creator(a) != hash_creator(b)


MIXED = [
    Entry(0x0019, 0x0C, "Acq", "Acquisition", "DS", creator="GEMS_ACQU_01", block_offset=True),
    Entry(0x0008, 0x0016, "SOPClassUID", "SOP Class UID", "UI", sources=("dcmtk", "pydicom")),
    Entry(0x0019, 0x0C, "Other", "Other", "US", creator="SIEMENS", block_offset=True),
    Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN", sources=("pydicom",)),
    Entry(0x0028, 0x0040, "ImageFormat", "Image Format", "CS", retired=True),
    Entry(0x0019, 0x0C, "Same", "Acquisition", "DS", description="text", sources=("dcmtk",)),
]


def test_index_is_sorted_and_points_at_records_in_order():
    index, records, pool = parse(encode(MIXED))
    keys = [(g, e, h) for h, _, g, e in index]
    assert keys == sorted(keys)
    assert [ri for _, ri, _, _ in index] == list(range(len(MIXED)))
    for (h, _, g, e), rec in zip(index, records, strict=True):
        assert (rec["group"], rec["element"]) == (g, e)
        creator = text(pool, rec["creator"]) if rec["creator"][1] else None
        assert h == hash_creator(creator)


def test_records_hold_every_field():
    index, records, pool = parse(encode(MIXED))
    by_key = {}
    for rec in records:
        creator = text(pool, rec["creator"]) if rec["creator"][1] else None
        by_key[(rec["group"], rec["element"], creator)] = rec
    for entry in MIXED:
        rec = by_key[(entry.group, entry.element, entry.creator)]
        assert text(pool, rec["keyword"]) == entry.keyword
        assert text(pool, rec["name"]) == entry.name
        assert text(pool, rec["description"]) == entry.description
        assert text(pool, rec["sources"]) == "|".join(entry.sources)
        assert VR_TEXTS[rec["vr"]] == entry.vr
        assert rec["retired"] == entry.retired
        assert rec["block_offset"] == entry.block_offset


def test_output_is_independent_of_input_order():
    assert encode(MIXED) == encode(list(reversed(MIXED))) == encode(tuple(MIXED))


def test_identical_texts_are_pooled_once():
    entries = [Entry(0x0009, e, "Kw", "Shared Name", "LO", creator="ACME", block_offset=True,
                     sources=("dcmtk",)) for e in range(0x10, 0x30)]  # fmt: skip
    _, records, pool = parse(encode(entries))
    assert pool.count(b"Shared Name") == 1
    assert pool.count(b"ACME") == 1
    assert len({rec["name"] for rec in records}) == 1


@pytest.mark.parametrize("vr", VR_TEXTS)
def test_every_vr_text_keeps_its_code(vr):
    _, records, _ = parse(encode([Entry(1, 2, vr=vr)]))
    assert VR_TEXTS[records[0]["vr"]] == vr


def test_vr_table_places_fl_and_fd_out_of_order():
    assert (len(VR_TEXTS), VR_TEXTS[7], VR_TEXTS[8], VR_TEXTS[34]) == (35, "FL", "FD", "??")


@pytest.mark.parametrize(
    "entry",
    [
        Entry(0, 0, keyword="k" * 65535),
        Entry(0, 0, name="é" * 32767 + "n"),
        Entry(0xFFFF, 0xFFFF),
        Entry(0x0019, 0xFF, creator="X", block_offset=True),
        Entry(0x0019, 0x1000, creator="X"),
    ],
)
def test_values_at_the_limits_are_accepted(entry):
    _, records, _ = parse(encode([entry]))
    assert (records[0]["group"], records[0]["element"]) == (entry.group, entry.element)


@pytest.mark.parametrize(
    "entry, message",
    [
        (Entry(0x0019, 0x100C, creator="ACME", keyword="k" * 70000),
         "entry 1 (0019,100C 'ACME'): keyword is 70000 bytes, at most 65535"),
        (Entry(1, 2, name="é" * 32768), "entry 1 (0001,0002): name is 65536 bytes, at most 65535"),
        (Entry(1, 2, creator="c" * 65536), "creator is 65536 bytes, at most 65535"),
        (Entry(1, 2, vr="XX"), "entry 1 (0001,0002): vr 'XX' is not a known VR"),
        (Entry(1, 2, vr="US or SS"), "vr 'US or SS' is not a known VR"),
        (Entry(1, 2, vr="pn"), "vr 'pn' is not a known VR"),
        (Entry(-1, 2), "entry 1 (-1,0002): group is -1, must be in 0..65535"),
        (Entry(65536, 2), "group is 65536, must be in 0..65535"),
        (Entry(1, 70000), "element is 70000, must be in 0..65535"),
        (Entry(1.0, 2), "group must be an int, not float"),
        (Entry(True, 2), "group must be an int, not bool"),
        (Entry(0x0019, 0x100, creator="X", block_offset=True),
         "element is 0x0100, a block offset must be at most 0xFF"),
        (Entry(1, 2, sources=("dcmtk", "")), "sources item is empty"),
        (Entry(1, 2, sources=("a|b",)), "sources item 'a|b' contains the separator '|'"),
        (Entry(1, 2, sources="dcmtk"), "sources must be a sequence of str"),
        (Entry(1, 2, sources=(3,)), "sources item 3 is not a str"),
        (Entry(1, 2, creator=""), "creator is empty, use None for a public tag"),
        (Entry(0x0019, 0x10, creator=" xai_p774", block_offset=True),
         "entry 1 (0019,0010 ' xai_p774'): creator ' xai_p774' hashes to 0, the hash of no creator"),
        (Entry(1, 2, keyword="\ud800"), "keyword is not encodable as UTF-8"),
        (Entry(1, 2, description=None), "description must be a str, not NoneType"),
        (Entry(1, 2, retired=1), "retired must be a bool"),
    ],
)  # fmt: skip
def test_invalid_entry_is_named_in_the_error(entry, message):
    with pytest.raises(ValueError) as info:
        encode([PATIENT_NAME, entry])
    assert message in str(info.value)


def test_non_entry_item_is_refused():
    with pytest.raises(ValueError, match=r"entry 0: expected an Entry, not tuple"):
        encode([(1, 2)])


@pytest.mark.parametrize(
    "first, second",
    [
        (Entry(0x0010, 0x0010, "A"), Entry(0x0010, 0x0010, "B")),
        (Entry(9, 0x10, "A", creator="acme ct", block_offset=True),
         Entry(9, 0x10, "B", creator="  ACME\tCT", block_offset=True)),
    ],
)  # fmt: skip
def test_duplicate_keys(first, second):
    entries = [first, Entry(1, 1), second]
    with pytest.raises(ValueError, match=r"entry 2 \(.*\): duplicate of entry 0 \("):
        encode(entries)
    for policy, kept in (("first", first), ("last", second)):
        _, records, pool = parse(encode(entries, duplicates=policy))
        assert len(records) == 2
        assert kept.keyword in [text(pool, rec["keyword"]) for rec in records]


def test_block_offset_and_full_element_are_different_keys():
    entries = [Entry(9, 0x10, "Low", creator="ACME", block_offset=True),
               Entry(9, 0x1010, "Full", creator="ACME")]  # fmt: skip
    assert len(parse(encode(entries))[1]) == 2


def test_unknown_duplicate_policy():
    with pytest.raises(ValueError, match=r"duplicates must be one of 'error', 'first', 'last'"):
        encode([], duplicates="keep")


@pytest.mark.parametrize(
    "entries, pool, message",
    [
        (0, 2**32, "string pool is 4294967296 bytes, at most 4294967295"),
        (40_000_000, 0, "too large for 32-bit offsets"),
    ],
)
def test_sizes_beyond_the_format(entries, pool, message):
    with pytest.raises(ValueError, match=message):
        writer.check_layout_size(entries, pool)


def test_write_creates_the_encoded_file(tmp_path):
    path = tmp_path / "d.tatl"
    write(path, MIXED)
    assert path.read_bytes() == encode(MIXED)
    assert os.listdir(tmp_path) == ["d.tatl"]


def test_write_replaces_an_existing_file(tmp_path):
    path = tmp_path / "d.tatl"
    path.write_bytes(b"old")
    write(str(path), [PATIENT_NAME])
    assert path.read_bytes() == encode([PATIENT_NAME])


def test_invalid_entries_leave_no_file(tmp_path):
    path = tmp_path / "d.tatl"
    with pytest.raises(ValueError):
        write(path, [PATIENT_NAME, Entry(1, 2, vr="XX")])
    assert os.listdir(tmp_path) == []


def test_failed_rename_keeps_the_old_file_and_no_temporary(tmp_path, monkeypatch):
    path = tmp_path / "d.tatl"
    path.write_bytes(b"old")

    def fail(src, dst):
        raise OSError("disk gone")

    monkeypatch.setattr(writer.os, "replace", fail)
    with pytest.raises(OSError, match="disk gone"):
        write(path, [PATIENT_NAME])
    assert path.read_bytes() == b"old"
    assert os.listdir(tmp_path) == ["d.tatl"]


def test_write_into_missing_folder_fails_cleanly(tmp_path):
    with pytest.raises(FileNotFoundError):
        write(tmp_path / "no" / "d.tatl", [PATIENT_NAME])
    assert os.listdir(tmp_path) == []


# Round trip through the reader. The extension is built separately; these run whenever it is.
ROUND_TRIP = [
    PATIENT_NAME,
    Entry(0x0008, 0x0016, "SOPClassUID", "SOP Class UID", "UI", sources=("dcmtk", "pydicom")),
    Entry(0x0028, 0x0040, "ImageFormat", "Image Format", "CS", retired=True, description="old"),
    Entry(0x0019, 0x0C, "AcqLen", "Acq Length", "DS", creator="GEMS_ACQU_01",
          block_offset=True, sources=("dcmtk",)),
    Entry(0x0029, 0x10, "Straße", "Grüße ✓", "??", creator="Straße  Medical",
          block_offset=True, description="ünïcödé " * 3),
    Entry(0x6000, 0x3000, "OverlayData", "Overlay Data", "OW"),
    Entry(0xFFFF, 0xFFFF, "Last", "Last", "UV"),
    Entry(0x0000, 0x0000, "First", "First", "UL"),
]  # fmt: skip


@pytest.fixture
def reader():
    return pytest.importorskip("tagatlas._tagatlas", reason="extension module not built")


def test_round_trip_every_field(reader, tmp_path):
    path = tmp_path / "rt.tatl"
    write(path, ROUND_TRIP)
    d = reader.open(path)
    assert len(d) == len(ROUND_TRIP)
    for entry in ROUND_TRIP:
        assert d.lookup(entry.group, entry.element, entry.creator) == expected_result(entry)


@pytest.mark.parametrize(
    "group, element, creator, keyword",
    [
        (0x0019, 0x0C, "gems_acqu_01", "AcqLen"),
        (0x0019, 0x0C, "  GEMS_ACQU_01\t", "AcqLen"),
        (0x0029, 0x10, "STRASSE MEDICAL", "Straße"),
        (0x0029, 0x10, "strasse\u00a0medical", "Straße"),
        (0x0019, 0x0C, None, None),
        (0x0019, 0x100C, "GEMS_ACQU_01", None),
        (0x0010, 0x0010, "ACME", None),
        (0x0010, 0x0011, None, None),
    ],
)
def test_round_trip_creator_forms(reader, tmp_path, group, element, creator, keyword):
    path = tmp_path / "rt.tatl"
    write(path, ROUND_TRIP)
    found = reader.open(path).lookup(group, element, creator)
    assert (found and found["keyword"]) == keyword


def test_round_trip_empty_dictionary(reader, tmp_path):
    path = tmp_path / "empty.tatl"
    write(path, [])
    d = reader.open(path)
    assert (len(d), d.lookup(0x0010, 0x0010)) == (0, None)
