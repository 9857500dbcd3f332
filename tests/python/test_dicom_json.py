"""Naming the data elements of DICOM JSON, and what `explain` does with input it cannot read."""

import io
import json
import sys

import pytest

from explain_dict import dict_path  # noqa: F401 (a fixture)
from tagatlas._cli import main
from tagatlas._dicom.dicom_json import DicomJsonError, occurrences
from tagatlas.explain import ExplainError, explain
from conftest import run_cli as run


def el(vr, *values):
    return {"vr": vr, "Value": list(values)} if values else {"vr": vr}


STUDY = {
    "00100010": el("PN", {"Alphabetic": "Doe^Jane"}),
    "00190000": el("UL", 40),
    "00190010": el("LO", "ACME 1.0"),
    "00190011": el("LO", "other co"),
    "0019100C": el("DS", 1.5),
    "00191121": el("SS", 4),  # OTHER CO says US
    "00081115": el("SQ", {
        "00081140": el("SQ", {}, {"00081150": el("UI", "1.2.3")}),
        "00190010": el("LO", "OTHER CO"),
        "00191021": el("US", 7),
        "00191022": el("US", 8),
    }),
    "00211005": el("CS", "X"),
    "00283002": el("US", 256, 0, 16),
    "60043000": {"vr": "OB", "InlineBinary": "AAA="},
    "10000125": el("US", 1, 2, 3),  # (1000,xxx5) is no entry of the mask 1000xxx0
}  # fmt: skip


def test_one_data_set(dict_path):
    rows = {r.path: r for r in explain(STUDY, dict_path)}
    assert list(rows) == [
        "0008,1115", "0008,1115[0].0008,1140", "0008,1115[0].0008,1140[1].0008,1150",
        "0008,1115[0].0019,0010", "0008,1115[0].0019,1021", "0008,1115[0].0019,1022",
        "0010,0010", "0019,0000", "0019,0010", "0019,0011", "0019,100C", "0019,1121",
        "0021,1005", "0028,3002", "1000,0125", "6004,3000",
    ]  # fmt: skip
    named = {p: (r.keyword, r.creator, r.unknown) for p, r in rows.items()}
    assert named["0008,1115[0].0019,1021"] == ("OtherValue", "OTHER CO", None)
    assert named["0008,1115[0].0019,1022"] == ("", "OTHER CO", "element")
    assert named["0019,0000"] == ("GroupLength", None, None)
    assert named["0019,0011"] == ("PrivateCreator", "other co", None)
    assert named["0019,1121"] == ("OtherValue", "other co", None)
    assert named["0021,1005"] == ("", None, "no creator")
    assert named["1000,0125"] == ("", None, "tag")
    # JSON states every VR: a disagreement is flagged, a VR of a choice is not.
    differs = {p for p, r in rows.items() if r.vr_differs}
    assert differs == {"0019,1121"}
    assert (rows["6004,3000"].vr, rows["6004,3000"].dictionary_vr) == ("OB", "OB or OW")
    assert rows["0019,0000"].dictionary_vr == "UL" and rows["0019,0000"].match == "rule"


def test_dicomweb_array_prefixes_the_data_set_index(dict_path):
    doc = [{"00100010": el("PN")}, {}, {"00100010": el("LO"), "00190010": el("LO", "ACME 1.0"),
                                       "00191010": el("US", 1)}]  # fmt: skip
    rows = explain(doc, dict_path)
    assert [(r.path, r.keyword, r.vr_differs) for r in rows] == [
        ("[0].0010,0010", "PatientName", False),
        ("[2].0010,0010", "PatientName", True),
        ("[2].0019,0010", "PrivateCreator", False),
        ("[2].0019,1010", "AcmeWrongSlot", False),
    ]


