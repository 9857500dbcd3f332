"""Every entry of a dictionary file at once, in index order, read as columns.

`Dict.lookup` answers one tag at a time. Some questions need every entry: which tag has this
keyword, which entries mention these words, which masks does the file hold. `read_table` answers
them with one read-only pass over the same mapped bytes, column by column: each column is made
the first time it is asked for, straight from the file's arrays (strided views of the index and the
records), so a program that needs only keys and keywords pays only for those.

    >>> from tagatlas.table import read_table
    >>> t = read_table()                       # the bundled dictionary
    >>> i = t.keywords.index("PatientName")
    >>> hex(t.groups[i]), hex(t.elements[i]), t.names[i]
    ('0x10', '0x10', "Patient's Name")

Row i of every column describes index entry i. `groups` and `elements` are the record's, as lookup
results report them; `key_elements` and `creator_hashes` are the index entry's lookup key. Texts
read as `Dict.lookup` reads them: bytes that are not UTF-8 read as "", a record without a creator
has creator "". A reference outside the file's tables (a damaged file) raises
`DamagedDictionaryError` when the column that holds it is made.
"""

from __future__ import annotations

import mmap
import os
import stat
import struct
from operator import add

from ._format import layout

__all__ = ["EntryTable", "DamagedDictionaryError", "read_table"]


class DamagedDictionaryError(ValueError):
    """A dictionary file whose index or records refer outside its own tables."""


class _column:
    """A column made on first use and kept (functools.cached_property, without its imports)."""

    def __init__(self, make):
        self.make = make
        self.name = make.__name__
        self.__doc__ = make.__doc__

    def __get__(self, table, owner=None):
        if table is None:
            return self
        value = self.make(table)
        table.__dict__[self.name] = value
        return value


