"""datadict.install_in_pydicom(): pydicom's functions and their by-name copies become tagatlas's,
and uninstall_from_pydicom() gives every one back; pydicom's messages and warnings stay."""

import importlib
import logging
import subprocess
import sys
import warnings

import pytest

from tagatlas import datadict as dd

pydicom = pytest.importorskip("pydicom")

from pydicom import datadict as pd  # noqa: E402

# Where pydicom holds dictionary functions by name, and the names it holds there.
COPIES = [
    ("pydicom.datadict", "get_entry"), ("pydicom.datadict", "dictionary_VR"),
    ("pydicom.datadict", "tag_for_keyword"), ("pydicom.datadict", "repeater_has_keyword"),
    ("pydicom.datadict", "get_private_entry"), ("pydicom.datadict", "add_dict_entries"),
    ("pydicom.datadict", "_dictionary_vr_fast"), ("pydicom.datadict", "mask_match"),
    ("pydicom.dataset", "tag_for_keyword"), ("pydicom.dataset", "repeater_has_keyword"),
    ("pydicom.dataset", "get_private_entry"), ("pydicom.dataset", "keyword_for_tag"),
    ("pydicom.dataelem", "dictionary_has_tag"), ("pydicom.dataelem", "repeater_has_tag"),
    ("pydicom.dataelem", "private_dictionary_description"),
    ("pydicom.filereader", "_dictionary_vr_fast"), ("pydicom.hooks", "private_dictionary_VR"),
    ("pydicom.hooks", "dictionary_VR"), ("pydicom.fileutil", "dictionary_description"),
    ("pydicom.fileset", "tag_for_keyword"), ("pydicom.util.codify", "dictionary_keyword"),
    ("pydicom.util.leanread", "dictionary_VR"),
]  # fmt: skip


@pytest.fixture
def originals():
    """pydicom's own function at each place of COPIES; everything is uninstalled afterwards."""
    found = {(m, n): getattr(importlib.import_module(m), n) for m, n in COPIES}
    assert not any(f.__module__.startswith("tagatlas") for f in found.values())
    yield found
    dd.uninstall_from_pydicom()
    dd.use(keep_additions=False)


def held(module, name):
    return getattr(sys.modules[module], name)


def test_install_twice_rebinds_every_copy_and_uninstall_restores_them(originals):
    dd.install_in_pydicom()
    dd.install_in_pydicom()
    for (module, name), theirs in originals.items():
        ours = held(module, name)
        assert ours is not theirs and ours.__module__.startswith("tagatlas"), (module, name)
        assert ours is held("pydicom.datadict", name)
    assert pd.keyword_dict is dd.keyword_dict
    dd.uninstall_from_pydicom()
    assert {place: held(*place) for place in originals} == originals
    assert pd.keyword_dict is not dd.keyword_dict and "PatientName" in pd.keyword_dict
    assert not hasattr(pd, "__getattr__")
    dd.uninstall_from_pydicom()  # once more: nothing to do


def test_modules_imported_later_get_tagatlas_and_give_it_back(originals):
    saved = sys.modules.pop("pydicom.util.leanread")
    dd.install_in_pydicom()
    try:
        later = importlib.import_module("pydicom.util.leanread")
        assert later.dictionary_VR is dd.dictionary_VR
        dd.uninstall_from_pydicom()
        assert later.dictionary_VR is originals["pydicom.util.leanread", "dictionary_VR"]
    finally:
        sys.modules["pydicom.util.leanread"] = saved


def test_keyword_dict_is_read_on_first_use_only(originals):
    code = """
import pydicom
from tagatlas import datadict as dd
dd.install_in_pydicom()
unread = dd._public_keywords is None
from pydicom.datadict import keyword_dict
print(unread, keyword_dict is dd.keyword_dict, pydicom.datadict.tag_for_keyword("PatientName"))
"""
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         check=True, timeout=120).stdout  # fmt: skip
    assert out.split() == ["True", "True", str(0x00100010)]


def test_without_pydicom_an_import_error_names_the_extra():
    code = """
import sys
sys.modules["pydicom"] = None
from tagatlas import datadict
try:
    datadict.install_in_pydicom()
except ImportError as e:
    print(e)
"""
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         check=True, timeout=120).stdout  # fmt: skip
    assert "tagatlas[dicom]" in out


def test_additions_reach_both_dictionaries(originals):
    tag, private = 0x10021001, 0x00410001
    dd.install_in_pydicom()
    try:
        pd.add_dict_entry(tag, "UL", "TestAddedOne", "Test Added One")
        pd.add_private_dict_entry("ACME ADDED 1.0", private, "US", "Some Number")
        asked = lambda: (pd.get_entry(tag), pd.tag_for_keyword("TestAddedOne"),  # noqa: E731
                         pd.private_dictionary_VR(0x00411001, "ACME ADDED 1.0"))  # fmt: skip
        ours = asked()
        assert ours[0] == dd.get_entry(tag) and ours[1] == tag
        dd.uninstall_from_pydicom()
        assert asked() == ours
    finally:
        del pd.DicomDictionary[tag], pd.keyword_dict["TestAddedOne"]
        del pd.private_dictionaries["ACME ADDED 1.0"]


class Invalid(list):
    """A creator value that cannot be one: a list, as a multi-valued element gives."""


# (tag, creator): an unknown creator, a known creator without the tag, a creator that is no
# string, a creator that cannot be a key.
PRIVATE_MISSES = [
    (0x00111001, "Creator 1.0"), (0x0019101F, "GEMS_ACQU_01"), (0x00191012, 3),
    (0x00251007, Invalid([13975, 13802])),
]  # fmt: skip


def outcome(function, tag, creator, caplog):
    caplog.clear()
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            function(tag, creator)
            result = "no error"
        except KeyError as e:
            result = str(e)
    logged = [(r.name, r.levelno, r.getMessage()) for r in caplog.records]
    return result, [(w.category, str(w.message)) for w in caught], logged


@pytest.mark.parametrize("tag, creator", PRIVATE_MISSES)
def test_private_misses_say_what_pydicom_says(originals, caplog, tag, creator):
    caplog.set_level(logging.WARNING, logger="pydicom")
    theirs = outcome(pd.get_private_entry, tag, creator, caplog)
    dd.install_in_pydicom()
    ours = outcome(pd.get_private_entry, tag, creator, caplog)
    assert theirs[0] != "no error" and ours == theirs
