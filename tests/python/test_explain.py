"""Naming the data elements of DICOM files read with pydicom: creators per item, paths, VRs."""

import sys

import pytest

from explain_dict import dict_path  # noqa: F401 (a fixture)
from tagatlas._dicom.dicom_file import DEFER_SIZE, PydicomMissingError, read
from tagatlas.explain import explain

pydicom = pytest.importorskip("pydicom")
from pydicom.data import get_testdata_file  # noqa: E402
from pydicom.dataset import Dataset, FileMetaDataset  # noqa: E402
from pydicom.sequence import Sequence  # noqa: E402
from pydicom.uid import ExplicitVRLittleEndian, ImplicitVRLittleEndian  # noqa: E402
from conftest import run_cli as run


def item(*elements):
    ds = Dataset()
    for tag, vr, value in elements:
        ds.add_new(tag, vr, value)
    return ds


def save(ds, path, implicit=False):
    ds.file_meta = FileMetaDataset()
    ds.file_meta.TransferSyntaxUID = ImplicitVRLittleEndian if implicit else ExplicitVRLittleEndian
    ds.SOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    ds.SOPInstanceUID = "1.2.3.4"
    ds.save_as(path, enforce_file_format=True)
    return path


def by_path(rows):
    return {r.path: r for r in rows}


def nested():
    """Two private blocks in one group, nested sequences, creators per item and in other
    spellings, an element without a creator element, an unknown creator, retired and
    repeating tags."""
    inner = item((0x00081150, "UI", "1.2.3"))
    series = item(
        (0x00081140, "SQ", Sequence([item(), inner])),
        (0x00190010, "LO", "OTHER CO"),  # in this item, block 10 belongs to another creator
        (0x00191021, "US", 7),
    )
    return item(
        (0x00081115, "SQ", Sequence([series])),
        (0x00100010, "PN", "Doe^Jane"),
        (0x00190010, "LO", " acme   1.0 "),
        (0x00190011, "LO", "OTHER CO"),
        (0x0019100C, "DS", "1.5"),
        (0x0019110C, "DS", "2.5"),  # block 11 is OTHER CO's, which has no element 0C
        (0x00191120, "SQ", Sequence([item((0x00191121, "US", 3))])),  # no creator in the item
        (0x00191121, "US", 4),
        (0x00211005, "CS", "X"),  # no (0021,0010)
        (0x00230010, "LO", "NOBODY"),
        (0x00231001, "CS", "Y"),
        (0x00280040, "CS", "RECT"),
        (0x00283002, "SS", [256, 0, 16]),
        (0x10000120, "US", [1, 2, 3]),
        (0x60023000, "OW", b"\0\0"),
        (0x00991001, "LO", "?"),
    )


EXPECTED = {
    # path: (keyword, creator, unknown, match)
    "0008,1115": ("ReferencedSeriesSequence", None, None, "full_element"),
    "0008,1115[0].0008,1140": ("ReferencedImageSequence", None, None, "full_element"),
    "0008,1115[0].0008,1140[1].0008,1150": ("ReferencedSOPClassUID", None, None, "full_element"),
    "0008,1115[0].0019,0010": ("PrivateCreator", "OTHER CO", None, "rule"),
    "0008,1115[0].0019,1021": ("OtherValue", "OTHER CO", None, "block_offset"),
    "0019,0010": ("PrivateCreator", "acme   1.0", None, "rule"),
    "0019,0011": ("PrivateCreator", "OTHER CO", None, "rule"),
    "0019,100C": ("AcmeLength", "acme   1.0", None, "block_offset"),
    "0019,110C": ("", "OTHER CO", "element", None),
    "0019,1120": ("OtherSequence", "OTHER CO", None, "block_offset"),
    "0019,1120[0].0019,1121": ("", None, "no creator", None),
    "0019,1121": ("OtherValue", "OTHER CO", None, "block_offset"),
    "0021,1005": ("", None, "no creator", None),
    "0023,0010": ("PrivateCreator", "NOBODY", None, "rule"),
    "0023,1001": ("", "NOBODY", "creator", None),
    "0028,0040": ("ImageFormat", None, None, "full_element"),
    "1000,0120": ("EscapeTriplet", None, None, "mask"),
    "6002,3000": ("OverlayData", None, None, "full_element"),
    "0099,1001": ("", None, "no creator", None),
}


