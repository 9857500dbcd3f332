"""The private-group rules the DICOM readers share: creator elements and the blocks they reserve."""

import pytest

from tagatlas._dicom.model import creator_of, creator_slot, is_creator_element, is_private_group


@pytest.mark.parametrize("group, private", [
    (0x0001, False), (0x0003, False), (0x0005, False), (0x0007, False), (0x0008, False),
    (0x0009, True), (0x0019, True), (0xFFFD, True), (0xFFFE, False), (0xFFFF, False),
])  # fmt: skip
def test_is_private_group(group, private):
    assert is_private_group(group) is private


@pytest.mark.parametrize(
    "group, element, creator_element",
    [
        (0x0019, 0x0010, True), (0x0019, 0x00FF, True),
        (0x0019, 0x000F, False), (0x0019, 0x0100, False), (0x0019, 0x1010, False),
        (0x0018, 0x0010, False), (0x0007, 0x0010, False), (0xFFFF, 0x0010, False),
    ],
)  # fmt: skip
def test_creator_elements(group, element, creator_element):
    assert is_creator_element(group, element) is creator_element


@pytest.mark.parametrize(
    "element, slot",
    [(0x1000, 0x10), (0x10FF, 0x10), (0x1100, 0x11), (0xFF00, 0xFF), (0xFFFF, 0xFF),
     (0x0FFF, None), (0x0100, None), (0x00FF, None), (0x0010, None), (0x0000, None)],
)  # fmt: skip
def test_the_creator_slot_of_an_element_is_the_creator_element_of_its_block(element, slot):
    assert creator_slot(element) == slot


def test_an_element_takes_the_creator_of_its_block_in_the_same_item():
    creators = {0x0019_0010: "ACME", 0x0019_0011: "OTHER"}
    assert creator_of(0x0019, 0x1001, creators) == "ACME"
    assert creator_of(0x0019, 0x1101, creators) == "OTHER"
    assert creator_of(0x0019, 0x0011, creators) == "OTHER"
    assert creator_of(0x0019, 0x1201, creators) is None
    assert creator_of(0x0018, 0x1001, creators) is None


CREATORS = {0x00190010: "ACME", 0x001900FF: "LAST", 0x00090010: "NINE"}


@pytest.mark.parametrize("group, element, creator", [
    (0x0019, 0x1000, "ACME"),  # the first element of a block
    (0x0019, 0x10FF, "ACME"),
    (0x0019, 0xFF00, "LAST"),
    (0x0019, 0x0FFF, None),  # outside every block
    (0x0009, 0x1000, "NINE"),
])  # fmt: skip
def test_creator_of_at_the_edges_of_blocks(group, element, creator):
    assert creator_of(group, element, CREATORS) == creator
