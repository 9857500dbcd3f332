"""Finding data elements as files carry them: full element, block form, creator text checked."""

import pytest

import tagatlas
from tagatlas.elements import BLOCK_OFFSET, FULL_ELEMENT, find_element, same_creator
from tagatlas._format.creator import hash_creator
from tagatlas.writer import Entry, write

# Two creators whose canonical forms share one 32-bit hash, so Dict.lookup cannot tell them apart.
COLLIDING = ("ACME 462789", "ACME 679192")

ENTRIES = [
    Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN"),
    Entry(0x0019, 0x0C, "Block", "Block Form", "US", creator="GEMS_ACQU_01", block_offset=True),
    Entry(0x0019, 0x100D, "Exact", "Exact Element", "LO", creator="GEMS_ACQU_01"),
    Entry(0x0019, 0x0D, "BlockD", "Block D", "LO", creator="GEMS_ACQU_01", block_offset=True),
    Entry(0x0029, 0x01, "Slot", "Fixed low element", "SQ", creator="CANON"),
    Entry(0x0031, 0x10, "Collider", "Collider", "UL", creator=COLLIDING[0], block_offset=True),
]


@pytest.fixture(scope="module")
def d(tmp_path_factory):
    path = tmp_path_factory.mktemp("e") / "e.tatl"
    write(path, ENTRIES)
    return tagatlas.open(path)


@pytest.mark.parametrize(
    "group, element, creator, keyword, form",
    [
        (0x0010, 0x0010, None, "PatientName", FULL_ELEMENT),
        (0x0019, 0x100C, "GEMS_ACQU_01", "Block", BLOCK_OFFSET),
        (0x0019, 0x200C, " gems_acqu_01 ", "Block", BLOCK_OFFSET),  # any block, any spelling
        (0x0019, 0x000C, "GEMS_ACQU_01", "Block", BLOCK_OFFSET),  # the low byte itself
        (0x0019, 0x100D, "GEMS_ACQU_01", "Exact", FULL_ELEMENT),  # the exact element first
        (0x0019, 0x200D, "GEMS_ACQU_01", "BlockD", BLOCK_OFFSET),
        (0x0029, 0x0001, "CANON", "Slot", FULL_ELEMENT),
        (0x0031, 0x1010, COLLIDING[0].lower(), "Collider", BLOCK_OFFSET),
    ],
)
def test_found(d, group, element, creator, keyword, form):
    found = find_element(d, group, element, creator)
    assert (found.entry["keyword"], found.form) == (keyword, form)


@pytest.mark.parametrize(
    "group, element, creator",
    [
        (0x0010, 0x0011, None),
        (0x0019, 0x100C, None),  # a private tag needs its creator
        (0x0019, 0x100C, "GEMS_ACQU_02"),
        (0x0010, 0x0010, "GEMS_ACQU_01"),
        (0x0029, 0x1001, "CANON"),  # (0029,0001) is a fixed element, not a block offset
        (0x0031, 0x1010, COLLIDING[1]),  # same hash, another creator
    ],
)
def test_not_found(d, group, element, creator):
    assert find_element(d, group, element, creator) is None


def test_colliding_creators_share_a_hash_but_not_a_canonical_form(d):
    assert hash_creator(COLLIDING[0]) == hash_creator(COLLIDING[1])
    assert d.lookup(0x0031, 0x10, COLLIDING[1]) is not None  # the hash alone matches
    assert not same_creator(*COLLIDING) and same_creator("a  b", " A B")
