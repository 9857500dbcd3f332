"""Writes `.tatl` dictionary files.

The extension module only reads dictionaries; this module produces them. `encode` turns a sequence
of `Entry` values into the bytes of a file, `write` puts those bytes on disk atomically.

Layout written (every reader rule holds by construction):

- 32-byte header: "TATL", version 2 as u16, 26 zero bytes;
- the index at offset 32, sorted by (group, element, creator hash);
- the records right after the index, in index order, so index entry i points at record i;
- the string pool right after the records, then zero bytes up to a multiple of 4;
- the 24-byte root.

The pool stores each distinct text once: the first occurrence, in record order and within a record
in the order keyword, name, creator, description, sources, decides its place. Empty texts take no
pool bytes and point at offset 0. So the same entries always give the same bytes.

Duplicate keys. Two entries with the same (group, element, creator hash) cannot both be reached by a
lookup, so `encode` refuses them unless asked for a policy: `duplicates="first"` keeps the entry
that comes first in the input and drops the later ones, `duplicates="last"` keeps the one that comes
last. Creators that differ only in case or spacing have the same hash and therefore collide too.
"""

from __future__ import annotations

import os
import stat
import tempfile
from collections.abc import Iterable
from dataclasses import dataclass

from ._format import layout
from ._format.creator import hash_creator
from ._format.filekind import file_kind
from ._format.vr import UNKNOWN_VR, VR_CODES

__all__ = [
    "Entry",
    "NotRegularFileError",
    "encode",
    "write",
]

_DUPLICATE_POLICIES = ("error", "first", "last")


@dataclass(frozen=True)
class Entry:
    """One dictionary entry as the writer takes it.

    `vr` is the two-letter text of the VR ("??" when the VR is not one DICOM VR). `creator` is None
    for a public tag. With `block_offset`, `element` is the low byte of a private element (the "xx"
    form) and must not exceed 0xFF. `sources` names the data sources that hold the entry; each name
    must be non-empty and free of "|", the separator of the stored list.
    """

    group: int
    element: int
    keyword: str = ""
    name: str = ""
    vr: str = UNKNOWN_VR
    creator: str | None = None
    description: str = ""
    retired: bool = False
    block_offset: bool = False
    sources: tuple[str, ...] = ()


def _tag_label(index: int, entry: object) -> str:
    group = getattr(entry, "group", None)
    element = getattr(entry, "element", None)
    creator = getattr(entry, "creator", None)

    def num(value: object) -> str:
        if isinstance(value, int) and 0 <= value <= layout.U16_MAX:
            return f"{value:04X}"
        return repr(value)

    tag = f"{num(group)},{num(element)}"
    if creator is not None:
        tag += f" {creator!r}"
    return f"entry {index} ({tag})"


class _Prepared:
    """An entry checked and encoded, waiting for its place in the index."""

    __slots__ = ("position", "label", "group", "element", "creator_hash", "texts", "vr", "flags")

    def __init__(self, position, label, group, element, creator_hash, texts, vr, flags):
        self.position = position
        self.label = label
        self.group = group
        self.element = element
        self.creator_hash = creator_hash
        self.texts = texts  # keyword, name, creator, description, sources as UTF-8
        self.vr = vr
        self.flags = flags  # block_offset, retired

    @property
    def key(self) -> tuple[int, int, int]:
        return (self.group, self.element, self.creator_hash)


def _utf8(label: str, field: str, value: object, limit: int) -> bytes:
    if not isinstance(value, str):
        raise ValueError(f"{label}: {field} must be a str, not {type(value).__name__}")
    try:
        data = value.encode("utf-8")
    except UnicodeEncodeError as e:
        raise ValueError(f"{label}: {field} is not encodable as UTF-8 ({e.reason})") from None
    if len(data) > limit:
        raise ValueError(f"{label}: {field} is {len(data)} bytes, at most {limit}")
    return data