@pytest.mark.parametrize("implicit", [False, True])
def test_names_every_element_of_a_written_file(tmp_path, dict_path, implicit):
    rows = explain(save(nested(), tmp_path / "n.dcm", implicit), dict_path)
    found = by_path(rows)
    got = {p: (found[p].keyword, found[p].creator, found[p].unknown, found[p].match)
           for p in EXPECTED}  # fmt: skip
    assert got == EXPECTED
    order = [r.path for r in rows]
    # Items right after their sequence, then the next element of the data set.
    assert order.index("0008,1115") + 1 == order.index("0008,1115[0].0008,1140")
    assert order.index("0008,1115[0].0019,1021") + 1 == order.index("0010,0010")
    assert rows[0].path == "0002,0000" and rows[0].name == "Group Length"  # File Meta first
    assert found["0028,0040"].retired and not found["0010,0010"].retired
    assert found["6002,3000"].mask == "60xx3000"
    assert found["0010,0010"].sources == ("pydicom", "dcmtk")
    assert found["0019,100C"].sources == ("vendor",)


def test_implicit_vr_states_no_vr_and_flags_nothing(tmp_path, dict_path):
    ds = item((0x00100010, "LO", "Doe"), (0x00283002, "US", [1, 2, 3]))
    explicit = by_path(explain(save(ds, tmp_path / "e.dcm"), dict_path))
    implicit = by_path(explain(save(ds, tmp_path / "i.dcm", implicit=True), dict_path))
    assert (explicit["0010,0010"].vr, explicit["0010,0010"].vr_differs) == ("LO", True)
    assert (implicit["0010,0010"].vr, implicit["0010,0010"].vr_differs) == (None, False)
    # A VR choice agrees with each of its VRs.
    assert explicit["0028,3002"].dictionary_vr == "US or SS"
    assert not explicit["0028,3002"].vr_differs
    assert all(r.vr is None for p, r in implicit.items() if not p.startswith("0002"))


@pytest.mark.parametrize("implicit", [False, True])
def test_sequences_left_in_the_file_are_walked(tmp_path, dict_path, implicit):
    items = [item((0x00081150, "UI", f"1.2.{i}")) for i in range(400)]
    ds = item((0x00081115, "SQ", Sequence(items)), (0x7FE00010, "OB", bytes(DEFER_SIZE * 4)),
              (0x7FE10010, "LO", "ACME 1.0"), (0x7FE11010, "LO", "after the pixels"))  # fmt: skip
    path = save(ds, tmp_path / "big.dcm", implicit)
    data_set = read(path)
    assert data_set.get_item(0x7FE00010, keep_deferred=True).value is None  # not loaded
    rows = explain(path, dict_path)
    paths = [r.path for r in rows]
    assert paths.count("0008,1115[399].0008,1150") == 1
    assert sum(".0008,1150" in p for p in paths) == 400
    assert paths[-2:] == ["7FE1,0010", "7FE1,1010"]  # nothing after Pixel Data is lost


def test_sequence_stored_as_un_is_walked(tmp_path, dict_path):
    # Explicit VR data may carry a sequence as UN; its content is implicit VR little endian.
    content = b"\xfe\xff\x00\xe0\x0a\x00\x00\x00" + b"\x10\x00\x10\x00\x02\x00\x00\x00AB"
    ds = item((0x00230010, "LO", "NOBODY"), (0x00231020, "UN", content))
    found = by_path(explain(save(ds, tmp_path / "un.dcm"), dict_path))
    assert found["0023,1020"].vr == "UN"
    assert (found["0023,1020[0].0010,0010"].keyword, found["0023,1020[0].0010,0010"].vr) == (
        "PatientName", None)  # fmt: skip


@pytest.mark.parametrize("implicit", [False, True])
def test_creator_of_one_item_is_not_the_next_items(tmp_path, dict_path, implicit):
    def first():
        return item((0x00190010, "LO", "ACME 1.0"), (0x0019100C, "DS", "1"))

    ds = item((0x00081115, "SQ", Sequence([first(), item((0x0019100C, "DS", "2")), first()])),
              (0x0019100C, "DS", "3"))  # fmt: skip
    rows = by_path(explain(save(ds, tmp_path / "s.dcm", implicit), dict_path))
    got = {p: (rows[p].creator, rows[p].unknown) for p in rows if p.endswith("0019,100C")}
    assert got == {
        "0008,1115[0].0019,100C": ("ACME 1.0", None),
        "0008,1115[1].0019,100C": (None, "no creator"),
        "0008,1115[2].0019,100C": ("ACME 1.0", None),
        "0019,100C": (None, "no creator"),
    }


def test_private_only(tmp_path, dict_path):
    rows = explain(save(nested(), tmp_path / "n.dcm"), dict_path, private_only=True)
    assert rows and all(r.private for r in rows)
    assert "0019,0010" in by_path(rows) and "0010,0010" not in by_path(rows)


def test_a_data_set_in_memory_states_its_vrs(dict_path):
    rows = explain(item((0x00100010, "LO", "Doe"), (0x00190010, "LO", "ACME 1.0"),
                        (0x0019100C, "DS", "1")), dict_path)  # fmt: skip
    assert [(r.tag, r.vr, r.vr_differs, r.keyword) for r in rows] == [
        ("0010,0010", "LO", True, "PatientName"),
        ("0019,0010", "LO", False, "PrivateCreator"),
        ("0019,100C", "DS", False, "AcmeLength"),
    ]


