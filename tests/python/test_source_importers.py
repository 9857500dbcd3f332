"""The importers of PS3.6 tags.ts, GDCM's table, dicom3tools' .tpl, TCIA's CSV and E.3.10-1 rows,
on small inputs made here and on the vendored files, and the vendored files' recorded digests."""

import hashlib
import pathlib
import re

import pytest

from tagatlas.description import parse_description
from tagatlas.importers.dicom3tools import import_dicom3tools
from tagatlas.importers.gdcm import import_gdcm
from tagatlas.importers.ps3_15 import import_ps3_15, name_of
from tagatlas.importers.ps3_6 import import_ps3_6, read_rows
from tagatlas.importers.result import SourceError
from tagatlas.importers.sources import SOURCES, default_files
from tagatlas.importers.tcia import import_tcia

SOURCES_DIR = pathlib.Path(__file__).parents[2] / "tools" / "sources"


def write(tmp_path, name, text):
    path = tmp_path / name
    path.write_text(text, encoding="utf-8")
    return path


def facts(entry):
    d = parse_description(entry.description)
    return (entry.vr, d.vr, d.vm, d.mask)


TS_HEAD = "// generated\nexport const TAGS: { readonly [tag: string]: DictionaryEntry } = {\n"
TS_ROW = ('  "{tag}": {{ tag: "{tag}", keyword: "{kw}", name: "{name}", vr: [{vr}] as const, '
          'vm: "{vm}", retired: {ret}{rep} }},\n')  # fmt: skip


def ts_row(tag, kw="K", name="N", vr='"US"', vm="1", ret="false", rep=""):
    return TS_ROW.format(tag=tag, kw=kw, name=name, vr=vr, vm=vm, ret=ret, rep=rep)


@pytest.mark.parametrize(
    "row, tag, expected",
    [
        (ts_row("00100010", "PatientName", "Patient's Name", '"PN"'), (0x10, 0x10),
         ("PatientName", "Patient's Name", "PN", None, "1", None, False)),
        (ts_row("00281200", vr='"US", "SS", "OW"', vm="1-n or 1", ret="true"), (0x28, 0x1200),
         ("K", "N", "??", "US or SS or OW", "1-n or 1", None, True)),
        (ts_row("00080202", "", "", "", "", "true"), (0x08, 0x0202),
         ("", "", "??", "NONE", "", None, True)),
        (ts_row("50xx200a", rep=", repeatingGroup: true as const"), (0x5002, 0x200A),
         ("K", "N", "US", None, "1", "50xx200A", False)),
    ],
)  # fmt: skip
def test_ps3_6_rows(tmp_path, row, tag, expected):
    path = write(tmp_path, "tags.ts", TS_HEAD + row + "};\n")
    entries = {(e.group, e.element): e for e in import_ps3_6([path]).entries}
    e = entries[tag]
    d = parse_description(e.description)
    assert (e.keyword, e.name, e.vr, d.vr, d.vm, d.mask, e.retired) == expected


@pytest.mark.parametrize(
    "text, message",
    [
        (TS_HEAD + '  "0010": { tag: "0010" },\n};\n', "not a registry row"),
        (TS_HEAD + ts_row("00100010", vr='"P"'), "bad VR list"),
        (TS_HEAD + ts_row("00100010"), "does not end"),
        ("const X = {\n};\n", "no 'export const TAGS"),
    ],
)
def test_ps3_6_refuses_what_it_cannot_read(tmp_path, text, message):
    with pytest.raises(SourceError, match=message):
        import_ps3_6([write(tmp_path, "tags.ts", text)])


GDCM = """
static const DICT_ENTRY DICOMV3DataDict [] = {
  {0x0019,0x0018,"EPI Private Header",VR::IS,VM::VM1,"?",false },
  // {0x0019,0x0019,"EPI Private Header",VR::IS,VM::VM1,"Commented",false },
  /* {0x0019,0x001a,"EPI Private Header",VR::IS,VM::VM1,"Block comment",false },
  */
  {0x0029,0x0089,"PMTF INFORMATION DATA",VR::US_SS,VM::VM2_2n,"?MRImage?",false }, // a note
  {0x0029,0x0090,"PMTF INFORMATION DATA",VR::OB,VM::VM1_n,"Reversed \\"EVRLE\\"",true },
  {0xffff,0xffff,"GDCM Private Sentinel",VR::INVALID,VM::VM0,"",true },
  {0xffff,0xffff,"",VR::INVALID,VM::VM0,nullptr,true }
};
"""