def _prepare(position: int, entry: Entry) -> _Prepared:
    label = _tag_label(position, entry)
    if not isinstance(entry, Entry):
        raise ValueError(f"entry {position}: expected an Entry, not {type(entry).__name__}")
    for field in ("group", "element"):
        value = getattr(entry, field)
        if not isinstance(value, int) or isinstance(value, bool):
            raise ValueError(f"{label}: {field} must be an int, not {type(value).__name__}")
        if not 0 <= value <= layout.U16_MAX:
            raise ValueError(f"{label}: {field} is {value}, must be in 0..65535")
    for field in ("retired", "block_offset"):
        if not isinstance(getattr(entry, field), bool):
            raise ValueError(f"{label}: {field} must be a bool")
    if entry.block_offset and entry.element > 0xFF:
        raise ValueError(
            f"{label}: element is 0x{entry.element:04X}, a block offset must be at most 0xFF"
        )
    vr = VR_CODES.get(entry.vr) if isinstance(entry.vr, str) else None
    if vr is None:
        raise ValueError(f"{label}: vr {entry.vr!r} is not a known VR")

    keyword = _utf8(label, "keyword", entry.keyword, layout.U16_MAX)
    name = _utf8(label, "name", entry.name, layout.U16_MAX)
    if entry.creator is None:
        creator = b""
        creator_hash = 0
    else:
        creator = _utf8(label, "creator", entry.creator, layout.U16_MAX)
        # A stored length of 0 means "no creator", so an empty creator could not be read back.
        if not creator:
            raise ValueError(f"{label}: creator is empty, use None for a public tag")
        creator_hash = hash_creator(entry.creator)
        # The index stores 0 for "no creator": such an entry would be a public tag to every reader.
        if creator_hash == 0:
            raise ValueError(
                f"{label}: creator {entry.creator!r} hashes to 0, the hash of no creator; "
                "it cannot be stored"
            )
    description = _utf8(label, "description", entry.description, layout.U32_MAX)

    if isinstance(entry.sources, str) or not isinstance(entry.sources, Iterable):
        raise ValueError(f"{label}: sources must be a sequence of str")
    pieces = []
    for piece in entry.sources:
        if not isinstance(piece, str):
            raise ValueError(f"{label}: sources item {piece!r} is not a str")
        if not piece:
            raise ValueError(f"{label}: sources item is empty")
        if layout.SOURCES_SEPARATOR in piece:
            raise ValueError(
                f"{label}: sources item {piece!r} contains the separator "
                f"{layout.SOURCES_SEPARATOR!r}"
            )
        pieces.append(piece)
    sources = _utf8(label, "sources", layout.SOURCES_SEPARATOR.join(pieces), layout.U32_MAX)

    return _Prepared(
        position,
        label,
        entry.group,
        entry.element,
        creator_hash,
        (keyword, name, creator, description, sources),
        vr,
        (int(entry.block_offset), int(entry.retired)),
    )


def _resolve_duplicates(prepared: list[_Prepared], duplicates: str) -> list[_Prepared]:
    """Sorts by key and applies the duplicate policy; ties keep input order."""
    prepared.sort(key=lambda p: (p.key, p.position))
    kept: list[_Prepared] = []
    for p in prepared:
        if kept and kept[-1].key == p.key:
            if duplicates == "error":
                raise ValueError(
                    f"{p.label}: duplicate of {kept[-1].label} "
                    "(same group, element and creator hash)"
                )
            if duplicates == "last":
                kept[-1] = p
            continue
        kept.append(p)
    return kept


def check_layout_size(n_entries: int, pool_size: int) -> None:
    """Raises ValueError when counts or the pool do not fit the format's 32-bit fields."""
    if pool_size > layout.U32_MAX:
        raise ValueError(f"string pool is {pool_size} bytes, at most {layout.U32_MAX}")
    pool_start = layout.HEADER_SIZE + (layout.INDEX_ENTRY_SIZE + layout.RECORD_SIZE) * n_entries
    root = pool_start + pool_size + layout.padding(pool_size)
    # The root reaches back to the index with a signed 32-bit offset.
    if layout.HEADER_SIZE - (root + layout.ROOT_INDEX_FIELD) < layout.I32_MIN:
        raise ValueError(
            f"dictionary of {n_entries} entries needs {root + layout.ROOT_SIZE} bytes, "
            "too large for 32-bit offsets"
        )


