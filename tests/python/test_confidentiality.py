"""Reading Table E.1-1 of PS3.15 from the DocBook: counts, rows against the document, shape checks."""

import json
import pathlib
import re

import pytest

from tagatlas.importers.confidentiality import OPTIONS, read_confidentiality, to_json
from tagatlas.importers.result import SourceError
from tagatlas.importers.safe_private import read_safe_private

REPO = pathlib.Path(__file__).resolve().parents[2]
DOC = REPO / "tools" / "sources" / "ps3.15-2026c" / "part15.xml"
PACKAGE_DATA = REPO / "python" / "tagatlas" / "data" / "deid.json"


@pytest.fixture(scope="module")
def doc_text():
    return DOC.read_text(encoding="utf-8")


@pytest.fixture(scope="module")
def table():
    return read_confidentiality(DOC)


def test_every_row_of_the_table_is_read(table, doc_text):
    # Counted a second way: the <tr> tags between the table's start and its end.
    start = doc_text.index('xml:id="table_E.1-1"')
    body = doc_text[start : doc_text.index("</table>", start)]
    counts = table.counts()
    assert table.header_rows == 1
    assert len(table.rows) == len(re.findall(r"<tr\b", body)) - 1 == 656
    assert (counts["exact"], counts["masks"], counts["private_rules"]) == (652, 3, 1)
    assert sum(counts["basic"].values()) == 656


# (tag, name, basic, options): at least one row for each option column, masks and the rule.
ROWS = [
    ("00100010", "Patient's Name", "Z", {}),
    ("00101010", "Patient's Age", "X", {"retain-patient-characteristics": "K"}),
    ("0020000D", "Study Instance UID", "U", {"retain-uids": "K"}),
    ("00181000", "Device Serial Number", "X/Z/D", {"retain-device-identity": "K"}),
    ("00080080", "Institution Name", "X/Z/D", {"retain-institution-identity": "K"}),
    ("00080020", "Study Date", "Z",
     {"retain-longitudinal-full-dates": "K", "retain-longitudinal-modified-dates": "C"}),
    ("00081030", "Study Description", "X", {"clean-descriptors": "C"}),
    ("0040A730", "Content Sequence", "D", {"clean-structured-content": "C"}),
    ("00700001", "Graphic Annotation Sequence", "D", {"clean-graphics": "C"}),
    ("00400555", "Acquisition Context Sequence", "X/Z", {"clean-structured-content": "C"}),
    ("60xx3000", "Overlay Data", "X", {"clean-graphics": "C"}),
    ("50xxxxxx", "Curve Data", "X", {"clean-graphics": "C"}),
    ("private", "Private Attributes", "X", {"retain-safe-private": "C"}),
]  # fmt: skip


@pytest.mark.parametrize("tag, name, basic, options", ROWS, ids=[r[1] for r in ROWS])
def test_rows_read_as_the_document_gives_them(table, tag, name, basic, options):
    row = table.by_tag[tag]
    assert (row.name, row.basic, row.options) == (name, basic, options)


def test_every_option_column_has_codes_of_the_code_table(table):
    used = {name: {r.options[name] for r in table.rows if name in r.options} for name in OPTIONS}
    assert all(used.values()), "an option column read empty"
    assert set().union(*used.values(), {r.basic for r in table.rows}) <= set(table.codes)
    assert "X/Z/U*" in {r.basic for r in table.rows}


def test_only_the_known_option_pairs_disagree(table):
    assert table.counts()["conflicts"] == {
        "retain-device-identity / retain-longitudinal-modified-dates": 11,
        "retain-longitudinal-full-dates / retain-longitudinal-modified-dates": 169,
    }


def test_package_data_is_the_documents_tables(table):
    safe = [(s.group, s.element, s.block_offset, s.creator) for s in read_safe_private(DOC)]
    text = to_json(table, safe, edition="PS3.15 2026c")
    assert PACKAGE_DATA.read_text(encoding="utf-8") == text
    assert len(json.loads(text)["safe_private"]) == 479


def _heading(text):
    return f"<emphasis role=\"bold\">{text}</emphasis>"


# (edit of the document's text, words of the error): shapes that must fail, not be misread.
BROKEN = [
    (lambda t: t.replace(_heading("Clean Desc. Opt."), _heading("Clean Graph. Opt."), 1),
     "headings"),
    (lambda t: t.replace(">X/Z/U*</para>", ">X/Z/Q</para>", 2), "no code of Table E.1-1a"),
    (lambda t: _in_table(t, "</tbody>", "</tbody><tfoot><tr><td/></tr></tfoot>"), "parts"),
    (lambda t: _in_table(t, 'colspan="1"', 'colspan="2"'), "spans"),
    (lambda t: t.replace(">(gggg,eeee) where gggg is odd<", ">(gggg,eeee)<"), "private rule"),
    (lambda t: _in_table(t, ">(0010,0010)<", ">(0010,0020)<"), "more than once"),
    # Patient's Name's first option cell is Retain Safe Private, empty in the document.
    (lambda t: _after(t, ">(0010,0010)<", '<td align="center" colspan="1" rowspan="1"/>',
                      '<td align="center" colspan="1" rowspan="1"><para>K</para></td>'),
     "beyond its rule"),
]  # fmt: skip


def _in_table(text, old, new):
    start = text.index('xml:id="table_E.1-1"')
    return text[:start] + text[start:].replace(old, new, 1)


def _after(text, anchor, old, new):
    at = text.index(anchor)
    return text[:at] + text[at:].replace(old, new, 1)


@pytest.mark.parametrize("edit, words", BROKEN, ids=[w for _, w in BROKEN])
def test_a_changed_shape_fails_the_read(tmp_path, doc_text, edit, words):
    changed = edit(doc_text)
    assert changed != doc_text
    path = tmp_path / "part15.xml"
    path.write_text(changed, encoding="utf-8")
    with pytest.raises(SourceError, match=words):
        read_confidentiality(path)


def test_a_new_disagreement_between_options_fails_the_read(tmp_path, doc_text):
    # Study Description: clean-descriptors says C; give Retain Institution Identity a K there.
    row = doc_text.index(">(0008,1030)<")
    empty = '<td align="center" colspan="1" rowspan="1"/>'
    cells = [m.start() for m in re.finditer(re.escape(empty), doc_text[row:])][:4]
    at = row + cells[3]  # the fourth empty cell after the tag: Retain Institution Identity
    changed = doc_text[:at] + empty.replace("/>", "><para>K</para></td>") + doc_text[at + len(empty):]
    path = tmp_path / "part15.xml"
    path.write_text(changed, encoding="utf-8")
    with pytest.raises(SourceError, match="now disagree"):
        read_confidentiality(path)
