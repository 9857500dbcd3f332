"""Writes the fuzzer's seed corpus: small valid dictionaries and damaged variants of them.

Each seed is a complete file made by the package's writer and then, for the damaged ones, changed
in one place, so the fuzzer starts from inputs that pass the header checks and reach validation,
search and the text readers. Run with the project's venv, where tagatlas is installed:

    python fuzz/make_corpus.py OUT_DIR
"""

from __future__ import annotations

import struct
import sys
from pathlib import Path

from tagatlas._format import layout
from tagatlas.writer import Entry, encode


def valid_files() -> dict[str, bytes]:
    patient = Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN")
    private = [
        Entry(0x0019, 0x0C, "AcqBlock", "Acquisition Block", "US", creator="GEMS_ACQU_01",
              block_offset=True, sources=("dcmtk", "pydicom")),
        Entry(0x0029, 0x10, "CsaHeader", "CSA Image Header", "OB", creator="SIEMENS CSA HEADER",
              sources=("pydicom",)),
        Entry(0x0029, 0x10, "Other", "Same tag, other creator", "??", creator="straße Gmbh"),
    ]
    public = [
        Entry(0x0008, 0x0016, "SOPClassUID", "SOP Class UID", "UI", sources=("dcmtk",)),
        Entry(0x0028, 0x0010, "Rows", "Rows", "US", description="Number of rows", sources=("a", "b")),
        Entry(0x6000, 0x3000, "OverlayData", "Overlay Data", "??", retired=True),
        Entry(0x7FE0, 0x0010, "PixelData", "Pixel Data", "OB"),
        Entry(0xFFFE, 0xE000, "Item", "Item", "??"),
    ]
    return {
        "empty": encode([]),
        "patient_name": encode([patient]),
        "public": encode(public + [patient]),
        "private": encode(private),
        "mixed": encode(public + private + [patient]),
    }


def damaged_files(base: bytes) -> dict[str, bytes]:
    """One-field changes of a valid file with at least two entries."""
    root = layout.read_root(base)
    n = root.index_count
    out: dict[str, bytes] = {}

    def poke(name: str, fmt: str, offset: int, value: int) -> None:
        data = bytearray(base)
        struct.pack_into(fmt, data, offset, value)
        out[name] = bytes(data)

    def poke_record(name: str, i: int, field: str, value: int) -> None:
        offset, fmt = layout.RECORD_FIELDS[field]
        poke(name, fmt, root.records_start + layout.RECORD_SIZE * i + offset, value)

    def poke_index(name: str, i: int, field: str, value: int) -> None:
        offset, fmt = layout.INDEX_FIELDS[field]
        poke(name, fmt, root.index_start + layout.INDEX_ENTRY_SIZE * i + offset, value)

    index_field = root.at + layout.ROOT_INDEX_FIELD
    poke("bad_magic", "<I", 0, 0)
    poke("version_1", "<H", layout.HEADER_VERSION_FIELD, 1)
    poke("version_3", "<H", layout.HEADER_VERSION_FIELD, 3)
    poke("index_unaligned", "<i", index_field, layout.HEADER_SIZE + 2 - index_field)
    poke("index_into_header", "<i", index_field, -index_field)
    poke("records_huge_count", "<I",
         root.at + layout.ROOT_RECORDS_FIELD + layout.VECTOR_COUNT, 0xFFFFFFFF)  # fmt: skip
    poke("pool_into_root", "<I",
         root.at + layout.ROOT_STRINGS_FIELD + layout.VECTOR_COUNT, 0x7FFFFFFF)  # fmt: skip
    poke_record("record_bad_vr", 0, "vr", 35)
    poke_record("record_bad_retired", 0, "retired", 2)
    poke_record("record_bad_block", 1, "element_is_block_offset", 7)
    poke_index("record_index_at_count", 0, "record_index", n)
    poke_record("keyword_past_pool", 0, "keyword_offset", 0xFFFFFF00)
    poke_record("description_len_past_pool", 0, "description_len", 0xFFFFFFFF)
    poke_record("creator_len_past_pool", 0, "creator_len", 0xFFFF)
    poke_index("unsorted_index", 0, "group", 0xFFFF)
    out["truncated_header"] = base[: layout.HEADER_SIZE - 1]
    out["header_only"] = base[: layout.HEADER_SIZE]
    out["unaligned_length"] = base + b"\0"
    data = bytearray(base)
    data[root.pool_start] = 0x80  # a lone continuation byte in the first text
    out["invalid_utf8"] = bytes(data)
    return out


def main(argv: list[str]) -> int:
    if len(argv) != 2:
        print(f"usage: {argv[0]} OUT_DIR", file=sys.stderr)
        return 2
    out = Path(argv[1])
    out.mkdir(parents=True, exist_ok=True)
    files = valid_files()
    files.update(damaged_files(files["mixed"]))
    for name, data in sorted(files.items()):
        (out / f"{name}.tatl").write_bytes(data)
    print(f"wrote {len(files)} seeds to {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