def encode(entries: Iterable[Entry], *, duplicates: str = "error") -> bytes:
    """Returns the bytes of a dictionary file holding `entries`.

    `duplicates` is "error" (default), "first" or "last"; see the module docstring. Raises
    ValueError naming the entry and field for any value the format cannot hold.
    """
    if duplicates not in _DUPLICATE_POLICIES:
        raise ValueError(
            f"duplicates must be one of {', '.join(map(repr, _DUPLICATE_POLICIES))}, "
            f"not {duplicates!r}"
        )
    prepared = [_prepare(i, e) for i, e in enumerate(entries)]
    kept = _resolve_duplicates(prepared, duplicates)

    pool = bytearray()
    pool_offsets: dict[bytes, int] = {}

    def place(text: bytes) -> int:
        if not text:
            return 0
        offset = pool_offsets.get(text)
        if offset is None:
            offset = len(pool)
            pool_offsets[text] = offset
            pool.extend(text)
        return offset

    index = bytearray()
    records = bytearray()
    for i, p in enumerate(kept):
        keyword, name, creator, description, sources = p.texts
        offsets = [place(t) for t in p.texts]
        index += layout.INDEX_ENTRY.pack(p.creator_hash, i, p.group, p.element)
        records += layout.RECORD.pack(
            offsets[0], offsets[1], offsets[2], offsets[3], len(description),
            offsets[4], len(sources),
            p.group, p.element, len(keyword), len(name), len(creator),
            p.vr, *p.flags,
        )  # fmt: skip

    n = len(kept)
    check_layout_size(n, len(pool))
    records_start = layout.HEADER_SIZE + len(index)
    pool_start = records_start + len(records)
    padding = layout.padding(len(pool))
    root_at = pool_start + len(pool) + padding
    root = layout.root_fields(
        root_at, layout.HEADER_SIZE, n, records_start, n, pool_start, len(pool)
    )
    return b"".join((layout.header(), index, records, pool, bytes(padding), root))


class NotRegularFileError(OSError):
    """The target of `write` exists and is not a regular file (a directory, FIFO, socket, device,
    or a symbolic link that leads nowhere); the writer leaves it untouched."""


def _target(path: str) -> tuple[str, os.stat_result | None]:
    """Returns the file that writing `path` replaces and its status (None when it is new).

    Symbolic links are followed, so that the link stays and the file it names is replaced. Only
    status calls are made: a FIFO or a device is never opened, so checking never blocks.
    """
    try:
        real = os.path.realpath(path, strict=True)
    except FileNotFoundError:
        if os.path.islink(path):
            # Creating the missing file behind the link could put it anywhere the link says;
            # like `cp`, the writer does not write through a dangling link.
            raise NotRegularFileError(
                f"cannot write {path}: a symbolic link to {os.readlink(path)}, which does not exist"
            ) from None
        return path, None
    status = os.stat(real)
    if not stat.S_ISREG(status.st_mode):
        where = f" the link leads to {real}," if os.path.islink(path) else ""
        raise NotRegularFileError(
            f"cannot write {path}:{where} not a regular file ({file_kind(status.st_mode)})"
        )
    return real, status


def write(
    path: str | os.PathLike[str], entries: Iterable[Entry], *, duplicates: str = "error"
) -> None:
    """Writes a dictionary file atomically.

    The bytes are encoded first, so invalid entries never touch the disk; they are then written to a
    temporary file in the target's folder and renamed over the target. A failure leaves no partial
    file. Only regular files are replaced:

    - an existing directory, FIFO, socket or device at `path` raises `NotRegularFileError` (an
      `OSError`) and is left as it is;
    - a symbolic link stays a link: the file it names is replaced, in that file's folder; a link to
      nothing raises `NotRegularFileError`;
    - a replaced file keeps its permission bits, without set-user-ID, set-group-ID and sticky
      bits, and (where the process may set them) its owner and group; a new file gets mode 0644.

        >>> write("site.tatl", [Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN")])
    """
    data = encode(entries, duplicates=duplicates)
    target, old = _target(os.fspath(path))
    folder = os.path.dirname(os.path.abspath(target))
    fd, tmp = tempfile.mkstemp(prefix=".tatl-", suffix=".tmp", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
            if old is not None:
                _keep_owner(f.fileno(), old)
            # After the owner: changing the owner may clear mode bits.
            os.fchmod(f.fileno(), old.st_mode & 0o777 if old is not None else 0o644)
        os.replace(tmp, target)
    except BaseException:
        try:
            os.unlink(tmp)
        except FileNotFoundError:
            pass
        raise


def _keep_owner(fd: int, old: os.stat_result) -> None:
    """Gives the new file the replaced file's owner and group, as far as the process may."""
    new = os.fstat(fd)
    if (old.st_uid, old.st_gid) == (new.st_uid, new.st_gid):
        return
    try:
        os.fchown(fd, old.st_uid, old.st_gid)
    except PermissionError:
        try:
            os.fchown(fd, -1, old.st_gid)  # a group the process belongs to
        except PermissionError:
            pass
