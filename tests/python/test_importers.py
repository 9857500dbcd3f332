"""Importers of DCMTK dictionary files and pydicom tables, on small inputs made here."""

import pytest

from tagatlas.description import parse_description
from tagatlas.importers.dcmtk import import_dcmtk
from tagatlas.importers.pydicom_tables import Tables, import_pydicom
from tagatlas.importers.ranges import Parity, mask_values, range_values
from tagatlas.importers.result import SourceError
from tagatlas.writer import Entry


def dic(tmp_path, text, name="test.dic"):
    path = tmp_path / name
    path.write_text(text, encoding="utf-8")
    return path


def by_tag(result):
    return {(e.group, e.element, e.creator): e for e in result.entries}


@pytest.mark.parametrize(
    "low, high, parity, expected",
    [
        (0x6000, 0x6006, Parity.EVEN, [0x6000, 0x6002, 0x6004, 0x6006]),
        (0x6001, 0x6006, Parity.EVEN, [0x6002, 0x6004, 0x6006]),
        (0x6000, 0x6007, Parity.ODD, [0x6001, 0x6003, 0x6005, 0x6007]),
        (0x6000, 0x6003, Parity.ANY, [0x6000, 0x6001, 0x6002, 0x6003]),
        (0x0010, 0x0010, Parity.ODD, []),
        (0xFFFE, 0xFFFF, Parity.ANY, [0xFFFE, 0xFFFF]),
    ],
)
def test_range_values(low, high, parity, expected):
    assert list(range_values(low, high, parity)) == expected


def test_backward_range_is_refused():
    with pytest.raises(ValueError, match="runs backwards"):
        range_values(0x60FF, 0x6000, Parity.EVEN)


@pytest.mark.parametrize(
    "mask, parity, count, first, last",
    [
        ("60xx", Parity.EVEN, 128, 0x6000, 0x60FE),
        ("70xx", Parity.ODD, 128, 0x7001, 0x70FF),
        ("04x0", Parity.ANY, 16, 0x0400, 0x04F0),
        ("31xx", Parity.ANY, 256, 0x3100, 0x31FF),
        ("xxx1", Parity.ANY, 4096, 0x0001, 0xFFF1),
        ("x000", Parity.EVEN, 16, 0x0000, 0xF000),
        ("0011", Parity.ANY, 1, 0x0011, 0x0011),
    ],
)
def test_mask_values(mask, parity, count, first, last):
    values = mask_values(mask, parity)
    assert (len(values), values[0], values[-1]) == (count, first, last)
    assert len(set(values)) == count
    fixed = [i for i, ch in enumerate(mask) if ch != "x"]
    for value in values:
        digits = f"{value:04X}"
        assert all(digits[i] == mask[i].upper() for i in fixed)


# ---------------------------------------------------------------------------------------------
# DCMTK


def test_dcmtk_public_line(tmp_path):
    path = dic(tmp_path, "(0010,0010)\tPN\tPatientName\t1\tDICOM\n")
    result = import_dcmtk([path])
    assert result.entries == [
        Entry(0x0010, 0x0010, "PatientName", "", "PN", None, "VM 1", False, False, ("dcmtk",))
    ]
    assert result.source == "dcmtk" and result.skipped == []


@pytest.mark.parametrize(
    "line, keyword, retired, description",
    [
        ("(0000,0001)\tUL\tRETIRED_CommandLengthToEnd\t1\tDICOM/retired", "CommandLengthToEnd",
         True, "VM 1"),
        ("(0008,0001)\tUL\tLengthToEnd\t1-n\tACR/NEMA2/Retired", "LengthToEnd", True, "VM 1-n"),
        ("(0018,9445)\tSQ\tThing\t1\tDICOM/DICONDE", "Thing", False, "VM 1"),
        ("(0041,0001)\tUL\tNoVersion\t2-2n", "NoVersion", False, "VM 2-2n"),
        ("(0041,0002)\tUL\tNoVM", "NoVM", False, ""),
        ("  (0041,0003) \tUL\t Spaced Keyword \t 1 \t DICOM ", "SpacedKeyword", False, "VM 1"),
    ],
)  # fmt: skip
def test_dcmtk_fields(tmp_path, line, keyword, retired, description):
    [entry] = import_dcmtk([dic(tmp_path, line + "\n")]).entries
    assert (entry.keyword, entry.retired, entry.description) == (keyword, retired, description)


