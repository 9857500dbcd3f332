"""Merging sources into one dictionary: the priority rule, and a build read back by the reader."""

import pytest

from tagatlas.build import build, describe, merge
from tagatlas.importers.pydicom_tables import Tables
from tagatlas.importers.result import ImportResult, entry_key
from tagatlas.writer import Entry, encode, write


def pyd(**fields):
    base = dict(group=0x0010, element=0x0010, keyword="", name="", vr="??", sources=("pydicom",))
    return Entry(**{**base, **fields})


def dcm(**fields):
    base = dict(group=0x0010, element=0x0010, keyword="", name="", vr="??", sources=("dcmtk",))
    return Entry(**{**base, **fields})


@pytest.mark.parametrize(
    "high, low, expected",
    [
        # each field from the first source that has a value
        (pyd(keyword="A", name="N"), dcm(keyword="B"), dict(keyword="A", name="N")),
        (pyd(keyword="", name="N"), dcm(keyword="B"), dict(keyword="B", name="N")),
        (pyd(description=""), dcm(description="VM 3"), dict(description="VM 3")),
        (pyd(description="VM 1-n"), dcm(description="VM 3"), dict(description="VM 1-n")),
        # the facts line is merged fact by fact, the text after it as one field
        (pyd(description="VM 1-n\nText."), dcm(description="VM 3\nOther."),
         dict(description="VM 1-n\nText.")),
        (pyd(description="VM"), dcm(description="VM 3\nOther."), dict(description="VM 3\nOther.")),
        (pyd(description="Plain words"), dcm(description="VM 3"),
         dict(description="VM 3\nPlain words")),
        (pyd(description="VM 1; mask 60xx3000"), dcm(description="VM 2"),
         dict(description="VM 1; mask 60xx3000")),
        (pyd(description="VM 1"), dcm(description="VM 2; mask 60xx3000"),
         dict(description="VM 1")),
        # the VR from the first source that states one: a single VR or a choice of VRs
        (pyd(vr="??"), dcm(vr="US"), dict(vr="US", description="")),
        (pyd(vr="??", description="VM 1; VR US or SS"), dcm(vr="US", description="VM 1"),
         dict(vr="??", description="VM 1; VR US or SS")),
        (pyd(vr="OW", description="VM 1"), dcm(vr="??", description="VM 1; VR OB or OW"),
         dict(vr="OW", description="VM 1")),
        (pyd(vr="??", description="VM 1"), dcm(vr="??", description="VM 1; VR OB or OW"),
         dict(vr="??", description="VM 1; VR OB or OW")),
        (pyd(vr="SS"), dcm(vr="US"), dict(vr="SS")),
        (pyd(vr="??"), dcm(vr="??"), dict(vr="??")),
        # flags and creator spelling follow the first source
        (pyd(retired=True), dcm(retired=False), dict(retired=True)),
        (pyd(retired=False), dcm(retired=True), dict(retired=False)),
        (pyd(group=0x2001, element=0x36, creator="Philips Imaging DD 001", block_offset=True),
         dcm(group=0x2001, element=0x36, creator="PHILIPS IMAGING DD 001", block_offset=True),
         dict(creator="Philips Imaging DD 001")),
        # a private element at or below 0xFF is a block offset, however a source stored it
        (pyd(group=0x0029, element=0x01, creator="X", block_offset=False),
         dcm(group=0x0029, element=0x01, creator="x", block_offset=True),
         dict(block_offset=True, creator="X")),
    ],
)  # fmt: skip
def test_priority_per_field(high, low, expected):
    [merged] = merge([ImportResult("pydicom", [high]), ImportResult("dcmtk", [low])])
    assert {k: getattr(merged, k) for k in expected} == expected
    assert merged.sources == ("pydicom", "dcmtk")


def test_wide_mask_of_a_higher_source_covers_exact_tags_of_a_lower_one():
    mask = pyd(group=0x1000, element=0x0000, keyword="EscapeTriplet", name="Escape Triplet",
               vr="US", description="VM 3; mask 1000xxx0", retired=True)  # fmt: skip
    inside = dcm(group=0x1000, element=0x0010, keyword="EscapeTriplet", vr="US",
                 description="VM 3", retired=True)  # fmt: skip
    outside = dcm(group=0x1000, element=0x0011, keyword="RunLengthTriplet", vr="US")
    narrow = pyd(group=0x6000, element=0x3000, keyword="OverlayData",
                 description="VM 1; mask 60xx3000")  # fmt: skip
    other = dcm(group=0x6002, element=0x3000, keyword="Kept")
    merged = merge([ImportResult("pydicom", [mask, narrow]),
                    ImportResult("dcmtk", [inside, outside, other])])  # fmt: skip
    by_tag = {(e.group, e.element): e for e in merged}
    assert by_tag[0x1000, 0x0000] == mask
    assert by_tag[0x1000, 0x0010] == Entry(
        0x1000, 0x0010, "EscapeTriplet", "Escape Triplet", "US", None, "VM 3; mask 1000xxx0",
        True, False, ("pydicom", "dcmtk"),
    )  # fmt: skip
    # Not covered: a tag outside the mask, and a mask narrow enough to be expanded by its source.
    assert by_tag[0x1000, 0x0011] == outside
    assert by_tag[0x6002, 0x3000] == other
    # A lower source's mask never covers a higher source's tags.
    [_, alone] = merge([ImportResult("dcmtk", [inside]), ImportResult("pydicom", [mask])])
    assert alone == inside


