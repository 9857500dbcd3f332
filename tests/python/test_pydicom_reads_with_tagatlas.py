"""pydicom reading an implicit-VR file with tagatlas answering: the elements that tagatlas knows
and pydicom's own dictionary does not come with their VR, their value and their name.

The elements are chosen when the test runs, from what the bundled dictionary holds beyond
pydicom's tables, so the test follows the bundled dictionary as it grows.
"""

import warnings

import pytest

from tagatlas import datadict as dd
from tagatlas.description import read_facts
from tagatlas.table import read_table

pydicom = pytest.importorskip("pydicom")

from pydicom.dataset import Dataset, FileMetaDataset  # noqa: E402
from pydicom.uid import ImplicitVRLittleEndian  # noqa: E402

# A value for each VR the test writes; an element of another VR is not chosen.
VALUES = {
    "CS": "ABC", "SH": "short", "LO": "long", "LT": "text", "ST": "text", "UT": "text",
    "PN": "Doe^Jane", "DA": "20260101", "TM": "120000", "UI": "1.2.3.4", "DS": "1.5", "IS": "3",
    "US": 7, "SS": -7, "UL": 7, "SL": -7, "FL": 1.5, "FD": 1.5, "OB": b"\x01\x02",
    "SQ": "a sequence of one item",
}  # fmt: skip


def unknown_to_pydicom():
    """(tag, VR, printed name, creator or None) of the first public and the first private entry
    that the bundled dictionary has and pydicom 3.0.2's tables do not: named ones first (pydicom
    prints the keyword of an entry without a name), SQ only when nothing else."""
    from pydicom import datadict as pd
    from pydicom._dicom_dict import DicomDictionary

    t = read_table()
    public, private = [], []
    columns = (t.groups, t.elements, t.creators, t.vrs, t.names, t.keywords, t.block_offset,
               t.descriptions)  # fmt: skip
    for group, element, creator, vr, name, keyword, block, description in zip(*columns):
        if vr not in VALUES or not (name or keyword) or read_facts(description)[2] is not None:
            continue
        order = (vr == "SQ", not name)
        if not creator:
            tag = group << 16 | element
            if group & 1 or group in (0, 2) or group >= 0xFFFC or element == 0:
                continue
            if tag not in DicomDictionary and pd.mask_match(tag) is None:
                public.append((order, tag, vr, name or keyword, None))
        elif group & 1 and group >= 9 and (block or element >> 8 == 0x10):
            tag = group << 16 | 0x1000 | (element & 0xFF)
            try:
                pd.get_private_entry(tag, creator)
            except KeyError:
                private.append((order, tag, vr, name or keyword, creator))
    assert public and private, "the bundled dictionary holds nothing that pydicom lacks"
    return [min(public)[1:], min(private)[1:]]


def write_implicit(path, chosen):
    ds = Dataset()
    for tag, vr, _, creator in chosen:
        if creator is not None:
            ds.add_new(tag & 0xFFFF0000 | 0x0010, "LO", creator)
        if vr == "SQ":
            item = Dataset()
            item.PatientID = "in the item"
            ds.add_new(tag, vr, [item])
        else:
            ds.add_new(tag, vr, VALUES[vr])
    ds.file_meta = FileMetaDataset()
    ds.file_meta.TransferSyntaxUID = ImplicitVRLittleEndian
    ds.file_meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    ds.file_meta.MediaStorageSOPInstanceUID = "1.2.3.4.5"
    ds.save_as(path, enforce_file_format=True)


@pytest.fixture
def uninstalled():
    yield
    dd.uninstall_from_pydicom()


def test_implicit_file_reads_with_tagatlas_vrs_and_names(tmp_path, uninstalled):
    chosen = unknown_to_pydicom()
    path = tmp_path / "implicit.dcm"
    write_implicit(path, chosen)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # pydicom alone warns of the VRs it cannot look up
        alone = str(pydicom.dcmread(path))
    dd.install_in_pydicom()
    ds = pydicom.dcmread(path)
    assert ds.file_meta.TransferSyntaxUID == ImplicitVRLittleEndian
    printout = str(ds)
    for tag, vr, name, _ in chosen:
        element = ds[tag]
        assert element.VR == vr, (hex(tag), name)
        if vr == "SQ":
            assert element.value[0].PatientID == "in the item"
        else:
            assert element.value == VALUES[vr] or str(element.value) == VALUES[vr]
        assert name in printout and name not in alone, (hex(tag), name)