@pytest.mark.parametrize(
    "vr, stored, description",
    [("US", "US", "VM 1"), ("FL", "FL", "VM 1"), ("ox", "??", "VM 1; VR OB or OW"),
     ("xs", "??", "VM 1; VR US or SS"), ("lt", "??", "VM 1; VR US or SS or OW"),
     ("up", "UL", "VM 1"), ("na", "??", "VM 1; VR NONE"), ("px", "??", "VM 1; VR OB or OW"),
     (" OB ", "OB", "VM 1")],
)  # fmt: skip
def test_dcmtk_vr(tmp_path, vr, stored, description):
    [entry] = import_dcmtk([dic(tmp_path, f"(0028,0106)\t{vr}\tSmallest\t1\tDICOM\n")]).entries
    assert (entry.vr, entry.description) == (stored, description)


@pytest.mark.parametrize(
    "tag, mask",
    [
        ("(6000-60FF,3000)", "60xx3000"),
        ("(0020,3100-31FF)", "002031xx"),
        ("(6000-u-60FF,0010)", "60xx0010"),
        ("(6000-e-6006,0010)", None),  # not a whole hex digit
        ("(6001-o-60FF,0010)", None),
        ('(6001-o-60FF,"ACME",10)', None),
        ('(6000-o-60FF,"ACME",10)', "60xxxx10"),
        ('(6000-o-60FF,"ACME",1010)', "60xx1010"),
        ("(0010,0010)", None),
    ],
)  # fmt: skip
def test_dcmtk_repeating_lines_record_their_mask(tmp_path, tag, mask):
    entries = import_dcmtk([dic(tmp_path, f"{tag}\tUS\tKw\t1\tDICOM\n")]).entries
    assert {parse_description(e.description).mask for e in entries} == {mask}


@pytest.mark.parametrize(
    "tag, groups, elements",
    [
        ("(6000-60FF,3000)", list(range(0x6000, 0x6100, 2)), [0x3000]),
        ("(6000-e-6006,0010)", [0x6000, 0x6002, 0x6004, 0x6006], [0x0010]),
        ("(6001-o-6007,0010)", [0x6001, 0x6003, 0x6005, 0x6007], [0x0010]),
        ("(6000-O-6003,0010)", [0x6001, 0x6003], [0x0010]),
        ("(6000-u-6003,0010)", [0x6000, 0x6001, 0x6002, 0x6003], [0x0010]),
        ("(0020,3100-31FF)", [0x0020], list(range(0x3100, 0x3200, 2))),
        ("(0020,3100-u-3103)", [0x0020], [0x3100, 0x3101, 0x3102, 0x3103]),
        ("(0001-o-0007,0000)", [0x0001, 0x0003, 0x0005, 0x0007], [0x0000]),
        ("(6000-6002,0010-u-0011)", [0x6000, 0x6002], [0x0010, 0x0011]),
        ("( 6000 - 6002 , 0010 )", [0x6000, 0x6002], [0x0010]),
        ("(7fe0,00a0)", [0x7FE0], [0x00A0]),
    ],
)
def test_dcmtk_range_forms(tmp_path, tag, groups, elements):
    result = import_dcmtk([dic(tmp_path, f"{tag}\tUS\tKw\t1\tDICOM\n")])
    assert [(e.group, e.element) for e in result.entries] == [
        (g, e) for g in groups for e in elements
    ]
    assert all(e.creator is None and not e.block_offset for e in result.entries)


