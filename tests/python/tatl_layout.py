"""Positions inside a written `.tatl` file, found through its root, for damaging files in tests.

The writer produces only valid files; the faults a reader must survive (a record number beyond the
records, a text beyond the pool, bad UTF-8) are made by patching its output with these helpers.
Offsets, sizes and field orders come from the package's one description of the layout.
"""

import struct

from tagatlas._format import layout
from tagatlas._format.layout import INDEX_FIELDS, MAGIC, RECORD_FIELDS, VERSION


def header(magic=MAGIC, version=VERSION):
    """The 32 header bytes with any magic and version, for files a reader must refuse."""
    return layout.HEADER.pack(magic, version) + bytes(layout.HEADER_SIZE - layout.HEADER.size)


def root(data):
    """(root offset, index start, index count, records start, records count, pool start,
    pool length)."""
    return tuple(layout.read_root(data))


def pool_len(data):
    return layout.read_root(data).pool_length


def _record_at(data, i):
    return layout.read_root(data).records_start + layout.RECORD_SIZE * i


def read_record(data, i, name):
    offset, fmt = RECORD_FIELDS[name]
    return struct.unpack_from(fmt, data, _record_at(data, i) + offset)[0]


def patch_record(data, i, **values):
    for name, value in values.items():
        offset, fmt = RECORD_FIELDS[name]
        struct.pack_into(fmt, data, _record_at(data, i) + offset, value)


def patch_index(data, i, **values):
    start = layout.read_root(data).index_start + layout.INDEX_ENTRY_SIZE * i
    for name, value in values.items():
        offset, fmt = INDEX_FIELDS[name]
        struct.pack_into(fmt, data, start + offset, value)


def patch_pool(data, offset, payload):
    """Overwrites pool bytes from pool offset `offset`."""
    start = layout.read_root(data).pool_start + offset
    data[start : start + len(payload)] = payload


def expected_result(entry):
    """The lookup result that a writer `Entry` should come back as."""
    return {
        "group": entry.group, "element": entry.element, "creator": entry.creator or "",
        "keyword": entry.keyword, "name": entry.name, "vr": entry.vr,
        "description": entry.description, "retired": entry.retired,
        "block_offset": entry.block_offset, "sources": list(entry.sources),
    }  # fmt: skip


def record_position(data, group, element):
    """The index position of the entry for (group, element); records are stored in index order."""
    for i in range(layout.read_root(data).records_count):
        if (read_record(data, i, "group"), read_record(data, i, "element")) == (group, element):
            return i
    raise LookupError((group, element))
