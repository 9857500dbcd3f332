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

from tagatlas.writer import Entry, encode

HEADER = 32
INDEX_ENTRY = 12
RECORD = 44


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
    n = struct.unpack_from("<I", base, len(base) - 20)[0]
    root = len(base) - 24
    records = HEADER + INDEX_ENTRY * n
    out: dict[str, bytes] = {}

    def poke(name: str, fmt: str, offset: int, value: int) -> None:
        data = bytearray(base)
        struct.pack_into(fmt, data, offset, value)
        out[name] = bytes(data)

    poke("bad_magic", "<I", 0, 0)
    poke("version_1", "<H", 4, 1)
    poke("version_3", "<H", 4, 3)
    poke("index_unaligned", "<i", root, HEADER + 2 - root)
    poke("index_into_header", "<i", root, -root)
    poke("records_huge_count", "<I", root + 12, 0xFFFFFFFF)
    poke("pool_into_root", "<I", root + 20, 0x7FFFFFFF)
    poke("record_bad_vr", "<B", records + 40, 35)
    poke("record_bad_retired", "<B", records + 42, 2)
    poke("record_bad_block", "<B", records + RECORD + 41, 7)
    poke("record_index_at_count", "<I", HEADER + 4, n)
    poke("keyword_past_pool", "<I", records, 0xFFFFFF00)
    poke("description_len_past_pool", "<I", records + 16, 0xFFFFFFFF)
    poke("creator_len_past_pool", "<H", records + 36, 0xFFFF)
    poke("unsorted_index", "<H", HEADER + 8, 0xFFFF)
    out["truncated_header"] = base[:31]
    out["header_only"] = base[:HEADER]
    out["unaligned_length"] = base + b"\0"
    pool_start = records + RECORD * n
    data = bytearray(base)
    data[pool_start] = 0x80  # a lone continuation byte in the first text
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
