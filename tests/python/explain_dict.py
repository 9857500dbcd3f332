"""A small dictionary for naming data elements, shared by the DICOM file and DICOM JSON tests."""

import pytest

from tagatlas.writer import Entry, write

LONG_TEXT = (
    "The name of the patient, family name first, then given names, as the registration records "
    "it; a component group for each of the character repertoires the data set uses."
)

ENTRIES = [
    Entry(0x0008, 0x0016, "SOPClassUID", "SOP Class UID", "UI", description="VM 1"),
    Entry(0x0008, 0x0018, "SOPInstanceUID", "SOP Instance UID", "UI", description="VM 1"),
    Entry(0x0008, 0x1115, "ReferencedSeriesSequence", "Referenced Series Sequence", "SQ"),
    Entry(0x0008, 0x1140, "ReferencedImageSequence", "Referenced Image Sequence", "SQ"),
    Entry(0x0008, 0x1150, "ReferencedSOPClassUID", "Referenced SOP Class UID", "UI"),
    Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN",
          description="VM 1\n" + LONG_TEXT, sources=("pydicom", "dcmtk")),
    Entry(0x0028, 0x0040, "ImageFormat", "Image Format", "CS", retired=True),
    Entry(0x0028, 0x3002, "LUTDescriptor", "LUT Descriptor", "??",
          description="VM 3; VR US or SS"),
    Entry(0x1000, 0x0000, "EscapeTriplet", "Escape Triplet", "US", retired=True,
          description="VM 3; mask 1000xxx0"),
    *[Entry(g, 0x3000, "OverlayData", "Overlay Data", "??",
            description="VM 1; VR OB or OW; mask 60xx3000") for g in range(0x6000, 0x6020, 2)],
    Entry(0x0019, 0x0C, "AcmeLength", "Acme Length", "DS", creator="ACME 1.0",
          block_offset=True, sources=("vendor",)),
    Entry(0x0019, 0x20, "OtherSequence", "Other Sequence", "SQ", creator="OTHER CO",
          block_offset=True),
    Entry(0x0019, 0x21, "OtherValue", "Other Value", "US", creator="OTHER CO",
          block_offset=True),
    Entry(0x0019, 0x10, "AcmeWrongSlot", "Acme block offset 10, not a creator", "US",
          creator="ACME 1.0", block_offset=True),
]  # fmt: skip


@pytest.fixture(scope="module")
def dict_path(tmp_path_factory):
    """The path of a file holding ENTRIES, written once per test module."""
    path = tmp_path_factory.mktemp("d") / "explain.tatl"
    write(path, ENTRIES)
    return path