# ---------------------------------------------------------------------------------------------
# pydicom's own test files, named by the bundled dictionary


@pytest.mark.parametrize(
    "name", ["CT_small.dcm", "MR_small.dcm", "MR_small_implicit.dcm", "rtplan.dcm",
             "examples_overlay.dcm", "waveform_ecg.dcm", "test-SR.dcm"],
)  # fmt: skip
def test_agrees_with_pydicom_on_its_test_files(name):
    path = get_testdata_file(name)
    rows = [r for r in explain(path) if not r.tag.startswith("0002,")]
    elements = list(pydicom.dcmread(path).iterall())
    assert [r.tag for r in rows] == [f"{e.tag.group:04X},{e.tag.element:04X}" for e in elements]
    for row, element in zip(rows, elements):
        if not element.tag.is_private:
            assert row.name == element.name
            # pydicom gives repeating tags, (60xx,0010) and the like, no keyword.
            assert row.keyword == element.keyword or not element.keyword
        elif element.private_creator and element.name != "Private tag data":
            # pydicom writes a private name in brackets.
            assert f"[{row.name}]" == element.name and row.creator == element.private_creator


def test_ct_small_private_and_overlay_elements():
    found = by_path(explain(get_testdata_file("CT_small.dcm")))
    row = found["0019,1002"]
    assert (row.creator, row.keyword, row.vr, row.dictionary_vr, row.match) == (
        "GEMS_ACQU_01", "NumberOfCellsInDetector", "SL", "SL", "block_offset")
    overlay = by_path(explain(get_testdata_file("examples_overlay.dcm")))["6000,3000"]
    assert (overlay.keyword, overlay.vr, overlay.dictionary_vr, overlay.vr_differs) == (
        "OverlayData", "OW", "OB or OW", False)  # fmt: skip


def test_bare_data_set_without_preamble_is_read():
    rows = explain(get_testdata_file("ExplVR_BigEndNoMeta.dcm"))
    assert rows[0].tag == "0008,0005" and rows[0].vr == "CS" and rows[0].keyword


# ---------------------------------------------------------------------------------------------
# the command line


def test_cli_text(capsys, tmp_path, dict_path, monkeypatch):
    monkeypatch.setenv("COLUMNS", "60")
    path = save(nested(), tmp_path / "n.dcm")
    status, out, err = run(capsys, "explain", path, "--dict", dict_path)
    assert (status, err) == (0, "")
    lines = out.splitlines()
    assert lines[0].split() == ["PATH", "VR", "DICT", "VR", "KEYWORD", "NAME", "CREATOR",
                                "SOURCES", "NOTES"]  # fmt: skip
    rows = {line.split()[0]: line for line in lines[1:] if not line.startswith(" ")}
    assert rows["0010,0010"].split()[1:4] == ["PN", "PN", "PatientName"]
    assert "<unknown creator>" in rows["0023,1001"]
    assert "<unknown: no creator element for its block>" in rows["0021,1005"]
    assert "<unknown element of its creator>" in rows["0019,110C"]
    assert rows["0028,0040"].endswith("retired")
    # The descriptive text, wrapped to the terminal, under its row.
    text = lines[lines.index(rows["0010,0010"]) + 1 :]
    text = text[: next(i for i, line in enumerate(text) if not line.startswith("    "))]
    assert len(text) > 2 and all(len(line) <= 60 for line in text)
    assert " ".join(line.strip() for line in text).startswith("The name of the patient, family")


def test_cli_json_and_private_only(capsys, tmp_path, dict_path):
    import json

    path = save(nested(), tmp_path / "n.dcm")
    status, out, _ = run(capsys, "explain", path, "--dict", dict_path, "--json", "--private-only")
    assert status == 0
    rows = json.loads(out)
    assert {r["path"] for r in rows} >= {"0019,0010", "0019,1121", "0021,1005"}
    assert all(r["private"] for r in rows)
    row = next(r for r in rows if r["path"] == "0019,100C")
    assert row["creator"] == "acme   1.0" and row["dictionary_vr"] == "DS"
    assert next(r for r in rows if r["path"] == "0023,1001")["dictionary_vr"] is None


def test_cli_without_pydicom(capsys, tmp_path, monkeypatch, dict_path):
    path = save(nested(), tmp_path / "n.dcm")
    monkeypatch.setitem(sys.modules, "pydicom", None)  # makes `import pydicom` fail
    with pytest.raises(PydicomMissingError):
        explain(path, dict_path)
    status, out, err = run(capsys, "explain", path)
    assert (status, out) == (2, "")
    assert err == "tagatlas: error: reading DICOM files needs pydicom: " \
                  "pip install 'tagatlas[dicom]'\n"  # fmt: skip
