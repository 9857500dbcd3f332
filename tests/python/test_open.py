"""open(path): path conversion, the exception for each way a file cannot be used, and resources."""

import gc
import json
import os
import pathlib
import socket
import stat
import struct
import subprocess
import sys

import pytest

import tagatlas
import tatl_layout as layout
from tagatlas.writer import Entry, encode
from stand_ins import FsPath, FsPathError

VALID = encode([Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN")])


def with_header(magic=layout.MAGIC, version=layout.VERSION, body=VALID[32:]):
    return layout.header(magic, version) + body


def vr_35(data):
    data = bytearray(data)
    layout.patch_record(data, 0, vr=35)
    return bytes(data)


# (file content, exception class, message after "cannot open {path}: " or the whole ValueError text)
FAILURES = [
    (b"", OSError, "file too small (0 bytes) to contain a header"),
    (layout.MAGIC + bytes(27), OSError, "file too small (31 bytes) to contain a header"),
    (bytes(64), OSError, "bad magic bytes [0, 0, 0, 0]"),
    (with_header(magic=b"tatl", version=layout.VERSION + 1), OSError, "bad magic bytes [116, 97, 116, 108]"),
    (with_header(version=layout.VERSION - 1), ValueError,
     f"unsupported .tatl version {layout.VERSION - 1}"),
    (with_header(version=layout.VERSION + 1), ValueError,
     f"unsupported .tatl version {layout.VERSION + 1}"),
    (with_header(version=0xFFFF), ValueError, "unsupported .tatl version 65535"),
    (with_header(body=b""), OSError, "archive integrity check failed: "),
    (VALID + b"\0\0", OSError, "archive integrity check failed: "),
    (vr_35(VALID), OSError, "archive integrity check failed: "),
]  # fmt: skip


def assert_plain_error(error, cls, message, prefix=False):
    assert type(error) is cls
    assert len(error.args) == 1
    if prefix:
        assert error.args[0].startswith(message)
    else:
        assert error.args[0] == message
    if cls is OSError:
        assert (error.errno, error.strerror, error.filename) == (None, None, None)


@pytest.mark.parametrize("content, cls, detail", FAILURES)
def test_unusable_file(tmp_path, held, content, cls, detail):
    path = tmp_path / "bad.tatl"
    path.write_bytes(content)
    gc.collect()  # an earlier test's Dict kept by a cycle would close its descriptor meanwhile
    fds_before = len(os.listdir("/proc/self/fd"))
    with pytest.raises(cls) as info:
        tagatlas.open(path)
    message = f"cannot open {path}: {detail}" if cls is OSError else detail
    assert_plain_error(info.value, cls, message, prefix=detail.endswith(": "))
    assert held(path) == (0, 0)
    assert len(os.listdir("/proc/self/fd")) == fds_before


def test_missing_file(tmp_path):
    path = str(tmp_path / "missing.tatl")
    with pytest.raises(OSError) as info:
        tagatlas.open(path)
    assert_plain_error(
        info.value, OSError, f"cannot open {path}: io error: No such file or directory (os error 2)"
    )
    assert not isinstance(info.value, FileNotFoundError)


def test_directory(tmp_path, held):
    with pytest.raises(OSError) as info:
        tagatlas.open(tmp_path)
    assert_plain_error(info.value, OSError, f"cannot open {tmp_path}: io error: ", prefix=True)
    assert info.value.args[0].endswith(")")
    assert held(tmp_path) == (0, 0)


def first_block_device():
    for name in sorted(os.listdir("/dev")):
        try:
            if stat.S_ISBLK(os.stat(f"/dev/{name}").st_mode):
                return f"/dev/{name}"
        except OSError:
            pass
    pytest.skip("no block device is visible under /dev")


def make_fifo(tmp_path):
    os.mkfifo(tmp_path / "fifo.tatl")
    return tmp_path / "fifo.tatl"


def make_fifo_link(tmp_path):
    (tmp_path / "link.tatl").symlink_to(make_fifo(tmp_path))
    return tmp_path / "link.tatl"


def make_socket(tmp_path):
    # The bound name stays a socket in the file system after the socket is closed.
    with socket.socket(socket.AF_UNIX) as s:
        s.bind(str(tmp_path / "socket.tatl"))
    return tmp_path / "socket.tatl"


# Opened in a child process, so that a FIFO that makes open wait for a writer cannot hang the suite.
OPEN_IN_CHILD = """
import json, os, sys
path, tests = sys.argv[1], sys.argv[2]
sys.path.insert(0, tests)
import tagatlas
from proc_files import held_by_this_process
before = len(os.listdir("/proc/self/fd")), held_by_this_process(path)
try:
    tagatlas.open(path)
    error = None
except BaseException as e:
    error = [type(e).__name__, list(e.args)]
after = len(os.listdir("/proc/self/fd")), held_by_this_process(path)
print(json.dumps([error, before == after]))
"""


@pytest.mark.parametrize(
    "make, kind",
    [
        (make_fifo, "a FIFO"),
        (make_fifo_link, "a FIFO"),
        (make_socket, "a socket"),
        (lambda tmp_path: "/dev/null", "a character device"),
        (lambda tmp_path: first_block_device(), "a block device"),
    ],
    ids=["fifo", "symlink to a fifo", "socket", "character device", "block device"],
)  # fmt: skip
def test_special_file_is_refused_at_once(tmp_path, make, kind):
    path = str(make(tmp_path))
    done = subprocess.run([sys.executable, "-c", OPEN_IN_CHILD, path, os.path.dirname(__file__)],
                          capture_output=True, text=True, timeout=60)  # fmt: skip
    assert done.returncode == 0, done.stderr
    error, nothing_held = json.loads(done.stdout)
    assert error == ["OSError", [f"cannot open {path}: io error: not a regular file ({kind})"]]
    assert nothing_held


def test_empty_path():
    with pytest.raises(OSError) as info:
        tagatlas.open("")
    assert_plain_error(info.value, OSError, "cannot open : io error: ", prefix=True)


def test_nul_byte_is_refused_by_the_library(tmp_path):
    path = f"{tmp_path}/a\0b.tatl"
    with pytest.raises(OSError) as info:
        tagatlas.open(path)
    assert_plain_error(
        info.value, OSError,
        f"cannot open {path}: io error: file name contained an unexpected NUL byte",
    )  # fmt: skip


def test_path_forms(sample_path):
    for form in [str(sample_path), sample_path, pathlib.PurePosixPath(sample_path),
                 FsPath(str(sample_path))]:  # fmt: skip
        d = tagatlas.open(form)
        assert d.lookup(0x0010, 0x0010)["keyword"] == "PatientName"


def test_relative_path_and_tilde_are_taken_literally(tmp_path, monkeypatch, write_dict):
    (tmp_path / "~").mkdir()
    (tmp_path / "~" / "d.tatl").write_bytes(VALID)
    monkeypatch.chdir(tmp_path)
    assert len(tagatlas.open("~/d.tatl")) == 1
    monkeypatch.chdir(tmp_path / "~")
    assert len(tagatlas.open("d.tatl")) == 1


# (argument, exception class, message); every one carries the note naming 'path'
BAD_ARGUMENTS = [
    (b"/tmp/x.tatl", TypeError, "'bytes' object is not an instance of 'str'"),
    (FsPath(b"/tmp/x.tatl"), TypeError, "'bytes' object is not an instance of 'str'"),
    (None, TypeError, "expected str, bytes or os.PathLike object, not NoneType"),
    (3, TypeError, "expected str, bytes or os.PathLike object, not int"),
    (FsPath(3), TypeError, "expected FsPath.__fspath__() to return str or bytes, not int"),
    (FsPathError(KeyError("k")), KeyError, "'k'"),
]  # fmt: skip


@pytest.mark.parametrize("argument, cls, message", BAD_ARGUMENTS)
def test_path_conversion_failure(argument, cls, message):
    with pytest.raises(cls) as info:
        tagatlas.open(argument)
    assert type(info.value) is cls
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'path'"]


def test_fspath_exception_is_kept(tmp_path):
    error = LookupError("from __fspath__")
    with pytest.raises(LookupError) as info:
        tagatlas.open(FsPathError(error))
    assert info.value is error


def test_undecodable_file_name_is_opened_with_its_bytes(tmp_path):
    raw = os.fsencode(tmp_path) + b"/dict-\xff\xfe.tatl"
    with open(raw, "wb") as f:
        f.write(VALID)
    d = tagatlas.open(os.fsdecode(raw))
    assert d.lookup(0x0010, 0x0010)["keyword"] == "PatientName"
    assert tagatlas.open(pathlib.Path(os.fsdecode(raw))) is not None


@pytest.mark.parametrize(
    "name, shown",
    [
        (b"\xff", "\ufffd"),
        (b"\xe2\x82", "\ufffd"),                      # truncated sequence: one maximal subpart
        (b"\xe2\x82\xf0\x80\x80", "\ufffd" * 4),      # F0 80 is no prefix of any sequence
        (b"\xed\xa0\x80", "\ufffd" * 3),              # surrogate code point
        (b"\xc0\xaf", "\ufffd" * 2),                  # overlong
        (b"ok-\xf4\x90\x80\x80-\xc3\xa9", "ok-" + "\ufffd" * 4 + "-\u00e9"),
    ],
)  # fmt: skip
def test_undecodable_name_in_message(tmp_path, name, shown):
    raw = os.fsencode(tmp_path) + b"/" + name
    with pytest.raises(OSError) as info:
        tagatlas.open(os.fsdecode(raw))
    assert info.value.args == (
        f"cannot open {tmp_path}/{shown}: io error: No such file or directory (os error 2)",
    )
    assert shown == name.decode("utf-8", "replace")


def test_dict_holds_one_descriptor_and_mapping_until_deallocated(sample_path, held):
    assert held(sample_path) == (0, 0)
    d1 = tagatlas.open(sample_path)
    assert held(sample_path) == (1, 1)
    d2 = tagatlas.open(sample_path)
    assert held(sample_path) == (2, 2)
    del d1
    assert held(sample_path) == (1, 1)
    with d2:
        pass
    assert held(sample_path) == (1, 1)
    del d2
    assert held(sample_path) == (0, 0)

