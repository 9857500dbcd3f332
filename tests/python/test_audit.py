"""`explain` over several inputs and folders: what is read, skipped and failed, the FILE column and
"file" key, JSON Lines, the summary and its counts, exit statuses, progress, bounded memory."""

import io
import json
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

from conftest import SANITIZED
from conftest import run_cli as run
from tagatlas._audit.progress import Progress

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def data_set(creator="ACME 1.0", name="Doe^Jane"):
    return {"00100010": {"vr": "PN", "Value": [{"Alphabetic": name}]},
            "00190010": {"vr": "LO", "Value": [creator]},
            "00191002": {"vr": "SL", "Value": [2]},
            "00191023": {"vr": "DS", "Value": [1.5]}}  # fmt: skip


@pytest.fixture
def tree(tmp_path):
    """a.json, sub/b.json, sub/deeper/c.json (GEMS), a text file, a damaged DICOM file, a FIFO,
    a link to the folder above, a link to itself, a link to a.json."""
    top = tmp_path / "tree"
    (top / "sub" / "deeper").mkdir(parents=True)
    (top / "a.json").write_text(json.dumps(data_set()))
    (top / "sub" / "b.json").write_text(json.dumps([data_set(), data_set("acme   1.0")]))
    (top / "sub" / "deeper" / "c.json").write_text(json.dumps(data_set("GEMS_ACQU_01")))
    (top / "notes.txt").write_text("not DICOM\n")
    (top / "sub" / "other.json").write_text('{"name": "a JSON file, not DICOM JSON"}')
    (top / "sub" / "damaged.dcm").write_bytes(damaged_dicom())
    os.mkfifo(top / "sub" / "fifo")
    (top / "sub" / "up").symlink_to("..")
    (top / "sub" / "self").symlink_to("self")
    (top / "link.json").symlink_to("a.json")
    return top


def damaged_dicom() -> bytes:
    """A DICOM file whose deflated data set is garbage, which pydicom cannot read."""
    from io import BytesIO

    filewriter = pytest.importorskip("pydicom.filewriter")
    from pydicom.dataset import FileMetaDataset
    from pydicom.uid import DeflatedExplicitVRLittleEndian

    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    meta.MediaStorageSOPInstanceUID = "1.2.3.4"
    meta.TransferSyntaxUID = DeflatedExplicitVRLittleEndian
    out = BytesIO(bytes(128) + b"DICM")
    out.seek(0, 2)
    filewriter.write_file_meta_info(out, meta, enforce_standard=True)
    return out.getvalue() + b"\x8b\x13not deflate at all" * 40


def program(*argv, **kwargs):
    """The command line in a child process, so that a walk that blocks (a FIFO opened) or loops
    fails the test instead of hanging it: 60 s is far beyond the second it takes."""
    return subprocess.run([sys.executable, "-m", "tagatlas", *map(str, argv)],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60,
                          **kwargs)  # fmt: skip


def test_folder_tree(tree):
    result = program("explain", tree, "--jsonl")
    assert result.returncode == 1  # a file in the folder failed
    damaged = tree / "sub" / "damaged.dcm"
    assert result.stderr.startswith(f"tagatlas: error: {damaged}: ")
    assert result.stderr.count("\n") == 1
    rows = [json.loads(line) for line in result.stdout.splitlines()]
    files = {row["file"] for row in rows}
    assert files == {str(tree / p) for p in
                     ["a.json", "link.json", "sub/b.json", "sub/deeper/c.json"]}  # fmt: skip
    # depth first, names in order
    order = list(dict.fromkeys(row["file"] for row in rows))
    assert order == [str(tree / p) for p in
                     ["a.json", "link.json", "sub/b.json", "sub/deeper/c.json"]]  # fmt: skip
    assert sum(row["file"].endswith("b.json") for row in rows) == 8
    summary = program("explain", tree, "--summary").stdout.splitlines()
    # read: 4; skipped: notes.txt, other.json, fifo, up, self; failed: damaged.dcm
    assert summary[-1] == "files: 4 read, 5 skipped, 1 failed; elements: 20"


@pytest.mark.parametrize("form", ["text", "--json", "--jsonl"])
def test_each_row_says_its_file(capsys, tree, form):
    a, c = tree / "a.json", tree / "sub" / "deeper" / "c.json"
    status, out, err = run(capsys, "explain", a, c, *([form] if form != "text" else []))
    assert (status, err) == (0, "")
    if form == "text":
        lines = out.splitlines()
        assert lines[0].split()[:2] == ["FILE", "PATH"]
        body = [line for line in lines if line[:1] not in ("", " ", "F")]
        assert [line.split()[0] for line in body] == [str(a)] * 4 + [str(c)] * 4
        assert lines.count("") == 1  # one table a file
    else:
        rows = json.loads(out) if form == "--json" else [json.loads(x) for x in out.splitlines()]
        assert [r["file"] for r in rows] == [str(a)] * 4 + [str(c)] * 4
        assert list(rows[0])[:2] == ["file", "path"]
    status, out, _ = run(capsys, "explain", a, "--json")
    assert status == 0 and "file" not in json.loads(out)[0]  # one input: no file


