"""`explain` on hostile input: damaged and deep DICOM, odd creators, damaged dictionaries, FIFOs,
huge values and huge documents. Each ends in rows or in one line on stderr, never a traceback,
and in time and memory that follow the input."""

import json
import os
import struct
import subprocess
import sys
import zlib

import pytest

import tatl_layout as layout
from conftest import SANITIZED
from conftest import run_cli as run
from explain_dict import ENTRIES, dict_path  # noqa: F401 (a fixture)
from tagatlas.explain import explain

pydicom = pytest.importorskip("pydicom")
from pydicom.data import get_testdata_file  # noqa: E402
from pydicom.dataset import Dataset, FileMetaDataset  # noqa: E402
from pydicom.sequence import Sequence  # noqa: E402
from pydicom.uid import DeflatedExplicitVRLittleEndian, ExplicitVRLittleEndian  # noqa: E402


def meta(syntax=ExplicitVRLittleEndian) -> bytes:
    """A preamble, "DICM" and File Meta Information for `syntax`, as pydicom writes them."""
    from io import BytesIO

    from pydicom.filewriter import write_file_meta_info

    m = FileMetaDataset()
    m.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    m.MediaStorageSOPInstanceUID = "1.2.3.4"
    m.TransferSyntaxUID = syntax
    out = BytesIO()
    out.write(bytes(128) + b"DICM")
    write_file_meta_info(out, m, enforce_standard=True)
    return out.getvalue()


def element(group, element_, vr, value: bytes) -> bytes:
    """One explicit VR little endian element with a defined length."""
    if vr in ("SQ", "OB", "UN"):
        return struct.pack("<HH2sHI", group, element_, vr.encode(), 0, len(value)) + value
    return struct.pack("<HH2sH", group, element_, vr.encode(), len(value)) + value


def deep(depth: int) -> bytes:
    """Sequences nested `depth` deep, each of undefined length in an item of undefined length."""
    open_ = struct.pack("<HH2sHI", 0x0008, 0x1115, b"SQ", 0, 0xFFFFFFFF) + struct.pack(
        "<HHI", 0xFFFE, 0xE000, 0xFFFFFFFF)  # fmt: skip
    close = struct.pack("<HHI", 0xFFFE, 0xE00D, 0) + struct.pack("<HHI", 0xFFFE, 0xE0DD, 0)
    return open_ * depth + element(0x0010, 0x0010, "PN", b"Doe^Jane") + close * depth


def one_error_line(status, out, err):
    assert (status, out) == (2, "")
    assert err.startswith("tagatlas: error: ") and err.count("\n") == 1


# ---------------------------------------------------------------------------------------------
# DICOM that pydicom cannot read


def small_file(tmp_path) -> bytes:
    """A file with what a reader meets: private blocks, nested undefined-length sequences, a
    value left in the file."""
    ds = Dataset()
    inner = Dataset()
    inner.add_new(0x00190010, "LO", "ACME 1.0")
    inner.add_new(0x0019100C, "DS", "1.5")
    ds.add_new(0x00081115, "SQ", Sequence([inner, Dataset()]))
    ds.add_new(0x00100010, "PN", "Doe^Jane")
    ds.add_new(0x00190010, "LO", "ACME 1.0")
    ds.add_new(0x0019100C, "DS", "2.5")
    ds.add_new(0x7FE00010, "OB", bytes(5000))
    ds.file_meta = FileMetaDataset()
    ds.file_meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds.SOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    ds.SOPInstanceUID = "1.2.3.4"
    path = tmp_path / "whole.dcm"
    ds.save_as(path, enforce_file_format=True)
    return path.read_bytes()


def test_truncated_at_every_byte(capsys, tmp_path, dict_path):
    data = small_file(tmp_path)
    path = tmp_path / "cut.dcm"
    failed = 0
    for end in range(133, len(data) - 4990):  # past the marker, up to the deferred value
        path.write_bytes(data[:end])
        status, out, err = run(capsys, "explain", path, "--dict", dict_path)
        if status != 0:
            one_error_line(status, out, err)
            failed += 1
    assert failed  # the cuts do reach pydicom's failures