@pytest.mark.parametrize(
    "tag, expected",
    [
        ('(0019,"GEMS_ACQU_01",0C)', [(0x0019, 0x0C, "GEMS_ACQU_01", True)]),
        ('(0025,"CMR42 CIRCLECVI",1010)', [(0x0025, 0x1010, "CMR42 CIRCLECVI", False)]),
        ('(0029, "ACME, Inc. (v2)" ,10)', [(0x0029, 0x10, "ACME, Inc. (v2)", True)]),
        ('(7001-o-7005,"DLX_ANNOT_01",04)',
         [(g, 0x04, "DLX_ANNOT_01", True) for g in (0x7001, 0x7003, 0x7005)]),
        ('(0009,"X",10-u-11)', [(0x0009, 0x10, "X", True), (0x0009, 0x11, "X", True)]),
    ],
)  # fmt: skip
def test_dcmtk_private_forms(tmp_path, tag, expected):
    result = import_dcmtk([dic(tmp_path, f"{tag}\tDS\tKw\t1\tPrivateTag\n")])
    assert [(e.group, e.element, e.creator, e.block_offset) for e in result.entries] == expected


def test_dcmtk_blank_comment_and_crlf_lines_are_skipped(tmp_path):
    text = (
        "# comment\r\n"
        "\r\n"
        "   \t  \n"
        "   # indented comment\n"
        "(0010,0010)\tPN\tPatientName\t1\tDICOM\r\n"
        "#(0010,0020)\tLO\tPatientID\t1\tDICOM\n"
        "(0010,0020)\tLO\tPatientID\t1\tDICOM"  # no final newline
    )
    result = import_dcmtk([dic(tmp_path, text)])
    assert [(e.element, e.keyword) for e in result.entries] == [
        (0x0010, "PatientName"), (0x0020, "PatientID"),
    ]  # fmt: skip


@pytest.mark.parametrize(
    "line, message",
    [
        ("(0010,0010)\tPN", "expected 3 to 5 tab-separated fields, found 2"),
        ("(0010,0010)\t\tPN\tPatientName\t1\tDICOM",
         "expected 3 to 5 tab-separated fields, found 6"),
        ("(0010,0010) PN PatientName 1 DICOM", "expected 3 to 5 tab-separated fields, found 1"),
        ("(00ZZ,0010)\tPN\tKw\t1\tDICOM", "bad group '00ZZ'"),
        ("(0010,12345)\tPN\tKw\t1\tDICOM", "bad element '12345'"),
        ("(0010,0010\tPN\tKw\t1\tDICOM", "bad tag field '(0010,0010'"),
        ("0010,0010\tPN\tKw\t1\tDICOM", "bad tag field '0010,0010'"),
        ("(6000-x-60FF,0010)\tPN\tKw\t1\tDICOM",
         "unknown range restrictor 'x' in group '6000-x-60FF'"),
        ("(60FF-6000,0010)\tPN\tKw\t1\tDICOM", "range 60FF-6000 runs backwards"),
        ('(0019,"",10)\tPN\tKw\t1\tPrivateTag', "empty private creator"),
        ("(0010,0010)\tZZ\tKw\t1\tDICOM", "unknown VR 'ZZ'"),
        ("(0010,0010)\tUS or SS\tKw\t1\tDICOM", "unknown VR 'USorSS'"),
        ("(0010,0010)\tPN\t\t1\tDICOM", "empty keyword"),
        ("(0010,0010)\tPN\tKw\t1-\tDICOM", "bad VM '1-'"),
        ("(0010,0010)\tPN\tKw\tmany\tDICOM", "bad VM 'many'"),
        ("(0010,0010)\tPN\t" + "K" * 70000 + "\t1\tDICOM",
         "keyword '" + "K" * 40 + "...' is 70000 bytes, at most 65535"),
        ('(0019,"' + "C" * 70000 + '",10)\tPN\tKw\t1\tPrivateTag',
         "private creator '" + "C" * 40 + "...' is 70000 bytes, at most 65535"),
        ('(0019,"XAI_P774",10)\tPN\tKw\t1\tPrivateTag',
         "private creator 'XAI_P774' hashes to 0, which means none"),
        ("(0010,0010)\tPN\tKw\t" + "n" * 100 + "\tDICOM", "bad VM '" + "n" * 40 + "...'"),
        ("(0010,0010)\t" + "Z" * 100 + "\tKw\t1\tDICOM", "unknown VR '" + "Z" * 40 + "...'"),
    ],
)  # fmt: skip
def test_dcmtk_malformed_line_names_file_and_line(tmp_path, line, message):
    path = dic(tmp_path, "# header\n(0010,0020)\tLO\tPatientID\t1\tDICOM\n" + line + "\n")
    with pytest.raises(SourceError) as info:
        import_dcmtk([path])
    assert str(info.value) == f"{path}:3: {message}"