def test_jsonl_writes_each_row_as_it_is_made(capsys, tree, monkeypatch):
    # The rows of the first file are out before the second file is read.
    from tagatlas._audit import run as audit_run

    seen = []
    real = audit_run.iter_explain

    def spy(path, *args, **kwargs):
        seen.append((path, capsys.readouterr().out.count("\n")))
        return real(path, *args, **kwargs)

    monkeypatch.setattr(audit_run, "iter_explain", spy)
    status, out, _ = run(capsys, "explain", tree / "a.json", tree / "link.json", "--jsonl")
    assert status == 0 and [n for _, n in seen] == [0, 4]


@pytest.mark.parametrize("argv, status, errors", [
    (["a.json", "sub"], 1, 1),  # a file in a folder failed
    (["a.json", "notes.txt"], 2, 1),  # a file given is not DICOM
    (["a.json", "absent.json"], 2, 1),
    (["sub/damaged.dcm", "a.json"], 2, 1),
    (["a.json", "sub/deeper"], 0, 0),
    (["sub/deeper", "notes.txt", "absent"], 2, 2),
])  # fmt: skip
def test_exit_statuses(tree, argv, status, errors):
    result = program("explain", *argv, "--summary", cwd=tree)
    assert (result.returncode, result.stderr.count("\n")) == (status, errors)
    assert "Traceback" not in result.stderr
    assert result.stdout.splitlines()[-1].startswith("files: ")  # the audit went on


def test_summary(capsys, tree):
    status, out, _ = run(capsys, "explain", tree / "a.json", tree / "sub", "--summary")
    assert status == 1
    lines = out.splitlines()
    assert lines[0].split() == ["TAG", "CREATOR", "NAME", "VR", "FILES", "ELEMENTS"]
    rows = [line.split("  ") for line in lines[1:-1]]
    rows = [[cell.strip() for cell in row if cell.strip()] for row in rows]
    # Private first, the unknown creator (ACME 1.0 is not in the bundled dictionary) first; its
    # two spellings are one creator; then GEMS's known elements, then the public ones.
    assert [row[:2] for row in rows] == [
        ["0019,xx02", "ACME 1.0"], ["0019,xx23", "ACME 1.0"],
        ["0019,00xx", "ACME 1.0"], ["0019,00xx", "GEMS_ACQU_01"],
        ["0019,xx02", "GEMS_ACQU_01"], ["0019,xx23", "GEMS_ACQU_01"],
        ["0010,0010", "Patient's Name"],
    ]  # fmt: skip
    assert rows[0][2:] == ["<unknown creator>", "-", "2", "3"]
    assert rows[-1][1:] == ["Patient's Name", "PN", "3", "4"]
    assert lines[-1] == "files: 3 read, 4 skipped, 1 failed; elements: 16"
    status, out, _ = run(capsys, "explain", tree / "a.json", tree / "sub", "--summary", "--json")
    document = json.loads(out)
    assert document["counts"] == {"files_read": 3, "skipped": 4, "failed": 1, "elements": 16}
    assert document["rows"][0] == {"tag": "0019,xx02", "creator": "ACME 1.0",
                                   "name": "<unknown creator>", "vr": None, "files": 2,
                                   "elements": 3, "deid": None}  # fmt: skip
    status, out, _ = run(capsys, "explain", tree / "a.json", tree / "sub", "--summary", "--jsonl")
    lines = [json.loads(line) for line in out.splitlines()]
    assert lines[:-1] == document["rows"] and lines[-1] == {"counts": document["counts"]}


def test_summary_with_deid(capsys, tree):
    argv = ["explain", tree / "sub" / "deeper", tree / "a.json", "--summary", "--deid"]
    status, out, _ = run(capsys, *argv, "--deid-option", "retain-safe-private")
    assert status == 0
    lines = out.splitlines()
    assert lines[0].split()[-1] == "DEID"
    deid = {tuple(line.split()[:2]): line.split()[-1] for line in lines[1:8]}
    assert deid[("0019,xx23", "GEMS_ACQU_01")] == "K"  # Table Speed, a safe attribute
    assert deid[("0019,xx02", "GEMS_ACQU_01")] == "X"
    assert deid[("0019,xx23", "ACME")] == "X"  # unknown creators' elements are never safe
    assert deid[("0019,00xx", "GEMS_ACQU_01")] == "K"  # a creator with a safe element
    assert "files: 2 read, 0 skipped, 0 failed; elements: 8" in lines
    # GEMS's creator element and Table Speed; ACME's three elements and Detector Channel
    assert "private elements: 2 kept as safe, 4 removed" in lines
    status, out, _ = run(capsys, *argv, "--json")
    counts = json.loads(out)["counts"]
    assert (counts["private_kept"], counts["private_removed"]) == (0, 6)
    row = next(r for r in json.loads(out)["rows"] if r["tag"] == "0010,0010")
    assert row["deid"] == "Z"


