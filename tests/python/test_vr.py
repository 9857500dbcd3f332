"""The VR a record shows: its own, or for "??" the choice its facts line names."""

import pytest

from tagatlas._format.vr import normalize_vr, shown_vr


@pytest.mark.parametrize(
    "vr, choice, shown",
    [("PN", None, "PN"), ("??", "OB or OW", "OB or OW"), ("??", None, "??"), ("US", "US or SS", "US")],
)  # fmt: skip
def test_shown_vr(vr, choice, shown):
    assert shown_vr(vr, choice) == shown


@pytest.mark.parametrize("text, vr", [(" SQ ", "SQ"), ("US or SS", "??"), ("xs", "??"), ("??", "??")])
def test_anything_but_one_dicom_vr_is_stored_as_no_single_vr(text, vr):
    assert normalize_vr(text) == vr