def test_truncated_test_files(capsys, tmp_path):
    path = tmp_path / "cut.dcm"
    for name in ["CT_small.dcm", "rtplan.dcm", "MR_small_implicit.dcm", "test-SR.dcm"]:
        with open(get_testdata_file(name), "rb") as f:
            data = f.read()
        for end in range(133, len(data), 211):
            path.write_bytes(data[:end])
            status, out, err = run(capsys, "explain", path)
            if status != 0:
                one_error_line(status, out, err)


# Bytes that are no deflate stream, and a deflate stream cut in half.
_CUT = zlib.compress(bytes(range(256)) * 16)[2:-4]


@pytest.mark.parametrize("body", [b"\x8b\x13not deflate at all" * 40, _CUT[: len(_CUT) // 2]])
def test_deflated_body_that_is_garbage(capsys, tmp_path, body):
    path = tmp_path / "deflated.dcm"
    path.write_bytes(meta(DeflatedExplicitVRLittleEndian) + body)
    one_error_line(*run(capsys, "explain", path))


@pytest.mark.parametrize("depth", [300, 1000])
def test_deep_undefined_length_sequences(capsys, tmp_path, depth):
    path = tmp_path / "deep.dcm"
    path.write_bytes(meta() + deep(depth))
    status, out, err = run(capsys, "explain", path, "--json")
    if status == 0:  # pydicom read it: every level is named
        rows = json.loads(out)
        assert sum(r["tag"] == "0008,1115" for r in rows) == depth and err == ""
    else:  # pydicom's own reader refused the depth
        one_error_line(status, out, err)


def nested_json(depth: int) -> dict:
    top = item = {}
    for _ in range(depth):
        child = {}
        item["00081115"] = {"vr": "SQ", "Value": [child]}
        item = child
    item["00190010"] = {"vr": "LO", "Value": ["ACME 1.0"]}
    item["0019100C"] = {"vr": "DS", "Value": [1]}
    return top


def test_json_nested_a_thousand_deep(capsys, tmp_path, dict_path):
    path = tmp_path / "deep.json"
    path.write_text(json.dumps(nested_json(1000)))
    status, out, err = run(capsys, "explain", path, "--dict", dict_path, "--json")
    assert (status, err) == (0, "")
    rows = json.loads(out)
    assert len(rows) == 1002 and rows[-1]["keyword"] == "AcmeLength"
    assert rows[-1]["path"] == "0008,1115[0]." * 1000 + "0019,100C"


def test_data_set_in_memory_nested_a_thousand_deep(dict_path):
    top = ds = Dataset()
    for _ in range(1000):
        child = Dataset()
        ds.add_new(0x00081115, "SQ", Sequence([child]))
        ds = child
    ds.add_new(0x00100010, "PN", "Doe")
    rows = explain(top, dict_path)
    assert len(rows) == 1001 and rows[-1].keyword == "PatientName"


# ---------------------------------------------------------------------------------------------
# text no dictionary holds, dictionaries that are damaged


@pytest.mark.parametrize("creator", ["\ud800", "ACME\udfff 1.0"])
def test_creator_with_a_lone_surrogate_is_unknown(capsys, tmp_path, dict_path, creator):
    doc = {"00190010": {"vr": "LO", "Value": [creator]}, "00191001": {"vr": "US", "Value": [1]}}
    assert explain(doc, dict_path)[1].unknown == "creator"
    path = tmp_path / "s.json"
    path.write_text(json.dumps(doc))  # written as the \ud800 escape
    status, out, err = run(capsys, "explain", path, "--dict", dict_path)
    assert (status, err) == (0, "")
    assert "<unknown creator>" in out.splitlines()[2]


def _damage_acme_length(data):
    # The index entry of (0019,xx0C) of ACME 1.0 names a record beyond the records.
    layout.patch_index(data, layout.record_position(data, 0x0019, 0x0C), record_index=99)


@pytest.mark.parametrize("form", [[], ["--json"], ["--summary"]])
def test_dictionary_with_a_bad_reference(capsys, tmp_path, write_dict, form):
    damaged = write_dict(ENTRIES, edit=_damage_acme_length)
    path = tmp_path / "d.json"
    path.write_text(json.dumps({"00190010": {"vr": "LO", "Value": ["ACME 1.0"]},
                                "0019100C": {"vr": "DS", "Value": [1]}}))  # fmt: skip
    status, out, err = run(capsys, "explain", path, "--dict", damaged, *form)
    assert status == 2 and err.count("\n") == 1
    assert err.startswith(f"tagatlas: error: {damaged} is damaged: index out of bounds")
    assert "0019,100C" not in out


def test_fifo_is_refused_at_once(tmp_path):
    fifo = tmp_path / "in.dcm"
    os.mkfifo(fifo)
    # A child process, so that a regression blocks it and not the suite; 60 s is far beyond the
    # fraction of a second the refusal takes.
    result = subprocess.run(
        [sys.executable, "-m", "tagatlas", "explain", str(fifo)], stdin=subprocess.DEVNULL,
        capture_output=True, text=True, timeout=60,
    )  # fmt: skip
    assert result.returncode == 2
    assert result.stderr == f"tagatlas: error: cannot read {fifo}: not a regular file (a FIFO)\n"


# ---------------------------------------------------------------------------------------------
# size: one long value, many rows


def test_long_creator_is_cut_in_text_and_whole_in_json(capsys, tmp_path, dict_path):
    creator = "ACME " + "x" * 200_000
    doc = {"00190010": {"vr": "LO", "Value": [creator]}}
    doc |= {f"001910{e:02X}": {"vr": "US", "Value": [e]} for e in range(256)}
    doc |= {f"0040{e:04X}": {"vr": "CS", "Value": ["A"]} for e in range(0x2000, 0x2000 + 743)}
    path = tmp_path / "long.json"
    path.write_text(json.dumps(doc))
    status, out, _ = run(capsys, "explain", path, "--dict", dict_path)
    assert status == 0
    lines = out.splitlines()
    assert len(lines) == 1001 and len(out) < 1001 * 400  # proportional to the rows
    assert max(len(line) for line in lines) < 8 * 66
    assert ("ACME " + "x" * 58 + "…") in lines[1]
    status, out, _ = run(capsys, "explain", path, "--dict", dict_path, "--json")
    assert json.loads(out)[1]["creator"] == creator


_MEASURE = """
import json, resource, sys
from tagatlas._cli import main
from tagatlas.naming import default_namer

def peak():  # the largest address space the process has had, in bytes
    for line in open("/proc/self/status"):
        if line.startswith("VmPeak:"):
            return int(line.split()[1]) * 1024

default_namer()
mode, path = sys.argv[1], sys.argv[2]
if mode == "read":
    start = peak()
    with open(path, "rb") as f:
        document = json.loads(f.read())
    print(start, peak())
else:
    limit = int(sys.argv[3])
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    sys.exit(main(["explain", "--json", path]))
"""


def _explain_within_reading_memory(path):
    """Runs `explain --json` in a child limited to the address space that reading the input
    takes, half as much again and 64 MiB: rows kept or joined would need several times it."""
    run_child = lambda *a, **kw: subprocess.run(  # noqa: E731
        [sys.executable, "-c", _MEASURE, *map(str, a)], timeout=600, **kw)
    read = run_child("read", path, capture_output=True, text=True, check=True)
    start, peak = map(int, read.stdout.split())
    limit = peak + (peak - start) // 2 + (64 << 20)
    with open(os.devnull, "w") as null:
        result = run_child("explain", path, limit, stdout=null, stderr=subprocess.PIPE, text=True)
    assert (result.returncode, result.stderr) == (0, "")


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer reserves terabytes of address space")
def test_json_array_of_40000_data_sets_streams(tmp_path):
    data_set = {"00100010": {"vr": "PN", "Value": [{"Alphabetic": "Doe^Jane"}]},
                "00100020": {"vr": "LO", "Value": ["12345"]},
                "00190010": {"vr": "LO", "Value": ["GEMS_ACQU_01"]},
                "00191002": {"vr": "SL", "Value": [1]},
                "00280010": {"vr": "US", "Value": [512]}}  # fmt: skip
    path = tmp_path / "many.json"
    path.write_text(json.dumps([data_set] * 40_000))
    _explain_within_reading_memory(path)


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer reserves terabytes of address space")
def test_sequence_of_many_items_streams(tmp_path):
    items = [{"00081150": {"vr": "UI", "Value": ["1.2.3"]}}] * 300_000
    path = tmp_path / "long.json"
    path.write_text(json.dumps({"00081115": {"vr": "SQ", "Value": items}}))
    _explain_within_reading_memory(path)
