"""Positions inside a written `.tatl` file, found through its root, for damaging files in tests.

The writer produces only valid files; the faults a reader must survive (a record number beyond the
records, a text beyond the pool, bad UTF-8) are made by patching its output with these helpers.
"""

import struct

ROOT = struct.Struct("<iIiIiI")

# name: (offset inside the record, struct format)
RECORD_FIELDS = {
    "keyword_offset": (0, "<I"), "name_offset": (4, "<I"), "creator_offset": (8, "<I"),
    "description_offset": (12, "<I"), "description_len": (16, "<I"),
    "sources_offset": (20, "<I"), "sources_len": (24, "<I"),
    "group": (28, "<H"), "element": (30, "<H"),
    "keyword_len": (32, "<H"), "name_len": (34, "<H"), "creator_len": (36, "<H"),
    "vr": (40, "<B"), "element_is_block_offset": (41, "<B"), "retired": (42, "<B"),
}  # fmt: skip

INDEX_FIELDS = {"creator_hash": (0, "<I"), "record_index": (4, "<I"), "group": (8, "<H"),
                "element": (10, "<H")}  # fmt: skip


def root(data):
    """(root offset, index start, index count, records start, records count, pool start,
    pool length)."""
    r = len(data) - ROOT.size
    io, ic, ro, rc, so, sc = ROOT.unpack_from(data, r)
    return r, r + io, ic, r + 8 + ro, rc, r + 16 + so, sc


def pool_len(data):
    return root(data)[6]


def read_record(data, i, name):
    offset, fmt = RECORD_FIELDS[name]
    return struct.unpack_from(fmt, data, root(data)[3] + 44 * i + offset)[0]


def patch_record(data, i, **values):
    for name, value in values.items():
        offset, fmt = RECORD_FIELDS[name]
        struct.pack_into(fmt, data, root(data)[3] + 44 * i + offset, value)


def patch_index(data, i, **values):
    for name, value in values.items():
        offset, fmt = INDEX_FIELDS[name]
        struct.pack_into(fmt, data, root(data)[1] + 12 * i + offset, value)


def patch_pool(data, offset, payload):
    """Overwrites pool bytes from pool offset `offset`."""
    start = root(data)[5] + offset
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
    for i in range(root(data)[4]):
        if (read_record(data, i, "group"), read_record(data, i, "element")) == (group, element):
            return i
    raise LookupError((group, element))