def test_descriptive_texts_join_the_facts_line():
    entries = [
        pyd(keyword="PatientName", description="VM 1"),
        pyd(group=0x6002, element=0x3000, description="VM 1; VR OB or OW; mask 60xx3000"),
        pyd(group=0x0008, element=0x0001, description="VM 1\nOwn text."),
        pyd(group=0x0009, element=0x10, creator="C", description="VM 1", block_offset=True),
        pyd(group=0x0010, element=0x0020, description=""),
    ]
    texts = {"00100010": "Patient's full name.", "60xx3000": "Overlay pixel data.",
             "00080001": "Not used: the entry has a text.", "00090010": "Not for a private tag.",
             "00100020": "Primary identifier."}  # fmt: skip
    assert [e.description for e in describe(entries, texts)] == [
        "VM 1\nPatient's full name.",
        "VM 1; VR OB or OW; mask 60xx3000\nOverlay pixel data.",
        "VM 1\nOwn text.",
        "VM 1",
        "VM\nPrimary identifier.",
    ]


def test_order_of_imports_is_the_priority():
    a, b = pyd(keyword="A"), dcm(keyword="B")
    [first] = merge([ImportResult("pydicom", [a]), ImportResult("dcmtk", [b])])
    [second] = merge([ImportResult("dcmtk", [b]), ImportResult("pydicom", [a])])
    assert (first.keyword, first.sources) == ("A", ("pydicom", "dcmtk"))
    assert (second.keyword, second.sources) == ("B", ("dcmtk", "pydicom"))


def test_entries_of_one_source_pass_unchanged_and_sorted():
    p = [pyd(element=0x20, keyword="P"), pyd(group=0x0008, element=0x16, keyword="Q")]
    d = [dcm(group=0x7FE0, keyword="R"), dcm(group=0x0019, element=0x0C, creator="C",
                                             block_offset=True, keyword="S")]  # fmt: skip
    merged = merge([ImportResult("pydicom", p), ImportResult("dcmtk", d)])
    assert sorted(merged, key=entry_key) == merged
    assert set(merged) == set(p + d)


def test_merged_entries_encode_without_duplicates():
    p = [pyd(element=e, keyword=f"P{e}") for e in range(10)]
    d = [dcm(element=e, keyword=f"D{e}") for e in range(5, 15)]
    merged = merge([ImportResult("pydicom", p), ImportResult("dcmtk", d)])
    assert len(merged) == 15
    assert encode(merged) == encode(merged, duplicates="error")


DIC = (
    "(0010,0010)\tPN\tPatientName\t1\tDICOM\n"
    "(0028,0106)\txs\tSmallestImagePixelValue\t1\tDICOM\n"
    "(6000-6004,3000)\tox\tOverlayData\t1\tDICOM\n"
    "(0000,0001)\tUL\tRETIRED_CommandLengthToEnd\t1\tDICOM/retired\n"
    '(0019,"GEMS_ACQU_01",02)\tSL\tNumberOfCellsInDetector\t1\tPrivateTag\n'
)
TABLES = Tables(
    public={
        0x00100010: ("PN", "1", "Patient's Name", "", "PatientName"),
        0x00280106: ("US or SS", "1", "Smallest Image Pixel Value", "", "SmallestImagePixelValue"),
        0x00000001: ("UL", "1", "Command Length to End", "Retired", "CommandLengthToEnd"),
    },
    repeaters={"60xx3000": ("OB or OW", "1", "Overlay Data", "", "OverlayData")},
    private={"gems_acqu_01": {"0019xx02": ("SL", "1", "Detector Channel", "")}},
)


def test_build_from_files_and_tables(tmp_path):
    path = tmp_path / "site.dic"
    path.write_text(DIC)
    result = build(dcmtk_files=[path], dcmtk_name="site", pydicom_tables=TABLES)
    assert [r.source for r in result.imports] == ["pydicom", "site"]
    tags = {(e.group, e.element): e for e in result.entries}
    assert len(tags) == 3 + 128 + 1
    assert tags[0x6000, 0x3000].sources == ("pydicom", "site")
    assert tags[0x6006, 0x3000].sources == ("pydicom",)
    private = tags[0x0019, 0x02]
    assert (private.keyword, private.name, private.creator) == (
        "NumberOfCellsInDetector", "Detector Channel", "gems_acqu_01",
    )  # fmt: skip


def test_build_without_sources_is_empty():
    result = build()
    assert (result.entries, result.imports) == ([], [])


def test_built_dictionary_reads_back(tmp_path):
    reader = pytest.importorskip("tagatlas._tagatlas", reason="extension module not built")
    source = tmp_path / "site.dic"
    source.write_text(DIC)
    result = build(dcmtk_files=[source], pydicom_tables=TABLES)
    out = tmp_path / "out.tatl"
    write(out, result.entries)
    d = reader.open(out)
    assert len(d) == len(result.entries)
    for e in result.entries:
        found = d.lookup(e.group, e.element, e.creator)
        assert found == {
            "group": e.group, "element": e.element, "creator": e.creator or "",
            "keyword": e.keyword, "name": e.name, "vr": e.vr, "description": e.description,
            "retired": e.retired, "block_offset": e.block_offset, "sources": list(e.sources),
        }  # fmt: skip
    assert d.lookup(0x0019, 0x02, " GEMS_ACQU_01 ")["name"] == "Detector Channel"
    assert d.lookup(0x0028, 0x0106)["vr"] == "??"