def test_gdcm_table(tmp_path):
    result = import_gdcm([write(tmp_path, "g.cxx", GDCM)])
    got = [(e.group, e.element, e.creator, e.name, facts(e), e.retired, e.block_offset)
           for e in result.entries]  # fmt: skip
    assert got == [
        (0x19, 0x18, "EPI Private Header", "?", ("IS", None, "1", None), False, True),
        (0x29, 0x89, "PMTF INFORMATION DATA", "?MRImage?", ("??", "US or SS", "2-2n", None),
         False, True),
        (0x29, 0x90, "PMTF INFORMATION DATA", 'Reversed "EVRLE"', ("OB", None, "1-n", None),
         True, True),
    ]  # fmt: skip


@pytest.mark.parametrize(
    "text, message",
    [
        ("int x;", "no DICOMV3DataDict array"),
        ("DICOMV3DataDict [] = {\n  {0x0019,0x0018,\"C\",VR::IS,VM::VM1,\"?\"},\n};", "6 fields"),
        ("DICOMV3DataDict [] = {\n  {0x0019,0x0018,\"C\",VR::IS,VM::X,\"?\",false},\n};", "bad VM"),
        ("DICOMV3DataDict [] = {\n  {0x0019,0x0018,\"C\",VR::IS,VM::VM1,\"?\",false},\n",
         "does not end"),
    ],
)  # fmt: skip
def test_gdcm_refuses_what_it_cannot_read(tmp_path, text, message):
    with pytest.raises(SourceError, match=message):
        import_gdcm([write(tmp_path, "g.cxx", text)])


TPL = (
    '(0019,0010) VERS="GEM"\tVR="LO"   VM="1"\tOwner="GEMS_ACQU_01"\tKeyword="A"\tName="Alpha"\n'
    '(0025,0034) VERS="GEM"\tVR="IS" VM="1"\tOwner="GEMS_DL_FRAME_01"\tKeyword="Edge"\tName=Edge"\n'
    '(0015,0092) VERS="GEM"\tVR="FL" VM="1"\tOwner="GEMS_DL_STUDY_01"\tKeyword="?"\tName="?\n'
    '(0019,0000) VERS="PSPI"\tVR="DS" VM="1"\tOwner="PHILIPS MR/PART"\tKeyword="FieldOfView"'
    '\tName="Field of View"\tPrivateBlock="0010"\n'
    '(0019,0000) VERS="PSPI"\tVR="IS" VM="1"\tOwner="PHILIPS MR/PART"\tKeyword="NumberOfStacks"'
    '\tName="Number of Stacks"\tPrivateBlock="0011"\n'
    '(60xx,0001) VERS="GEM"\tVR="US" VM="3"\tOwner="DLX_LKUP_01"\tKeyword="D"\tName="Desc"\n'
    '(2001,0010) VERS="RET"\tVR="OW/OB" VM="1"\tOwner="Philips"\tKeyword="P"\tName="Pix"\n'
    '(0010,0010) VERS="3"\tVR="PN" VM="1"\tKeyword="PatientName"\tName="Patient\'s Name"\n'
)  # fmt: skip


def test_dicom3tools_lines(tmp_path):
    result = import_dicom3tools([write(tmp_path, "x.tpl", TPL)])
    got = {(e.group, e.element, e.creator): (e.keyword, e.name, facts(e), e.retired)
           for e in result.entries}  # fmt: skip
    assert got[0x19, 0x10, "GEMS_ACQU_01"] == ("A", "Alpha", ("LO", None, "1", None), False)
    assert got[0x25, 0x34, "GEMS_DL_FRAME_01"][1] == "Edge"  # missing opening quote
    assert got[0x15, 0x92, "GEMS_DL_STUDY_01"][:2] == ("?", "?")  # missing closing quote
    assert got[0x19, 0x1000, "PHILIPS MR/PART"][1] == "Field of View"
    assert got[0x19, 0x1100, "PHILIPS MR/PART"][1] == "Number of Stacks"
    assert got[0x2001, 0x10, "Philips"][2:] == (("??", "OB or OW", "1", None), True)
    masked = [k for k in got if k[2] == "DLX_LKUP_01"]
    assert len(masked) == 128 and all(g % 2 == 1 for g, _, _ in masked)
    assert got[0x6001, 0x01, "DLX_LKUP_01"][2] == ("US", None, "3", "60xxxx01")
    assert all(e.block_offset == (e.element <= 0xFF) for e in result.entries)
    assert [s.reason for s in result.skipped] == ["public line (PS3.6 is the public registry)"]


