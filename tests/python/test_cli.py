"""The command line: output and exit status of each subcommand and of each error path."""

import json
import os
import subprocess
import sys

import pytest

import tagatlas
from tagatlas.cli import main
from tagatlas.writer import Entry, encode, write
from tatl_layout import expected_result

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


def run(capsys, *argv):
    status = main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return status, out, err


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
        ("0019,000C", "GEMS_ACQU_01", ENTRIES[2], "full element (0019,000C)"),
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
    ],
)
def test_lookup_json(capsys, dict_path, tag, creator, entry, form):
    argv = ["lookup", tag, "--dict", dict_path, "--json"]
    status, out, _ = run(capsys, *argv + (["--creator", creator] if creator else []))
    assert status == 0
    assert json.loads(out) == {**expected_result(entry), "matched": form}


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
        ([], "build needs at least one source: --dcmtk FILE or --pydicom"),
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
    assert rows["version"] == "2"
    assert rows["opens"] == "yes"
    assert int(rows["pool"].split()[0]) < len(data)


def test_info_of_the_empty_dictionary(capsys, tmp_path):
    path = tmp_path / "empty.tatl"
    path.write_bytes(encode([]))
    status, out, _ = run(capsys, "info", path)
    rows = fields(out)
    assert status == 0
    assert (rows["entries"], rows["records"], rows["pool"]) == ("0", "0", "0 bytes")


def _bad_version(data):
    data[4] = 3
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
