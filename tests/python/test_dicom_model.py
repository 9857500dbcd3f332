"""The rules of private groups and blocks that every reader of DICOM data shares."""

import pytest

from tagatlas._dicom.model import creator_of, creator_slot, is_private_group


@pytest.mark.parametrize("group, private", [
    (0x0001, False), (0x0003, False), (0x0005, False), (0x0007, False), (0x0008, False),
    (0x0009, True), (0x0019, True), (0xFFFD, True), (0xFFFE, False), (0xFFFF, False),
])  # fmt: skip
def test_is_private_group(group, private):
    assert is_private_group(group) is private


@pytest.mark.parametrize("element, slot", [
    (0x0000, None), (0x0010, None), (0x00FF, None), (0x0100, None), (0x0FFF, None),
    (0x1000, 0x10), (0x10FF, 0x10), (0x1100, 0x11), (0xFF00, 0xFF), (0xFFFF, 0xFF),
])  # fmt: skip
def test_creator_slot(element, slot):
    assert creator_slot(element) == slot


CREATORS = {0x00190010: "ACME", 0x001900FF: "LAST", 0x00090010: "NINE"}


@pytest.mark.parametrize("group, element, creator", [
    (0x0019, 0x1000, "ACME"),  # the first element of a block
    (0x0019, 0x10FF, "ACME"),
    (0x0019, 0xFF00, "LAST"),
    (0x0019, 0x1100, None),  # a block without its creator element
    (0x0019, 0x0FFF, None),  # outside every block
    (0x0019, 0x0010, "ACME"),  # a creator element names itself
    (0x0009, 0x1000, "NINE"),
    (0x0018, 0x1000, None),  # public
])  # fmt: skip
def test_creator_of(group, element, creator):
    assert creator_of(group, element, CREATORS) == creator
