"""Shared fixtures: dictionaries written by the package's writer, optionally damaged."""

import os
import pathlib

import pytest

from proc_files import held_by_this_process
from tagatlas.writer import Entry, encode

ACME = "Acme CT"

# A small dictionary with one entry for each case the lookup tests need.
SAMPLE_ENTRIES = (
    Entry(0x0000, 0x0000, "CommandGroupLength", "Command Group Length", "UL"),
    Entry(0x0008, 0x0010, "RecognitionCode", "Recognition Code", "SH", retired=True,
          sources=("dicom",)),
    Entry(0x0008, 0x0020, "StudyDate", "Study Date", "DA",
          description="Date the Study started.", sources=("dicom", "dcmtk")),
    Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN", sources=("dicom",)),
    Entry(0x0029, 0x0010, "AcmeBlockThing", "Acme Block Thing", "LO", creator=ACME,
          block_offset=True, description="A private element in the xx form.",
          sources=("vendor",)),
    Entry(0x0029, 0x0011, "AcmeOtherThing", "Acme Other Thing", "??", creator="  acme\tct  "),
    Entry(0x0029, 0x1011, "AcmeFullThing", "Acme Full Thing", "US", creator=ACME),
    Entry(0x0019, 0x0020, "StreetThing", "Street Thing", "SS", creator="Straße"),
    Entry(0xFFFF, 0xFFFF, "LastTag", "Last Tag", "UN"),
)  # fmt: skip


def run_cli(capsys, *argv):
    """Runs the command line in this process: (exit status, stdout, stderr)."""
    from tagatlas._cli import main

    status = main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return status, out, err


@pytest.fixture
def write_dict(tmp_path):
    """Returns write(entries=SAMPLE_ENTRIES, *, edit=None, name=None) -> pathlib.Path.

    `edit` receives the file's bytes as a bytearray and may change them before they are written.
    """
    counter = iter(range(1_000_000))

    def write(entries=SAMPLE_ENTRIES, *, edit=None, name=None):
        data = bytearray(encode(entries))
        if edit is not None:
            edit(data)
        path = tmp_path / (name or f"dict{next(counter)}.tatl")
        path.write_bytes(data)
        return path

    return write


@pytest.fixture
def sample_path(write_dict):
    return write_dict()


@pytest.fixture
def sample(sample_path):
    import tagatlas

    return tagatlas.open(sample_path)


# AddressSanitizer reserves terabytes of address space at start, so a child process that inherits
# its preloaded runtime cannot run under a memory limit.
SANITIZED = os.path.exists("/proc/self/maps") and b"libasan" in pathlib.Path(
    "/proc/self/maps"
).read_bytes()


@pytest.fixture
def sanitized():
    """True when this process runs with AddressSanitizer preloaded."""
    return SANITIZED


@pytest.fixture
def held():
    """Returns held(path) -> (descriptors open on path, mappings of path) in this process."""
    return held_by_this_process