CSV = (
    "Group,Element,Private Creator,VR,VM,Meaning,Rtn. Safe Priv. Opt.,"
    "IsInDICOMRetainSafePrivateTags,TCIA element_sig_pattern\n"
    '0009,xx01,GEIIS_RA1000,CS,,Referenced Series Sequence:Referenced Image Sequence:Unknown,'
    'keep,False,"(0009,xx01)"\n'
    "2001,xxc1,Philips Imaging DD 001,LO,1,Nested Object Type Name,keep,True,x\n"
    "0010,xx10,Public,PN,1,Patient's Name,keep,True,x\n"
)


def test_tcia_rows(tmp_path):
    result = import_tcia([write(tmp_path, "t.csv", CSV)])
    got = [(e.group, e.element, e.creator, e.name, facts(e)) for e in result.entries]
    assert got == [
        (0x9, 0x01, "GEIIS_RA1000", "Unknown", ("CS", None, "", None)),
        (0x2001, 0xC1, "Philips Imaging DD 001", "Nested Object Type Name", ("LO", None, "1", None)),
    ]  # fmt: skip
    assert [s.reason for s in result.skipped] == ["(0010,xx10) is not private"]
    with pytest.raises(SourceError, match="no column 'Meaning'"):
        import_tcia([write(tmp_path, "bad.csv", "Group,Element,Private Creator,VR,VM\n")])


@pytest.mark.parametrize(
    "meaning, name",
    [
        ("SUV Factor - Multiplying Stored Pixel Values by Rescale Slope", "SUV Factor"),
        ("Acquisition Duration", "Acquisition Duration"),
        ("A - B - C", "A"),
        ("Pre-pulse Delay", "Pre-pulse Delay"),
    ],
)
def test_ps3_15_name_is_the_meaning_up_to_the_first_dash(meaning, name):
    assert name_of(meaning) == name


def test_ps3_15_rows_of_the_vendored_table():
    entries = import_ps3_15(default_files(SOURCES[1], SOURCES_DIR)).entries
    assert len(entries) == 479
    first = next(e for e in entries if (e.group, e.element) == (0x7053, 0x00))
    assert (first.name, facts(first)) == ("SUV Factor", ("DS", None, "1", None))
    assert parse_description(first.description).text.startswith("SUV Factor - Multiplying")
    assert sum(facts(e)[:2] == ("??", "OB or OW") for e in entries) == 2
    assert sum(facts(e)[:2] == ("??", None) for e in entries) == 5


def test_vendored_sources_read_whole():
    """Row counts of the vendored files, each read as the registry says."""
    counts = {s.name: len(s.load(default_files(s, SOURCES_DIR)).entries) for s in SOURCES
              if s.takes_files}  # fmt: skip
    assert len(read_rows(SOURCES_DIR / "ps3.6-2026c" / "tags.ts")) == 5309
    assert counts["ps3.15"] == 479
    assert counts["gdcm"] > 11_000 and counts["tcia"] > 2_400 and counts["dicom3tools"] > 10_000


def test_vendored_files_match_their_recorded_digests():
    readme = (SOURCES_DIR / "README.md").read_text(encoding="utf-8")
    recorded = dict(
        (path, digest) for digest, path in re.findall(r"^([0-9a-f]{64})  (\S+)$", readme, re.M)
    )  # fmt: skip
    on_disk = {p.relative_to(SOURCES_DIR).as_posix() for p in SOURCES_DIR.glob("*/*")}
    assert set(recorded) == on_disk
    for path, digest in recorded.items():
        assert hashlib.sha256((SOURCES_DIR / path).read_bytes()).hexdigest() == digest, path
    for source in SOURCES:
        if source.takes_files:
            assert default_files(source, SOURCES_DIR), source.name
