"""The one merge: per-field ranks, firm values over placeholders, the two forms of a private element."""

import pytest

from tagatlas.build_report import report_counts
from tagatlas.build import Build
from tagatlas.description import is_guess, parse_description
from tagatlas.importers.result import ImportResult
from tagatlas.merge import Ranks, merge_sources
from tagatlas.writer import Entry

RANKS = Ranks(
    public=("ps3.6", "dcmtk", "pydicom"),
    private={"name": ("gdcm", "pydicom", "ps3.15", "tcia"), "keyword": ("dcmtk",),
             "vr": ("gdcm", "pydicom", "dcmtk"), "vm": ("gdcm", "pydicom", "dcmtk"),
             "retired": ("gdcm", "pydicom", "dcmtk"), "text": ("ps3.15",)},
    registries=frozenset({"ps3.6"}),
)  # fmt: skip
C = "ACME MR"


def row(source, element=0x0C, *, group=0x0019, creator=C, **fields):
    block = creator is not None and element <= 0xFF
    base = dict(keyword="", name="", vr="??", description="", block_offset=block)
    return source, Entry(group, element, creator=creator, sources=(source,), **{**base, **fields})


def merge(*rows):
    by_source = {}
    for source, entry in rows:
        by_source.setdefault(source, []).append(entry)
    merged = merge_sources([ImportResult(s, es) for s, es in by_source.items()], RANKS)
    return {(e.group, e.element): e for e in merged.entries}, merged.report


@pytest.mark.parametrize(
    "rows, element, expected",
    [
        # a firm name beats a placeholder of a higher-ranked source
        ([row("gdcm", name="?"), row("pydicom", name="Echo Length")], 0x0C,
         dict(name="Echo Length", guess=False)),
        ([row("gdcm", name="Unknown"), row("tcia", name="Echo Length")], 0x0C,
         dict(name="Echo Length", guess=False)),
        ([row("gdcm", name="?num?"), row("tcia", name="Number")], 0x0C,
         dict(name="Number", guess=False)),
        # a guess that is all there is stays, marked; it beats a placeholder
        ([row("gdcm", name="?MRImage?", description="VM 1"), row("pydicom", name="Unknown")], 0x0C,
         dict(name="?MRImage?", guess=True, vm="1")),
        ([row("gdcm", name="?MRImage?")], 0x0C, dict(name="?MRImage?", guess=True)),
        # each field from its own rank: keyword from DCMTK, VR and VM from GDCM
        ([row("gdcm", name="Echo Length", vr="US", description="VM 2"),
          row("dcmtk", keyword="EchoLength", vr="SS", description="VM 1")], 0x0C,
         dict(name="Echo Length", keyword="EchoLength", vr="US", vm="2")),
        # a VR choice states a VR; "??" alone does not
        ([row("gdcm", vr="??"), row("dcmtk", vr="??", description="VM 1; VR OB or OW")], 0x0C,
         dict(vr="??", choice="OB or OW")),
        # a name is never made from a keyword
        ([row("dcmtk", keyword="EchoLength")], 0x0C, dict(name="", keyword="EchoLength")),
        # the exact entry takes the block entry's firm name, and the block entry the exact one's
        ([row("dcmtk", 0x100C, keyword="EchoLength"), row("pydicom", name="Echo Length")], 0x100C,
         dict(name="Echo Length", keyword="EchoLength")),
        ([row("dcmtk", 0x100C, keyword="EchoLength"), row("pydicom", 0x100C, name="Echo Length"),
          row("gdcm", name="?")], 0x0C, dict(name="Echo Length")),
        # a block-specific vendor: 10xx and 11xx differ, so the block form takes no exact name
        ([row("pydicom", 0x1000, name="Field of View"), row("pydicom", 0x1100, name="Stacks"),
          row("gdcm", 0x00, name="?")], 0x00, dict(name="?")),
        ([row("pydicom", 0x1000, name="Field of View"), row("pydicom", 0x1100, name="Stacks"),
          row("gdcm", 0x00, name="?")], 0x1100, dict(name="Stacks")),
        ([row("dcmtk", 0x1000, keyword="FieldOfView"), row("dcmtk", 0x1100, keyword="Stacks"),
          row("gdcm", 0x00, name="Field of View")], 0x1000, dict(name="Field of View")),
        # an E.3.10-1 row names what the toolkits leave unnamed and gives its text
        ([row("gdcm", name="?", vr="DS"),
          row("ps3.15", name="SUV Factor", vr="FL", description="VM 1\nSUV Factor - Multiplying")],
         0x0C, dict(name="SUV Factor", vr="DS", vm="1", text="SUV Factor - Multiplying")),
        # PS3.6 states VR and VM, also empty; a name it leaves blank comes from pydicom
        ([row("ps3.6", 0x0202, group=0x0008, creator=None, description="VM; VR NONE"),
          row("pydicom", 0x0202, group=0x0008, creator=None, name="Retired-blank", vr="OB",
              description="VM 1")], 0x0202,
         dict(name="Retired-blank", vr="??", choice="NONE", vm="", description="VM; VR NONE")),
        ([row("ps3.6", 0x1153, group=0x0018, creator=None, name="Exposure in µAs", vr="IS",
              description="VM 1"),
          row("pydicom", 0x1153, group=0x0018, creator=None, name="Exposure in uAs", vr="IS",
              description="VM 1")], 0x1153, dict(name="Exposure in µAs")),
    ],
)  # fmt: skip
def test_merge_cases(rows, element, expected):
    entries, _ = merge(*rows)
    entry = entries[next(k for k in entries if k[1] == element)]
    facts = parse_description(entry.description)
    got = dict(name=entry.name, keyword=entry.keyword, vr=entry.vr, vm=facts.vm, choice=facts.vr,
               text=facts.text, guess=is_guess(entry.description), description=entry.description)
    assert {k: got[k] for k in expected} == expected


def test_low_private_elements_become_block_offsets():
    source, entry = row("pydicom", 0x05, name="Thing")
    entries, report = merge((source, Entry(**{**entry.__dict__, "block_offset": False})))
    assert entries[0x0019, 0x05].block_offset is True
    assert report.made_block_offsets == 1


def test_report_counts():
    rows = [
        row("gdcm", name="?", vr="US", description="VM 1"),
        row("pydicom", name="Echo Length", vr="SS", description="VM 1"),
        row("dcmtk", keyword="EchoLength", vr="UL", description="VM 2"),
        row("dcmtk", 0x100D, keyword="Other"),
        row("ps3.15", 0x0D, name="Other Thing", description="VM 1\nOther Thing - long"),
    ]
    entries, report = merge(*rows)
    counts = report_counts(Build(list(entries.values()), [ImportResult("x", [])], report))
    assert counts["sources"] == {
        # gdcm gives the VR; its "?" is replaced; pydicom gives the name, its SS loses
        "gdcm": dict(taken=1, added=1, lost=0, replaced=1, skipped=0),
        "pydicom": dict(taken=1, added=1, lost=1, replaced=0, skipped=0),
        # dcmtk's keywords stand, its VR and VM lose; its exact (0019,100D) is a second entry
        "dcmtk": dict(taken=2, added=2, lost=2, replaced=0, skipped=0),
        "ps3.15": dict(taken=1, added=1, lost=0, replaced=0, skipped=0),
    }
    assert counts["merge"]["names_from_other_form"] == 1  # (0019,100D) takes "Other Thing"
    assert counts["entries"] == {"public": 0, "private": 3}