def test_dcmtk_byte_order_mark_is_skipped(tmp_path):
    path = tmp_path / "bom.dic"
    bom = b"\xef\xbb\xbf"
    path.write_bytes(bom + b"(0010,0010)\tPN\tPatientName\t1\tDICOM\n(0010,0020)\tPN\tKw\tx\n")
    with pytest.raises(SourceError, match=r"bom.dic:2: bad VM 'x'"):
        import_dcmtk([path])
    path.write_bytes(bom + b"(0010,0010)\tPN\tPatientName\t1\tDICOM\n")
    assert [e.keyword for e in import_dcmtk([path]).entries] == ["PatientName"]


def test_dcmtk_file_that_is_not_utf8(tmp_path):
    path = tmp_path / "latin1.dic"
    path.write_bytes(b"(0010,0010)\tPN\tPatient\xe9\t1\tDICOM\n")
    with pytest.raises(SourceError, match=r"latin1.dic: not UTF-8 text \(byte 22\)"):
        import_dcmtk([path])


def test_dcmtk_missing_file(tmp_path):
    with pytest.raises(FileNotFoundError):
        import_dcmtk([tmp_path / "absent.dic"])


def test_dcmtk_later_line_and_later_file_override(tmp_path):
    first = dic(
        tmp_path, "(0010,0010)\tPN\tOld\t1\tDICOM\n(0010,0010)\tPN\tNewer\t1\tDICOM\n", "a.dic"
    )
    second = dic(tmp_path, "(0010,0010)\tLO\tNewest\t1\tDICOM\n", "b.dic")
    assert [e.keyword for e in import_dcmtk([first]).entries] == ["Newer"]
    result = import_dcmtk([first, second])
    assert [(e.keyword, e.vr) for e in result.entries] == [("Newest", "LO")]
    assert {s.origin for s in result.skipped} == {f"{first}:1", f"{first}:2"}


@pytest.mark.parametrize("exact_first", [True, False])
def test_dcmtk_exact_tag_beats_range(tmp_path, exact_first):
    exact = "(6000,3000)\tOW\tExact\t1\tDICOM\n"
    ranged = "(6000-6002,3000)\tox\tRanged\t1\tDICOM\n"
    path = dic(tmp_path, exact + ranged if exact_first else ranged + exact)
    tags = by_tag(import_dcmtk([path]))
    assert (tags[0x6000, 0x3000, None].keyword, tags[0x6002, 0x3000, None].keyword) == (
        "Exact", "Ranged",
    )  # fmt: skip


def test_dcmtk_creator_spellings_are_one_key(tmp_path):
    path = dic(
        tmp_path,
        '(2001,"Philips Imaging DD 001",01)\tFL\tFirst\t1\tPrivateTag\n'
        '(2001,"PHILIPS  IMAGING DD 001",01)\tFL\tSecond\t1\tPrivateTag\n',
    )
    result = import_dcmtk([path])
    assert [(e.creator, e.keyword) for e in result.entries] == [
        ("PHILIPS  IMAGING DD 001", "Second")
    ]
    assert len(result.skipped) == 1 and "shadowed by" in result.skipped[0].reason


@pytest.mark.parametrize(
    "tag, limit, kept",
    [
        ("(6000-6006,0010)", 4, 4),
        ("(6000-6006,0010)", 3, 0),
        ("(0009-o-FFFF,0000)", 256, 0),
        ("(0000-u-FFFF,0000)", 256, 0),
        ("(5000-50FF,0005)", 256, 128),
    ],
)
def test_dcmtk_expansion_limit(tmp_path, tag, limit, kept):
    result = import_dcmtk([dic(tmp_path, f"{tag}\tUL\tLength\t1\tGENERIC\n")], max_expansion=limit)
    assert len(result.entries) == kept
    assert len(result.skipped) == (0 if kept else 1)
    if not kept:
        assert "more than" in result.skipped[0].reason and tag in result.skipped[0].reason