class EntryTable:
    """Columns of every entry of one dictionary file; see the module docstring.

    `dict` is a `tagatlas.Dict` opened on the same file (the same inode, also when the path is
    replaced meanwhile), validated as `tagatlas.open` validates.
    """

    def __init__(self, opened, data: bytes | mmap.mmap, path: str) -> None:
        self.dict = opened
        self.path = path
        root = layout.read_root(data)
        self._root = root
        view = memoryview(data)
        index_end = root.index_start + layout.INDEX_ENTRY_SIZE * root.index_count
        # The arrays in place, read by `index_values` and `record_values`.
        self.index_view = view[root.index_start : index_end]
        self.records_view = view[
            root.records_start : root.records_start + layout.RECORD_SIZE * root.records_count
        ]
        self._pool = bytes(view[root.pool_start : root.pool_start + root.pool_length])

    def __len__(self) -> int:
        return self._root.index_count

    # -- the index ------------------------------------------------------------------------------

    def index_values(self, field: str) -> memoryview:
        """An index field ("creator_hash", "group", ...) of every entry, in place, in index order."""
        return layout.field_values(
            self.index_view, layout.INDEX_FIELDS[field], layout.INDEX_ENTRY_SIZE
        )

    @_column
    def creator_hashes(self) -> list[int]:
        return self.index_values("creator_hash").tolist()

    @_column
    def key_groups(self) -> list[int]:
        return self.index_values("group").tolist()

    @_column
    def key_elements(self) -> list[int]:
        return self.index_values("element").tolist()

    @_column
    def _order(self) -> list[int]:
        """The record number of each index entry."""
        order = self.index_values("record_index").tolist()
        count = self._root.records_count
        if order and max(order) >= count:
            bad = next(r for r in order if r >= count)
            raise DamagedDictionaryError(
                f"{self.path}: an index entry names record {bad}, the file has {count}"
            )
        return order

    # -- the records ----------------------------------------------------------------------------

    def record_values(self, field: str) -> memoryview | list[int]:
        """A numeric record field ("keyword_offset", "vr", ...; see `_format.layout.RECORD_FIELDS`)
        of every entry, in index order: read in place (a strided view) when the records are in
        index order, as writers put them, else a list."""
        values = layout.field_values(
            self.records_view, layout.RECORD_FIELDS[field], layout.RECORD_SIZE
        )
        if self._in_record_order:
            return values
        return [values[r] for r in self._order]

    def record_field(self, field: str) -> list[int]:
        """`record_values` as a list."""
        values = self.record_values(field)
        return values.tolist() if isinstance(values, memoryview) else values

    @_column
    def _in_record_order(self) -> bool:
        # Writers put record i behind index entry i; then no column needs reordering. Compared as
        # bytes: array would compare faster, but importing it costs more than this comparison.
        count = len(self)
        order = self.index_values("record_index").tobytes()
        return count == self._root.records_count and order == struct.pack(
            f"{count}I", *range(count)
        )

    def texts(self, what: str, offsets: list[int], lengths: list[int]) -> list[str]:
        """The pool texts at the given offsets and lengths, read as lookups read them; `what`
        names the field in the error for a range outside the pool."""
        pool = self._pool
        self._check_range(what, offsets, lengths)
        try:
            return [pool[o : o + n].decode() for o, n in zip(offsets, lengths)]
        except UnicodeDecodeError:
            # Rare: decode one by one, reading bad UTF-8 as "" as lookups do.
            return [_decode_or_empty(pool[o : o + n]) for o, n in zip(offsets, lengths)]

    def _check_range(self, what: str, offsets: list[int], lengths: list[int]) -> None:
        pool = self._pool
        if offsets and max(map(add, offsets, lengths)) > len(pool):
            bad = next(i for i, (o, n) in enumerate(zip(offsets, lengths)) if o + n > len(pool))
            raise DamagedDictionaryError(
                f"{self.path}: the {what} of entry {bad} reaches byte "
                f"{offsets[bad] + lengths[bad]} of a {len(pool)}-byte string pool"
            )

    def check_references(self) -> None:
        """Raises `DamagedDictionaryError` unless every entry's record and texts lie inside the
        file's tables, the references a lookup follows; nothing is decoded."""
        for what in ("keyword", "name", "description", "sources"):
            self._check_range(
                what, self.record_field(f"{what}_offset"), self.record_field(f"{what}_len")
            )
        lengths = self.record_field("creator_len")
        # A length of 0 means no creator; its offset is not looked at.
        offsets = [o if n else 0 for o, n in zip(self.record_field("creator_offset"), lengths)]
        self._check_range("creator", offsets, lengths)

    def positions_of(self, needle: bytes) -> list[int]:
        """The pool offsets where `needle` starts, ascending (overlapping ones included)."""
        pool, out = self._pool, []
        at = pool.find(needle)
        while at >= 0:
            out.append(at)
            at = pool.find(needle, at + 1)
        return out

    def _text_column(self, what: str) -> list[str]:
        return self.texts(
            what, self.record_field(f"{what}_offset"), self.record_field(f"{what}_len")
        )

    @_column
    def groups(self) -> list[int]:
        return self.record_field("group")

    @_column
    def elements(self) -> list[int]:
        return self.record_field("element")

    @_column
    def keywords(self) -> list[str]:
        return self._text_column("keyword")

    @_column
    def names(self) -> list[str]:
        return self._text_column("name")

    @_column
    def descriptions(self) -> list[str]:
        return self._text_column("description")

    @_column
    def creators(self) -> list[str]:
        lengths = self.record_field("creator_len")
        # A length of 0 means no creator; its offset is not looked at.
        offsets = [o if n else 0 for o, n in zip(self.record_field("creator_offset"), lengths)]
        return self.texts("creator", offsets, lengths)

    @_column
    def sources(self) -> list[list[str]]:
        sep = layout.SOURCES_SEPARATOR
        return [[p for p in text.split(sep) if p] for text in self._text_column("sources")]

    @_column
    def vrs(self) -> list[str]:
        from ._format.vr import UNKNOWN_VR, VR_TEXTS

        # Codes beyond the table read as "??", as lookups read them.
        table = VR_TEXTS + (UNKNOWN_VR,) * (256 - len(VR_TEXTS))
        return [table[code] for code in self.record_field("vr")]

    @_column
    def retired(self) -> list[bool]:
        return [bool(b) for b in self.record_field("retired")]

    @_column
    def block_offset(self) -> list[bool]:
        return [bool(b) for b in self.record_field("element_is_block_offset")]

    def row(self, i: int) -> dict:
        """Entry i as the ten-key dict `Dict.lookup` returns for it."""
        return {
            "group": self.groups[i], "element": self.elements[i], "creator": self.creators[i],
            "keyword": self.keywords[i], "name": self.names[i], "vr": self.vrs[i],
            "description": self.descriptions[i], "retired": self.retired[i],
            "block_offset": self.block_offset[i], "sources": list(self.sources[i]),
        }  # fmt: skip


def _decode_or_empty(data: bytes) -> str:
    try:
        return data.decode()
    except UnicodeDecodeError:
        return ""


def read_table(path: str | os.PathLike[str] | None = None) -> EntryTable:
    """Opens a dictionary file (the bundled one when `path` is None) for a pass over its entries.

    The file is validated as `tagatlas.open` validates it and raises what `tagatlas.open` raises
    (OSError, ValueError). It is mapped read-only; nothing is written.
    """
    from ._tagatlas import open as open_dict

    if path is None:
        from ._bundled import default_file

        with default_file() as bundled:
            return read_table(bundled)
    shown = os.fsdecode(path)
    # One descriptor serves both readers, so the Dict and the columns see the same file even if
    # the path is replaced meanwhile. Non-blocking: a FIFO must not hang the open.
    fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC | os.O_NONBLOCK | getattr(os, "O_NOCTTY", 0))
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise OSError(f"cannot open {shown}: not a regular file")
        opened = _open_descriptor(open_dict, fd, path, shown)
        size = os.fstat(fd).st_size
        data = mmap.mmap(fd, size, access=mmap.ACCESS_READ)
    finally:
        os.close(fd)
    return EntryTable(opened, data, shown)


def _open_descriptor(open_dict, fd: int, path, shown: str):
    proc = f"/proc/self/fd/{fd}"
    if not os.path.exists(proc):
        return open_dict(path)
    try:
        return open_dict(proc)
    except OSError as e:
        # The message names the descriptor's path; name the caller's instead.
        text = str(e)
        prefix = f"cannot open {proc}: "
        if text.startswith(prefix):
            raise OSError(f"cannot open {shown}: {text[len(prefix):]}") from None
        raise
