#!/usr/bin/env python3
"""Writes the sample data of examples/: one data set as a DICOM file and as DICOM JSON.

    pip install pydicom
    python examples/make_samples.py     # writes examples/sample.dcm and examples/sample.json

The data set is made up (no real patient): identifying public elements (Patient's Name, Patient
ID, Study Date), a sequence with one item, and two private blocks, one of GE's creator
GEMS_ACQU_01 with Table Speed, a safe private attribute of PS3.15 Table E.3.10-1, beside an
element that is not safe, and one of a creator no dictionary knows. `tagatlas explain --deid`
shows what the confidentiality profile does with each element.
"""

from __future__ import annotations

import json
import pathlib

from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.sequence import Sequence
from pydicom.uid import ExplicitVRLittleEndian

HERE = pathlib.Path(__file__).resolve().parent
CT_IMAGE = "1.2.840.10008.5.1.4.1.1.2"
# Made-up UIDs under the 2.25 (UUID) root, fixed so the files are the same on every run.
INSTANCE = "2.25.1234567890123456789012345678901"
STUDY = "2.25.2234567890123456789012345678901"
REFERENCED = "2.25.3234567890123456789012345678901"


def data_set() -> Dataset:
    ds = Dataset()
    ds.SOPClassUID = CT_IMAGE
    ds.SOPInstanceUID = INSTANCE
    ds.StudyDate = "20260102"
    ds.Modality = "CT"
    ds.PatientName = "Doe^Jane"
    ds.PatientID = "SAMPLE-0001"
    ds.PatientSex = "F"
    ds.StudyInstanceUID = STUDY
    reference = Dataset()
    reference.ReferencedSOPClassUID = CT_IMAGE
    reference.ReferencedSOPInstanceUID = REFERENCED
    ds.ReferencedImageSequence = Sequence([reference])

    ge = ds.private_block(0x0019, "GEMS_ACQU_01", create=True)
    ge.add_new(0x02, "SL", 888)  # Number of Cells in Detector: not on the safe list
    ge.add_new(0x23, "DS", "27.5")  # Table Speed: a safe private attribute
    acme = ds.private_block(0x0029, "ACME Imaging 1.0", create=True)
    acme.add_new(0x01, "LO", "scanner room 3")  # a creator no dictionary knows
    return ds


def main() -> None:
    ds = data_set()
    ds.file_meta = FileMetaDataset()
    ds.file_meta.MediaStorageSOPClassUID = CT_IMAGE
    ds.file_meta.MediaStorageSOPInstanceUID = INSTANCE
    ds.file_meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds.save_as(HERE / "sample.dcm", enforce_file_format=True)
    document = ds.to_json_dict()
    (HERE / "sample.json").write_text(json.dumps(document, indent=1, sort_keys=True) + "\n")


if __name__ == "__main__":
    main()