def test_dcmtk_source_name(tmp_path):
    result = import_dcmtk([dic(tmp_path, "(0010,0010)\tPN\tKw\t1\tDICOM\n")], source="site")
    assert (result.source, result.entries[0].sources) == ("site", ("site",))


# ---------------------------------------------------------------------------------------------
# pydicom


def tables(public=None, repeaters=None, private=None):
    return Tables(public or {}, repeaters or {}, private or {})


def test_pydicom_public_entry():
    result = import_pydicom(
        tables(public={0x00100010: ("PN", "1", "Patient's Name", "", "PatientName")})
    )
    assert result.entries == [
        Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN", None, "VM 1", False, False,
              ("pydicom",))
    ]  # fmt: skip


@pytest.mark.parametrize(
    "row, vr, retired, description",
    [
        (("US or SS", "1", "N", "", "K"), "??", False, "VM 1; VR US or SS"),
        (("OB or OW", "1", "N", "Retired", "K"), "??", True, "VM 1; VR OB or OW"),
        (("NONE", "1", "Item", "", "Item"), "??", False, "VM 1; VR NONE"),
        (("OB_OW", "1", "N", "", "K"), "??", False, "VM 1; VR OB_OW"),
        (("FD", "1", "N", "Retired", "K"), "FD", True, "VM 1"),
        (("UV", "1-n", "N", "RETIRED", "K"), "UV", True, "VM 1-n"),
        (("", "", "N", "", "K"), "??", False, ""),
    ],
)
def test_pydicom_vr_and_retired(row, vr, retired, description):
    [entry] = import_pydicom(tables(public={0x00280106: row})).entries
    assert (entry.vr, entry.retired, entry.description) == (vr, retired, description)


@pytest.mark.parametrize(
    "mask, tags",
    [
        ("60xx3000", [(g, 0x3000) for g in range(0x6000, 0x6100, 2)]),
        ("002804x0", [(0x0028, e) for e in range(0x0400, 0x0500, 0x10)]),
        ("002031xx", [(0x0020, e) for e in range(0x3100, 0x3200)]),
    ],
)
def test_pydicom_repeaters_expand(mask, tags):
    result = import_pydicom(tables(repeaters={mask: ("US", "1", "Name", "", "Kw")}))
    assert [(e.group, e.element) for e in result.entries] == tags
    assert all(e.keyword == "Kw" and e.creator is None for e in result.entries)
    assert {e.description for e in result.entries} == {f"VM 1; mask {mask}"}


@pytest.mark.parametrize(
    "mask, public, where",
    [
        ("1000xxx0", {}, (0x1000, 0x0000)),
        ("1010xxxx", {}, (0x1010, 0x0000)),
        # The first tags are exact entries already: the mask takes the first free one.
        ("1010xxxx", {0x10100000: ("US", "1", "A", "", "A"), 0x10100001: ("US", "1", "B", "", "B")},
         (0x1010, 0x0002)),
    ],
)  # fmt: skip
def test_pydicom_repeaters_too_wide_are_one_entry(mask, public, where):
    row = ("US", "3", "Name", "Retired", "Kw")
    result = import_pydicom(tables(public=public, repeaters={mask: row}))
    tags = by_tag(result)
    assert len(tags) == len(public) + 1
    entry = tags[(*where, None)]
    assert (entry.keyword, entry.description, entry.retired) == ("Kw", f"VM 3; mask {mask}", True)
    assert result.skipped == []


def test_pydicom_exact_tag_beats_repeater():
    result = import_pydicom(
        tables(
            public={0x7FE00010: ("OB or OW", "1", "Pixel Data", "", "PixelData")},
            repeaters={"7Fxx0010": ("OB or OW", "1", "Variable Pixel Data", "Retired", "Var")},
        )
    )
    tags = by_tag(result)
    assert tags[0x7FE0, 0x0010, None].keyword == "PixelData"
    assert tags[0x7F00, 0x0010, None].keyword == "Var"
    assert len(tags) == 128


