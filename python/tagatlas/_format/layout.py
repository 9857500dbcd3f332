"""The byte layout of a `.tatl` file, described once for the package's Python code.

The writer, the command line, the entry reader, the tests and the fuzz corpus script take offsets,
sizes and field orders from here instead of spelling them out again. The C++ library has its own
description (`src/schema/records.h`), pinned by static asserts; the tests compare the two through
files written here and read there.

A file is a 32-byte header ("TATL", u16 version 2, 26 bytes the reader ignores), then the archive up
to the end of the file. The archive ends with the 24-byte root, whose three vector fields locate the
index, the records and the string pool by offsets relative to the field itself. All integers are
little-endian.
"""

from __future__ import annotations

import struct

MAGIC = b"TATL"
VERSION = 2
HEADER_SIZE = 32
# Magic and version; the rest of the header carries no meaning.
HEADER = struct.Struct("<4sH")
HEADER_VERSION_FIELD = 4

# Root: (index offset, index count, records offset, records count, strings offset, pool length).
# Each offset is relative to the first byte of its own 8-byte field.
ROOT = struct.Struct("<iIiIiI")
ROOT_SIZE = ROOT.size
ROOT_INDEX_FIELD = 0
ROOT_RECORDS_FIELD = 8
ROOT_STRINGS_FIELD = 16
# Inside each of those fields: the i32 offset, then the u32 count.
VECTOR_COUNT = 4

# Index entry: creator_hash, record_index, group, element.
INDEX_ENTRY = struct.Struct("<IIHH")
INDEX_ENTRY_SIZE = INDEX_ENTRY.size

# Tag record: keyword_offset, name_offset, creator_offset, description_offset, description_len,
# sources_offset, sources_len (u32); group, element, keyword_len, name_len, creator_len (u16);
# 2 reserved bytes; vr, element_is_block_offset, retired (u8); 1 filler byte.
RECORD = struct.Struct("<7I5H2x3Bx")
RECORD_SIZE = RECORD.size

# The file's alignment for the root and for the index and records arrays; the pool needs none.
ALIGN = 4

# The smallest file: the header and the root of a dictionary without entries.
MIN_FILE_SIZE = HEADER_SIZE + ROOT_SIZE

# Field name: (offset inside its record, struct format of the field).
INDEX_FIELDS: dict[str, tuple[int, str]] = {
    "creator_hash": (0, "<I"),
    "record_index": (4, "<I"),
    "group": (8, "<H"),
    "element": (10, "<H"),
}

RECORD_FIELDS: dict[str, tuple[int, str]] = {
    "keyword_offset": (0, "<I"),
    "name_offset": (4, "<I"),
    "creator_offset": (8, "<I"),
    "description_offset": (12, "<I"),
    "description_len": (16, "<I"),
    "sources_offset": (20, "<I"),
    "sources_len": (24, "<I"),
    "group": (28, "<H"),
    "element": (30, "<H"),
    "keyword_len": (32, "<H"),
    "name_len": (34, "<H"),
    "creator_len": (36, "<H"),
    "vr": (40, "<B"),
    "element_is_block_offset": (41, "<B"),
    "retired": (42, "<B"),
}

# The separator of the items of a sources text.
SOURCES_SEPARATOR = "|"

# The format's field widths.
U16_MAX = 0xFFFF
U32_MAX = 0xFFFF_FFFF
I32_MIN = -(2**31)


class Root(tuple):
    """Where a file's three arrays are, as absolute file offsets, with their counts: a tuple
    (at, index_start, index_count, records_start, records_count, pool_start, pool_length), `at`
    being the root's own offset. (collections.namedtuple would cost its import at start-up.)"""

    __slots__ = ()
    _fields = ("at", "index_start", "index_count", "records_start", "records_count",
               "pool_start", "pool_length")  # fmt: skip

    def __new__(cls, at: int, index_start: int, index_count: int, records_start: int,
                records_count: int, pool_start: int, pool_length: int) -> Root:  # fmt: skip
        return tuple.__new__(cls, (at, index_start, index_count, records_start, records_count,
                                   pool_start, pool_length))  # fmt: skip

    at = property(lambda self: self[0])
    index_start = property(lambda self: self[1])
    index_count = property(lambda self: self[2])
    records_start = property(lambda self: self[3])
    records_count = property(lambda self: self[4])
    pool_start = property(lambda self: self[5])
    pool_length = property(lambda self: self[6])

    def __repr__(self) -> str:
        fields = ", ".join(f"{name}={value}" for name, value in zip(self._fields, self))
        return f"Root({fields})"


def read_root(data, length: int | None = None) -> Root:
    """Reads the root at the end of `data` (any buffer; `length` if only a prefix counts).

    Nothing is checked beyond the size needed to read the root: the positions may lie anywhere,
    as in a damaged file. Raises ValueError when there is no room for a root.
    """
    size = len(data) if length is None else length
    if size < MIN_FILE_SIZE:
        raise ValueError(f"{size} bytes hold no root (at least {MIN_FILE_SIZE} needed)")
    at = size - ROOT_SIZE
    return unpack_root(data, at)


def unpack_root(data, at: int, buffer_offset: int | None = None) -> Root:
    """Reads a root that lies at file offset `at`, from `data` at `buffer_offset` (default `at`).

    With `buffer_offset=0`, `data` may be just the root's 24 bytes read from the end of a file.
    """
    io, ic, ro, rc, so, sc = ROOT.unpack_from(data, at if buffer_offset is None else buffer_offset)
    return Root(
        at,
        at + ROOT_INDEX_FIELD + io,
        ic,
        at + ROOT_RECORDS_FIELD + ro,
        rc,
        at + ROOT_STRINGS_FIELD + so,
        sc,
    )


def root_fields(root_at: int, index_start: int, n_index: int, records_start: int,
                n_records: int, pool_start: int, pool_length: int) -> bytes:
    """Packs a root placed at file offset `root_at` that points at the given positions."""
    return ROOT.pack(
        index_start - (root_at + ROOT_INDEX_FIELD), n_index,
        records_start - (root_at + ROOT_RECORDS_FIELD), n_records,
        pool_start - (root_at + ROOT_STRINGS_FIELD), pool_length,
    )  # fmt: skip


def field_values(array: memoryview, field: tuple[int, str], item_size: int) -> memoryview:
    """One field of every item of an array, read in place: `array` holds the array's bytes,
    `field` is the field's (offset, format) from INDEX_FIELDS or RECORD_FIELDS, `item_size` the
    array's INDEX_ENTRY_SIZE or RECORD_SIZE. The result is a strided view of native integers."""
    offset, fmt = field
    code = fmt[-1]
    width = struct.calcsize(code)
    return array.cast(code)[offset // width :: item_size // width]


def padding(length: int) -> int:
    """The number of zero bytes that bring `length` to the file's alignment."""
    return -length % ALIGN


def header(version: int = VERSION) -> bytes:
    """The 32 header bytes a writer puts down: magic, version, zero bytes."""
    return HEADER.pack(MAGIC, version) + bytes(HEADER_SIZE - HEADER.size)
