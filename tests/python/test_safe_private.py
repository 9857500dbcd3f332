"""The reader of PS3.15's safe private attributes table, on the vendored document and on small ones."""

import pathlib

import pytest

from tagatlas.importers.result import SourceError
from tagatlas.importers.safe_private import HEADINGS, SafePrivate, read_safe_private

PART15 = pathlib.Path(__file__).parents[2] / "tools" / "sources" / "ps3.15-2026c" / "part15.xml"


def test_vendored_table_reads_every_row():
    rows = read_safe_private(PART15)
    assert len(rows) == 479
    assert rows[0] == SafePrivate(
        0x7053, 0x00, True, "Philips PET Private Group", "DS", "1",
        "SUV Factor - Multiplying Stored Pixel Values by Rescale Slope then this factor results in"
        " SUVbw in g/l",
    )  # fmt: skip
    assert sum(r.vr == "" for r in rows) == 5
    assert sum(r.vr == "OW/OB" for r in rows) == 2
    assert all(r.block_offset and r.element <= 0xFF for r in rows)


def doc(tmp_path, rows, headings=HEADINGS, table_id="table_E.3.10-1"):
    def tr(tag, cells):
        return "<tr>" + "".join(f"<{tag}><para>{c}</para></{tag}>" for c in cells) + "</tr>"

    body = "".join(tr("td", r) for r in rows)
    text = (
        '<book xmlns="http://docbook.org/ns/docbook" xmlns:xml="http://www.w3.org/XML/1998/namespace">'
        f'<table xml:id="{table_id}"><thead>{tr("th", headings) if headings else ""}</thead>'
        f"<tbody>{body}</tbody></table></book>"
    )
    path = tmp_path / "part15.xml"
    path.write_text(text, encoding="utf-8")
    return path


ROW = ("(0019,xx0A)", "ACME 1", "OW/OB", "1", "Thing - long text")


@pytest.mark.parametrize(
    "cells, expected",
    [
        (ROW, SafePrivate(0x19, 0x0A, True, "ACME 1", "OW/OB", "1", "Thing - long text")),
        (("(0019,10ab)", "ACME 1", "", "1-n", "  Spread\n  out "),
         SafePrivate(0x19, 0x10AB, False, "ACME 1", "", "1-n", "Spread out")),
    ],
)  # fmt: skip
def test_row_forms(tmp_path, cells, expected):
    assert read_safe_private(doc(tmp_path, [cells])) == [expected]


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"rows": [ROW], "table_id": "table_E.1-1"}, "no table"),
        ({"rows": [ROW], "headings": ()}, "data row before the headings"),
        ({"rows": [ROW], "headings": HEADINGS[:4] + ("Notes",)}, "headings"),
        ({"rows": [ROW[:4]]}, "4 cells"),
        ({"rows": [ROW + ("extra",)]}, "6 cells"),
        ({"rows": [("(0019,xxZZ)",) + ROW[1:]]}, "data element"),
        ({"rows": [("0019,xx0A",) + ROW[1:]]}, "data element"),
        ({"rows": [(ROW[0], "") + ROW[2:]]}, "no private creator"),
    ],
)
def test_unreadable_tables_are_refused(tmp_path, kwargs, message):
    with pytest.raises(SourceError, match=message):
        read_safe_private(doc(tmp_path, **kwargs))