def test_creator_of_one_item_is_not_the_next_items(dict_path):
    first = {"00190010": el("LO", "ACME 1.0"), "0019100C": el("DS", 1)}
    doc = {"00081115": el("SQ", first, {"0019100C": el("DS", 2)}, first),
           "0019100C": el("DS", 3)}  # fmt: skip
    rows = {r.path: (r.creator, r.unknown) for r in explain(doc, dict_path)}
    assert rows["0008,1115[0].0019,100C"] == ("ACME 1.0", None)
    assert rows["0008,1115[1].0019,100C"] == (None, "no creator")
    assert rows["0008,1115[2].0019,100C"] == ("ACME 1.0", None)
    assert rows["0019,100C"] == (None, "no creator")  # nor the data set's around them


def test_element_at_the_start_of_a_block_has_its_creator(dict_path):
    doc = {"00190010": el("LO", "ACME 1.0"), "00191000": el("US", 1), "00190FFF": el("US", 1)}
    rows = {r.tag: r for r in explain(doc, dict_path)}
    assert (rows["0019,1000"].creator, rows["0019,1000"].unknown) == ("ACME 1.0", "element")
    assert (rows["0019,0FFF"].creator, rows["0019,0FFF"].unknown) == (None, "tag")


def test_creator_element_without_value_names_no_creator():
    doc = {"00190010": el("LO"), "00190011": el("LO", "  "), "00191001": el("US", 1),
           "00191101": el("US", 1)}  # fmt: skip
    assert [o.creator for o in occurrences(doc)] == [None, None, None, None]


@pytest.mark.parametrize(
    "doc, message",
    [
        ("text", "expected a data set (an object) or an array of data sets, not a string"),
        ([{}, 3], "[1]: a data set must be an object, not a number"),
        ({"0010001": el("PN")}, "the data set: key '0010001' is not a tag (8 hex digits)"),
        ({"00100010": "Doe"}, "0010,0010: an element must be an object, not a string"),
        ({"00100010": {"vr": "pn"}}, "0010,0010: vr 'pn' is not two capital letters"),
        ({"00100010": {"vr": "PNX"}}, "0010,0010: vr 'PNX' is not two capital letters"),
        ({"00100010": {"vr": "P"}}, "0010,0010: vr 'P' is not two capital letters"),
        ({"00100010": {"vr": "PN\n"}}, "0010,0010: vr 'PN\\n' is not two capital letters"),
        ({"00081115": {"vr": "SQ", "Value": {}}},
         "0008,1115: the Value of a sequence must be an array"),
        ({"00081115": el("SQ", None)}, "0008,1115[0]: an item must be an object, not null"),
        ([{"00081115": el("SQ", {"x": 1})}], "[0].0008,1115[0]: key 'x' is not a tag"),
    ],
)  # fmt: skip
def test_misshapen_documents(doc, message):
    with pytest.raises(DicomJsonError) as info:
        list(occurrences(doc))
    assert str(info.value).startswith(message)


def test_pydicom_json_test_file_without_pydicom(monkeypatch):
    pydicom_data = pytest.importorskip("pydicom.data")
    path = pydicom_data.get_testdata_file("test1.json")
    monkeypatch.setitem(sys.modules, "pydicom", None)  # JSON needs no pydicom
    rows = {r.path: r for r in explain(path)}
    assert rows["0019,109E"].creator == "GEMS_ACQU_01"
    assert rows["0019,109E"].keyword == "InternalPulseSequenceName"
    assert rows["0010,0010"].keyword == "PatientName" and rows["0010,0010"].vr == "PN"


# ---------------------------------------------------------------------------------------------
# files and the command line


def test_cli_json_file(capsys, tmp_path, dict_path):
    path = tmp_path / "study.json"
    path.write_text("\ufeff \n" + json.dumps([STUDY, STUDY]), encoding="utf-8")
    status, out, err = run(capsys, "explain", path, "--dict", dict_path, "--json")
    assert (status, err) == (0, "")
    rows = json.loads(out)
    assert len(rows) == 2 * 16 and rows[16]["path"] == "[1].0008,1115"
    row = next(r for r in rows if r["path"] == "[0].0019,100C")
    assert {k: row[k] for k in ("tag", "creator", "keyword", "vr", "dictionary_vr")} == {
        "tag": "0019,100C", "creator": "ACME 1.0", "keyword": "AcmeLength", "vr": "DS",
        "dictionary_vr": "DS"}  # fmt: skip
    public = next(r for r in rows if r["path"] == "[0].0010,0010")
    assert public["creator"] is None and public["retired"] is False
    assert next(r for r in rows if r["path"] == "[0].1000,0125")["dictionary_vr"] is None


