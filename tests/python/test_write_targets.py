"""What `write` replaces: regular files only, through symbolic links, keeping permission bits."""

import os
import socket
import stat

import pytest

import tagatlas
from tagatlas import writer
from tagatlas.writer import Entry, NotRegularFileError, encode, write

OLD = [Entry(0x0010, 0x0010, "Old", "Old", "PN")]
NEW = [Entry(0x0010, 0x0010, "New", "New", "PN")]


def _fifo(path):
    os.mkfifo(path)


def _socket(path):
    s = socket.socket(socket.AF_UNIX)
    s.bind(os.fspath(path))
    s.close()  # the socket file stays


def _directory(path):
    path.mkdir()
    (path / "inside").write_bytes(b"kept")


def _null_device(path):
    try:
        os.mknod(path, stat.S_IFCHR | 0o666, os.makedev(1, 3))
    except PermissionError:
        pytest.skip("cannot create device nodes here")


def _shape(path):
    """What a test needs to see unchanged: the kind of file and, for a folder, its listing."""
    status = os.lstat(path)
    listing = sorted(os.listdir(path)) if stat.S_ISDIR(status.st_mode) else None
    return stat.S_IFMT(status.st_mode), status.st_ino, status.st_rdev, listing


@pytest.mark.parametrize(
    "make, kind",
    [
        (_fifo, "a FIFO"),
        (_socket, "a socket"),
        (_directory, "a directory"),
        (_null_device, "a character device"),
    ],
)
@pytest.mark.parametrize("through_link", [False, True])
def test_special_files_are_refused_and_left_alone(tmp_path, make, kind, through_link):
    special = tmp_path / "special"
    make(special)
    path = special
    if through_link:
        path = tmp_path / "link.tatl"
        path.symlink_to("special")
    before = sorted(os.listdir(tmp_path)), _shape(special)
    with pytest.raises(NotRegularFileError) as info:
        write(path, NEW)
    assert isinstance(info.value, OSError)
    via = f" the link leads to {special}," if through_link else ""
    assert str(info.value) == f"cannot write {path}:{via} not a regular file ({kind})"
    assert (sorted(os.listdir(tmp_path)), _shape(special)) == before


@pytest.fixture
def no_writing(monkeypatch):
    """Makes any attempt to create or rename a file fail, for tests aimed at system files."""

    def refuse(*args, **kwargs):
        raise AssertionError(f"the writer tried to write: {args}")

    monkeypatch.setattr(writer.tempfile, "mkstemp", refuse)
    monkeypatch.setattr(writer.os, "replace", refuse)


def test_dev_null_is_refused_by_its_status_alone(no_writing):
    with pytest.raises(NotRegularFileError, match=r"^cannot write /dev/null: not a regular file "
                       r"\(a character device\)$"):  # fmt: skip
        write("/dev/null", NEW)
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode)


@pytest.mark.parametrize("absolute", [False, True])
def test_symbolic_link_stays_and_its_file_is_replaced(tmp_path, monkeypatch, absolute):
    data = tmp_path / "data"
    links = tmp_path / "links"
    data.mkdir()
    links.mkdir()
    real = data / "real.tatl"
    write(real, OLD)
    real.chmod(0o640)
    link = links / "site.tatl"
    link.symlink_to(real if absolute else os.path.join("..", "data", "real.tatl"))
    before = os.readlink(link)
    old_dict = tagatlas.open(link)
    renames = []
    replace = os.replace
    monkeypatch.setattr(writer.os, "replace", lambda a, b: (renames.append((a, b)), replace(a, b)))

    write(link, NEW)

    assert os.readlink(link) == before
    assert real.read_bytes() == encode(NEW)
    assert stat.S_IMODE(real.stat().st_mode) == 0o640
    # One rename, from a temporary file beside the real file, over the real file.
    [(source, target)] = renames
    assert (os.path.dirname(source), target) == (str(data), str(real))
    assert sorted(os.listdir(data)) == ["real.tatl"] and os.listdir(links) == ["site.tatl"]
    # Replaced, not rewritten: a dictionary that was open keeps reading the old file.
    assert old_dict.lookup(0x0010, 0x0010)["keyword"] == "Old"
    assert tagatlas.open(link).lookup(0x0010, 0x0010)["keyword"] == "New"


def test_chain_of_links_reaches_the_file(tmp_path):
    real = tmp_path / "real.tatl"
    real.write_bytes(b"old")
    (tmp_path / "hop").symlink_to("real.tatl")
    (tmp_path / "site.tatl").symlink_to("hop")
    write(tmp_path / "site.tatl", NEW)
    assert real.read_bytes() == encode(NEW)
    assert [p.is_symlink() for p in (tmp_path / "hop", tmp_path / "site.tatl")] == [True, True]


def test_dangling_link_is_refused(tmp_path):
    # Writing through it would create a file wherever the link points; like cp, write refuses.
    link = tmp_path / "site.tatl"
    link.symlink_to("missing.tatl")
    with pytest.raises(NotRegularFileError, match=r"a symbolic link to missing.tatl, which does "
                       r"not exist"):  # fmt: skip
        write(link, NEW)
    assert os.listdir(tmp_path) == ["site.tatl"] and os.readlink(link) == "missing.tatl"


def test_link_loop_is_an_os_error(tmp_path):
    (tmp_path / "a").symlink_to("b")
    (tmp_path / "b").symlink_to("a")
    with pytest.raises(OSError, match="Too many levels of symbolic links"):
        write(tmp_path / "a", NEW)
    assert sorted(os.listdir(tmp_path)) == ["a", "b"]


@pytest.mark.parametrize(
    "before, after",
    [
        (0o600, 0o600),
        (0o755, 0o755),
        (0o4755, 0o755),  # set-user-ID dropped
        (0o2640, 0o640),  # set-group-ID dropped
        (0o1644, 0o644),  # sticky dropped
        (0o000, 0o000),
    ],
)
def test_replaced_file_keeps_its_permission_bits(tmp_path, before, after):
    path = tmp_path / "d.tatl"
    path.write_bytes(b"old")
    path.chmod(before)
    write(path, NEW)
    assert stat.S_IMODE(path.stat().st_mode) == after
    assert path.read_bytes() == encode(NEW)


def test_new_file_gets_0644_whatever_the_umask(tmp_path):
    old = os.umask(0o077)
    try:
        write(tmp_path / "d.tatl", NEW)
    finally:
        os.umask(old)
    assert stat.S_IMODE((tmp_path / "d.tatl").stat().st_mode) == 0o644


@pytest.mark.skipif(os.geteuid() != 0, reason="only root gives files to other users")
def test_replaced_file_keeps_its_owner(tmp_path):
    path = tmp_path / "d.tatl"
    path.write_bytes(b"old")
    os.chown(path, 65534, 65534)
    write(path, NEW)
    status = path.stat()
    assert (status.st_uid, status.st_gid) == (65534, 65534)