@pytest.mark.parametrize(
    "key, expected, mask",
    [
        ("0019xx0C", [(0x0019, 0x0C, True)], None),
        ("00291001", [(0x0029, 0x1001, False)], None),
        ("70xxxx04", [(g, 0x04, True) for g in range(0x7001, 0x7100, 2)], "70xxxx04"),
        ("7fxxxx0c", [(g, 0x0C, True) for g in range(0x7F01, 0x8000, 2)], "7Fxxxx0C"),
    ],
)
def test_pydicom_private_keys(key, expected, mask):
    result = import_pydicom(tables(private={"ACME 1": {key: ("DS", "1", "Thing", "")}}))
    assert [(e.group, e.element, e.block_offset) for e in result.entries] == expected
    assert {parse_description(e.description).mask for e in result.entries} == {mask}
    assert all((e.creator, e.name, e.keyword) == ("ACME 1", "Thing", "") for e in result.entries)


def test_pydicom_private_fixed_high_byte_is_skipped():
    result = import_pydicom(
        tables(private={"GEMS_ACQU_01": {"001910xx": ("LO", "1", "Creator", ""),
                                         "0019xx02": ("SL", "1", "Channel", "")}})
    )  # fmt: skip
    assert [(e.element, e.name) for e in result.entries] == [(0x02, "Channel")]
    assert "is not a block offset" in result.skipped[0].reason


def test_pydicom_first_creator_spelling_wins():
    result = import_pydicom(
        tables(private={"HOLOGIC": {"0011xx00": ("LO", "1", "Upper", "")},
                        "Hologic": {"0011xx00": ("LO", "1", "Mixed", "")}})
    )  # fmt: skip
    assert [(e.creator, e.name) for e in result.entries] == [("HOLOGIC", "Upper")]
    assert result.skipped[0].origin == "private_dictionaries['Hologic']['0011xx00']"


@pytest.mark.parametrize(
    "rows, expected",
    [
        # pydicom's lookup tries the "xx" key first; an element at or below 0xFF is a block offset
        ({"0029xx01": ("US", "1", "Block", ""), "00290001": ("UL", "1", "Exact", "")},
         ("Block", True)),
        ({"00290001": ("UL", "1", "Exact", ""), "0029xx01": ("US", "1", "Block", "")},
         ("Block", True)),
        ({"00290001": ("UL", "1", "Exact", "")}, ("Exact", True)),
        ({"00291001": ("UL", "1", "Full", "")}, ("Full", False)),
    ],
)  # fmt: skip
def test_pydicom_low_private_element_is_a_block_offset(rows, expected):
    [entry] = import_pydicom(tables(private={"X": rows})).entries
    assert (entry.name, entry.block_offset) == expected


@pytest.mark.parametrize(
    "t, message",
    [
        (tables(public={0x00100010: ("PN", "1", "Name", "")}), "expected a tuple of 5 str"),
        (tables(public={"00100010": ("PN", "1", "N", "", "K")}),
         "DicomDictionary: bad tag '00100010'"),
        (tables(public={0x00100010: ("PN", 1, "N", "", "K")}), "expected a tuple of 5 str"),
        (tables(repeaters={"60xx300": ("US", "1", "N", "", "K")}), "bad mask"),
        (tables(private={"": {"0019xx01": ("US", "1", "N", "")}}), "bad creator ''"),
        (tables(private={"X": {"0019yy01": ("US", "1", "N", "")}}), "bad key"),
        (tables(private={"X": {"0019xx01": ("US", "1", "N")}}), "expected a tuple of 4 str"),
    ],
)  # fmt: skip
def test_pydicom_malformed_tables(t, message):
    with pytest.raises(SourceError, match=message):
        import_pydicom(t)


def test_pydicom_source_name():
    result = import_pydicom(
        tables(public={0x00100010: ("PN", "1", "N", "", "K")}), source="pydicom-local"
    )
    assert result.entries[0].sources == ("pydicom-local",)
