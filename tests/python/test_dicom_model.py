"""The private-group rules the DICOM readers share: creator elements and the blocks they reserve."""

import pytest

from tagatlas._dicom.model import creator_of, creator_slot, is_creator_element


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
    [(0x1000, 0x10), (0x10FF, 0x10), (0xFF00, 0xFF), (0xFFFF, 0xFF), (0x0FFF, None),
     (0x0010, None), (0x0000, None)],
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
