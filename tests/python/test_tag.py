"""Tags as text: one writing for the command line, search, the importers' reports and explain."""

import pytest

from tagatlas._dicom.tag import format_tag, tag_text


@pytest.mark.parametrize(
    "args, kwargs, text",
    [
        ((0x0010, 0x0010), {}, "(0010,0010)"),
        ((0x0019, 0x0C, True), {}, "(0019,xx0C)"),
        ((0, 0, False, "60xx3000"), {}, "(60xx,3000)"),
        ((0x7FE0, 0xABCD), {"parentheses": False}, "7FE0,ABCD"),
        ((0x0019, 0x0C, True), {"parentheses": False}, "0019,xx0C"),
        ((0, 0, False, "70xxxx04"), {"parentheses": False}, "70xx,xx04"),
    ],
)  # fmt: skip
def test_tag_text(args, kwargs, text):
    assert tag_text(*args, **kwargs) == text


def test_format_tag_splits_a_32_bit_tag():
    assert format_tag(0x0008_1150) == "(0008,1150)"
