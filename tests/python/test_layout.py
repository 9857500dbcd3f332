"""The package's description of the file layout, against files written byte by byte."""

import struct

import tagatlas
from tagatlas._format import layout
from tagatlas.writer import Entry, encode

ENTRIES = [Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN"),
           Entry(0x0019, 0x02, "Cells", "Cells", "SL", creator="GEMS_ACQU_01", block_offset=True)]


def test_root_read_whole_or_from_the_last_24_bytes():
    data = encode(ENTRIES)
    root = layout.read_root(data)
    assert root == layout.unpack_root(data[-24:], len(data) - 24, 0)
    # Positions as the writer lays them out: index at 32, records after it, pool after them.
    assert (root.index_start, root.index_count) == (32, 2)
    assert (root.records_start, root.records_count) == (32 + 2 * 12, 2)
    assert root.pool_start == 32 + 2 * 12 + 2 * 44
    assert root_fields_of(root) == data[-24:]


def root_fields_of(root):
    return layout.root_fields(root.at, root.index_start, root.index_count, root.records_start,
                              root.records_count, root.pool_start, root.pool_length)


def test_fault_dictionary_is_header_one_entry_and_root():
    # Written out by hand: the entry (hash 0, record 0, tag 0000,0000) and a root at 44 whose
    # index starts at 32 with one entry, and whose records (none) and pool (empty) sit at 44.
    expected = (layout.header() + bytes(12)
                + struct.pack("<iIiIiI", -12, 1, -8, 0, -16, 0))  # fmt: skip
    assert tagatlas._faulty_dictionary() == expected


def test_the_header_is_magic_version_and_zero_bytes():
    # The one test that writes the header's bytes out: the others take them from the layout, so a
    # new format version changes VERSION (and this line) only.
    assert layout.header() == b"TATL\x02\x00" + bytes(26)
