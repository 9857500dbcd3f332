"""What `tagatlas build` reads: only regular files, line by line, each line in linear time, and
never a file that the build would replace."""

import os
import subprocess
import sys

import pytest

import tagatlas
from conftest import SANITIZED, run_cli
from tagatlas.importers.dcmtk import import_dcmtk
from tagatlas.importers.lines import MAX_LINE
from tagatlas.importers.result import SourceError
from tagatlas.importers.sources import SOURCES

LINE = "(0010,0010)\tPN\tPatientName\t1\tDICOM\n"
MEMORY = 768 << 20  # address space for a child that reads a dictionary source
FILE_SOURCES = [s for s in SOURCES if s.takes_files]
# XML documents are parsed whole; every other source is read line by line.
LINE_SOURCES = [s for s in FILE_SOURCES if not all(f.endswith(".xml") for f in s.files)]


def run_build(*argv, memory=None):
    """`python -m tagatlas build ARGV` in a child, under an address-space limit when `memory` is
    given (not under AddressSanitizer, which reserves terabytes); a hang fails by the timeout."""
    limit = "" if memory is None or SANITIZED else (
        f"import resource; resource.setrlimit(resource.RLIMIT_AS, ({memory}, {memory}))\n"
    )  # fmt: skip
    code = f"{limit}import runpy; runpy.run_module('tagatlas', run_name='__main__')\n"
    return subprocess.run(
        [sys.executable, "-c", code, "build", *map(str, argv)],
        stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60,
    )  # fmt: skip


def fifo(tmp_path):
    path = tmp_path / "pipe.dic"
    os.mkfifo(path)
    return path, "a FIFO"


INPUTS = {
    "fifo": fifo,
    "dev zero": lambda _: ("/dev/zero", "a character device"),
    "dev null": lambda _: ("/dev/null", "a character device"),
    "directory": lambda tmp_path: (tmp_path, "a directory"),
}


@pytest.mark.parametrize("flag", [s.flag for s in FILE_SOURCES])
@pytest.mark.parametrize("kind", INPUTS)
def test_an_input_that_is_not_a_regular_file_is_refused_at_once(tmp_path, kind, flag):
    path, what = INPUTS[kind](tmp_path)
    out = tmp_path / "out.tatl"
    run = run_build("-o", out, flag, path, memory=MEMORY)
    assert (run.returncode, run.stdout) == (2, "")
    assert run.stderr == f"tagatlas: error: cannot read {path}: not a regular file ({what})\n"
    assert not out.exists()


def test_a_line_over_the_limit_is_an_error_with_its_number(tmp_path):
    path = tmp_path / "long.dic"
    path.write_text(LINE + "#" * (MAX_LINE + 1) + "\n" + LINE)
    with pytest.raises(SourceError, match=rf"long.dic:2: line longer than {MAX_LINE} bytes"):
        import_dcmtk([path])
    path.write_text(LINE + "#" * MAX_LINE + "\n" + LINE)  # at the limit: a comment
    assert [e.keyword for e in import_dcmtk([path]).entries] == ["PatientName"]


@pytest.mark.parametrize("flag", [s.flag for s in LINE_SOURCES])
def test_a_gigabyte_line_is_refused_in_bounded_memory(tmp_path, flag):
    path = tmp_path / "huge.txt"
    with open(path, "wb") as f:
        f.truncate(1 << 30)  # sparse: a first line of a gigabyte of NUL bytes
    out = tmp_path / "out.tatl"
    run = run_build("-o", out, flag, path, memory=MEMORY)
    assert (run.returncode, run.stdout) == (2, "")
    assert run.stderr == f"tagatlas: error: {path}:1: line longer than {MAX_LINE} bytes\n"


def test_an_unclosed_tag_with_many_blanks_is_reported_in_linear_time(tmp_path):
    # Milliseconds to read; a pattern that backtracks over the blanks takes hours.
    path = tmp_path / "blanks.dic"
    path.write_text(LINE + "(0010," + " " * (MAX_LINE - 100) + "0010\tPN\tKw\t1\n")
    run = run_build("-o", tmp_path / "out.tatl", "--dcmtk", path)
    assert (run.returncode, run.stdout) == (2, "")
    assert run.stderr == f"tagatlas: error: {path}:2: bad tag field '(0010,{' ' * 34}...'\n"


@pytest.mark.parametrize("via", ["itself", "symbolic link", "hard link", "other spelling"])
def test_build_refuses_to_write_over_its_input(capsys, tmp_path, via):
    source = tmp_path / "site.dic"
    source.write_text(LINE)
    output = {
        "itself": lambda: source,
        "symbolic link": lambda: (tmp_path / "link.tatl").symlink_to(source) or tmp_path / "link.tatl",
        "hard link": lambda: os.link(source, tmp_path / "hard.tatl") or tmp_path / "hard.tatl",
        "other spelling": lambda: tmp_path / "." / "site.dic",
    }[via]()
    status, out, err = run_cli(capsys, "build", "-o", output, "--dcmtk", tmp_path / "x.dic",
                               "--dcmtk", source)  # fmt: skip
    assert (status, out) == (2, "")
    assert err == f"tagatlas: error: cannot write {output}: it is the input {source}\n"
    assert source.read_text() == LINE
    other = tmp_path / "new.tatl"
    assert run_cli(capsys, "build", "-o", other, "--dcmtk", source)[0] == 0
    assert len(tagatlas.open(other)) == 1