@pytest.mark.parametrize(
    "content, message",
    [
        (b"hello, world\n", "{path}: neither a DICOM file (no 'DICM' marker after a 128-byte "
                            "preamble) nor DICOM JSON"),
        (b"", "{path}: neither a DICOM file"),
        (b"{\"00100010\": ", "{path}: not valid JSON: "),
        (b"[1, 2]", "{path}: not DICOM JSON: [0]: a data set must be an object, not a number"),
        (b"{\"00100010\": {\"vr\": \"PN\"}}" + b"\xff", "{path}: not valid JSON: "),
    ],
)  # fmt: skip
def test_cli_input_that_is_not_dicom(capsys, tmp_path, content, message):
    path = tmp_path / "input"
    path.write_bytes(content)
    with pytest.raises(ExplainError):
        explain(path)
    status, out, err = run(capsys, "explain", path)
    assert (status, out) == (2, "")
    assert err.startswith("tagatlas: error: " + message.format(path=path))
    assert err.count("\n") == 1


@pytest.mark.parametrize("make", ["missing", "dangling link"])
def test_cli_unreadable_input(capsys, tmp_path, make):
    path = tmp_path / "x"
    if make == "dangling link":
        path.symlink_to(tmp_path / "nowhere")
    status, out, err = run(capsys, "explain", path)
    assert (status, out) == (2, "")
    assert err.startswith(f"tagatlas: error: cannot read {path}: ") and err.count("\n") == 1


def test_cli_dictionary_that_does_not_open(capsys, tmp_path):
    path = tmp_path / "d.json"
    path.write_text("{}")
    missing = tmp_path / "absent.tatl"
    status, out, err = run(capsys, "explain", path, "--dict", missing)
    assert (status, out) == (2, "")
    assert err.startswith(f"tagatlas: error: cannot open {missing}: ") and err.count("\n") == 1
    assert "No such file or directory" in err
    garbage = tmp_path / "garbage.tatl"
    garbage.write_bytes(b"NOPE" + bytes(60))
    status, _, err = run(capsys, "explain", path, "--dict", garbage)
    assert status == 2 and err.startswith(f"tagatlas: error: cannot open {garbage}: ")


def test_cli_text_the_terminal_cannot_hold(capsys, tmp_path, dict_path, monkeypatch):
    doc = {"00190010": el("LO", "Ärzte\x1b[31m"), "00191001": el("US", 1)}
    path = tmp_path / "d.json"
    path.write_text(json.dumps(doc))
    for args, check in [([], "\\xc4rzte\\x1b[31m"), (["--json"], "\\u00c4rzte\\u001b[31m")]:
        stream = io.TextIOWrapper(io.BytesIO(), encoding="ascii")
        monkeypatch.setattr(sys, "stdout", stream)
        assert main(["explain", str(path), "--dict", str(dict_path), *args]) == 0
        stream.flush()
        out = stream.buffer.getvalue().decode("ascii")
        assert check in out and "\x1b" not in out
    assert json.loads(out)[0]["creator"] == "Ärzte\x1b[31m"  # nothing lost in JSON


def test_cli_lone_surrogate_in_utf8_output(capsys, tmp_path, dict_path):
    path = tmp_path / "d.json"
    path.write_text('{"00190010": {"vr": "LO", "Value": ["A\\ud800"]}}')
    status, out, _ = run(capsys, "explain", path, "--dict", dict_path)
    assert status == 0 and "A\\ud800" in out
    status, out, _ = run(capsys, "explain", path, "--dict", dict_path, "--json")
    assert status == 0 and json.loads(out)[0]["creator"] == "A\ud800"
