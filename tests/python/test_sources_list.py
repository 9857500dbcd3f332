"""The sources list of a lookup result for records of any number of sources: the extension keeps
the first few pieces from one scan and scans again for more, and both ways give every piece."""

import pytest

import tagatlas
from tagatlas.table import read_table
from tagatlas.writer import Entry

COUNTS = [0, 1, 3, 4, 5, 6, 7, 8, 64, 1000]


def names(count):
    # Lengths differ, so that a piece taken from the wrong place or cut short shows.
    return tuple(f"source{n}" + "x" * (n % 5) for n in range(count))


def test_every_source_of_every_record_in_stored_order(write_dict):
    entries = [Entry(0x0010, 0x0100 + n, f"K{n}", vr="LO", sources=names(n)) for n in COUNTS]
    entries += [Entry(0x0029, 0x10 + i, f"P{n}", vr="LO", creator="ACME", block_offset=True,
                      sources=names(n)) for i, n in enumerate(COUNTS)]  # fmt: skip
    path = write_dict(entries)
    d = tagatlas.open(path)
    for n in COUNTS:
        expected = list(names(n))
        assert d.lookup(0x0010, 0x0100 + n)["sources"] == expected, n
    for i, n in enumerate(COUNTS):
        assert d.lookup(0x0029, 0x10 + i, "acme")["sources"] == list(names(n)), n
    assert sorted(map(len, read_table(path).sources)) == sorted(COUNTS * 2)


@pytest.mark.parametrize("count", [4, 5, 6])
def test_sources_lists_are_separate_objects_of_their_own_length(write_dict, count):
    d = tagatlas.open(write_dict([Entry(0x0010, 0x0010, "K", vr="LO", sources=names(count))]))
    first, second = (d.lookup(0x0010, 0x0010)["sources"] for _ in range(2))
    first.append("changed")
    assert second == list(names(count)) and len(first) == count + 1