@pytest.mark.skipif(not EXAMPLES.is_dir(), reason="no examples folder")
def test_summary_of_the_examples(capsys):
    status, out, err = run(capsys, "explain", "--summary", "--deid", EXAMPLES)
    assert (status, err) == (0, "")
    # sample.dcm and sample.json are read; the scripts and the C++ example are skipped.
    others = sum(1 for p in EXAMPLES.rglob("*") if p.is_file()) - 2
    assert f"files: 2 read, {others} skipped, 0 failed" in out


class Terminal(io.StringIO):
    def isatty(self):
        return True


def test_progress_only_on_a_terminal_after_a_second():
    now = [0.0]
    clock = lambda: now[0]  # noqa: E731
    shown, hidden = Terminal(), io.StringIO()
    bars = [Progress(shown, clock=clock), Progress(hidden, clock=clock)]
    for t, done in [(0.5, 1), (1.5, 2), (1.6, 3), (2.0, 4)]:
        now[0] = t
        for bar in bars:
            bar.update(done, 9, done * 10)
    for bar in bars:
        bar.clear()
    assert hidden.getvalue() == ""
    text = shown.getvalue()
    assert "1 of 9" not in text  # within the first second
    assert "2 of 9 files, 20 elements, 2 s" in text and "3 of 9" not in text  # redrawn at most
    assert "4 of 9 files, 40 elements, 2 s" in text  # every STEP seconds
    assert text.endswith("\r" + " " * len("4 of 9 files, 40 elements, 2 s") + "\r")


@pytest.mark.parametrize("tty", [False, True])
def test_progress_line_of_the_command_line(capsys, tree, monkeypatch, tty):
    from tagatlas._audit import progress

    ticks = iter(range(0, 10_000, 5))
    monkeypatch.setattr(progress, "monotonic", lambda: next(ticks))  # every look: 5 s later
    err = Terminal() if tty else io.StringIO()
    monkeypatch.setattr(sys, "stderr", err)
    status, out, _ = run(capsys, "explain", tree / "a.json", tree / "sub" / "deeper", "--summary")
    assert status == 0 and out
    assert ("files, " in err.getvalue()) is tty


_MANY = """
import resource, sys
limit = int(sys.argv[1])
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
from tagatlas._cli import main
sys.exit(main(sys.argv[2:]))
"""


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer reserves terabytes of address space")
@pytest.mark.parametrize("form", [[], ["--jsonl"], ["--summary"]])
def test_memory_follows_the_largest_file_not_the_number_of_files(tmp_path, form):
    folder = tmp_path / "many"
    folder.mkdir()
    one = {f"0040{e:04X}": {"vr": "LO", "Value": ["x"]} for e in range(0x1000, 0x1000 + 300)}
    text = json.dumps(one)
    for i in range(1500):  # 450,000 rows; kept, they would take hundreds of MB
        (folder / f"{i:04}.json").write_text(text)
    probe = subprocess.run([sys.executable, "-c", _MANY, str(1 << 40), "explain", "--summary",
                            str(folder / "0000.json")], capture_output=True, timeout=600)
    assert probe.returncode == 0
    # The address space one file takes, found by lowering the limit until it fails would be
    # slow; instead the limit is what the child needs for one file plus 64 MiB.
    peak = subprocess.run([sys.executable, "-c",
                           "import resource, sys; from tagatlas._cli import main;"
                           "main(['explain', sys.argv[1]]);"
                           "print([l for l in open('/proc/self/status') if 'VmPeak' in l][0]"
                           ".split()[1])", str(folder / "0000.json")],
                          capture_output=True, text=True, timeout=600, check=True)
    limit = int(peak.stdout.split()[-1]) * 1024 + (64 << 20)
    with open(os.devnull, "w") as null:
        result = subprocess.run([sys.executable, "-c", _MANY, str(limit), "explain", str(folder),
                                 *form], stdout=null, stderr=subprocess.PIPE, text=True,
                                timeout=600)  # fmt: skip
    assert (result.returncode, result.stderr) == (0, "")
