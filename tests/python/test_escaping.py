"""Texts of dictionaries and DICOM data reach the terminal with their control characters, and the
bidirectional controls that reorder what is shown, written as escapes."""

import json

import pytest

from conftest import run_cli
from tagatlas.writer import Entry

# ESC (a title change, a colour), BEL, CR and LF (a faked line), right-to-left override, isolate.
HOSTILE = ["\x1b]0;owned\x07", "\x07", "\r", "\n", "\u202e", "\u2067", "\u200f"]
RAW = set("\x1b\x07\r\u202e\u2067\u200f")


def shown(out: str) -> set[str]:
    return RAW & set(out)


@pytest.mark.parametrize("text", HOSTILE, ids=repr)
@pytest.mark.parametrize("field", ["keyword", "name", "creator"])
def test_lookup_escapes_what_the_dictionary_holds(capsys, write_dict, text, field):
    values = {"keyword": "Kw", "name": "Name", "creator": "ACME"}
    values[field] += text
    entry = Entry(0x0029, 0x0010, values["keyword"], values["name"], "LO",
                  creator=values["creator"], block_offset=True)  # fmt: skip
    status, out, err = run_cli(capsys, "lookup", "0029,1010", "--creator", values["creator"],
                               "--dict", write_dict([entry]))  # fmt: skip
    assert (status, err) == (0, "")
    plain = Entry(0x0029, 0x0010, "Kw", "Name", "LO", creator="ACME", block_offset=True)
    lines = run_cli(capsys, "lookup", "0029,1010", "--creator", "ACME",
                    "--dict", write_dict([plain]))[1].count("\n")  # fmt: skip
    assert shown(out) == set() and out.count("\n") == lines  # no line of its own
    assert repr(text)[1:-1] in out


@pytest.mark.parametrize("text", HOSTILE, ids=repr)
def test_search_escapes_what_the_dictionary_holds(capsys, write_dict, text):
    path = write_dict([Entry(0x0010, 0x0010, "PatientName", f"Patient{text}Name", "PN")])
    status, out, err = run_cli(capsys, "search", "patient", "--dict", path)
    assert (status, err) == (0, "")
    assert shown(out) == set() and out.count("\n") == 2
    assert repr(text)[1:-1] in out


@pytest.mark.parametrize("text", HOSTILE, ids=repr)
def test_explain_escapes_a_creator_of_the_data(capsys, tmp_path, text):
    path = tmp_path / "data.json"
    path.write_text(json.dumps({"00090010": {"vr": "LO", "Value": [f"AB{text}C"]},
                                "00091001": {"vr": "LO", "Value": ["x"]}}))  # fmt: skip
    status, out, err = run_cli(capsys, "explain", path)
    assert (status, err) == (0, "")
    assert shown(out) == set() and out.count("\n") == 3
    assert repr(text)[1:-1] in out
