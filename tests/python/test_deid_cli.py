"""The de-identification facts on the command line: lookup's deid line, explain --deid."""

import json
import pathlib

import pytest

from conftest import run_cli as run
from tagatlas.writer import Entry, write

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
SAMPLES = [EXAMPLES / "sample.dcm", EXAMPLES / "sample.json"]

# (path, action) of the sample's elements, with retain-safe-private; the file meta (group 0002)
# is only in the DICOM file.
SAFE_ACTIONS = {
    "0008,0016": None,
    "0008,0020": "Z",
    "0008,1140": "X/Z/U*",
    "0008,1140[0].0008,1155": "U",
    "0010,0010": "Z",
    "0010,0040": "Z",
    "0019,0010": "K",
    "0019,1002": "X",
    "0019,1023": "K",
    "0029,0010": "X",
    "0029,1001": "X",
}


def _json_rows(capsys, *argv):
    status, out, _ = run(capsys, "explain", *argv, "--json")
    assert status == 0
    return {row["path"]: row["deid"] for row in json.loads(out)}


@pytest.mark.parametrize("sample", SAMPLES, ids=lambda p: p.suffix)
def test_explain_deid_on_the_samples(capsys, sample):
    if sample.suffix == ".dcm":
        pytest.importorskip("pydicom")
    actions = _json_rows(capsys, sample, "--deid-option", "retain-safe-private")
    assert {path: actions[path] for path in SAFE_ACTIONS} == SAFE_ACTIONS
    basic = _json_rows(capsys, sample, "--deid")
    assert (basic["0019,0010"], basic["0019,1023"]) == ("X", "X")
    status, out, _ = run(capsys, "explain", sample, "--deid", "--deid-option",
                         "retain-safe-private", "--deid-option", "retain-patient-characteristics")  # fmt: skip
    assert status == 0
    lines = out.splitlines()
    header = lines[0].split()
    assert header[-1] == "DEID"
    sex = next(line for line in lines if line.startswith("0010,0040"))
    assert sex.split()[-1] == "K"
    *_, by_action, private, creators = lines
    assert by_action.startswith("deid (Basic Profile with retain-patient-characteristics, "
                                "retain-safe-private): ")  # fmt: skip
    assert private == "private elements: 2 kept as safe, 3 removed"
    assert creators == "creators not known: 'ACME Imaging 1.0'"


@pytest.mark.parametrize(
    "options, words",
    [(["bogus"], "unknown"),
     (["retain-longitudinal-full-dates", "retain-longitudinal-modified-dates"], "169")],
)  # fmt: skip
def test_explain_refuses_options(capsys, options, words):
    argv = [x for name in options for x in ("--deid-option", name)]
    status, out, err = run(capsys, "explain", SAMPLES[1], "--deid", *argv)
    assert (status, out) == (2, "")
    assert words in err and "Traceback" not in err


@pytest.mark.parametrize(
    "argv, line, value",
    [
        (["0010,0040"], "Z (retain-patient-characteristics: K)",
         {"basic": "Z", "options": {"retain-patient-characteristics": "K"}}),
        (["0019,1023", "--creator", "gems_acqu_01"], "X (retain-safe-private: K)",
         {"basic": "X", "options": {"retain-safe-private": "K"}}),
        (["0019,1002", "--creator", "GEMS_ACQU_01"], "X", {"basic": "X", "options": {}}),
        (["0008,0016"], "not listed (kept)", {"basic": None, "options": {}}),
    ],
)  # fmt: skip
def test_lookup_deid(capsys, argv, line, value):
    status, out, _ = run(capsys, "lookup", *argv)
    assert status == 0
    assert f"deid:         {line}\n" in out
    status, out, _ = run(capsys, "lookup", *argv, "--json")
    assert json.loads(out)["deid"] == value


def test_a_dictionary_without_facts(capsys, tmp_path):
    path = tmp_path / "plain.tatl"
    write(path, [Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN")])
    status, out, _ = run(capsys, "lookup", "0010,0010", "--dict", path)
    assert status == 0 and "deid:         unknown\n" in out
    _, out, _ = run(capsys, "lookup", "0010,0010", "--dict", path, "--json")
    assert json.loads(out)["deid"] is None
    _, out, _ = run(capsys, "explain", SAMPLES[1], "--deid", "--dict", path)
    assert out.splitlines()[-1] == "deid: the dictionary carries no de-identification facts"
    assert set(_json_rows(capsys, SAMPLES[1], "--deid", "--dict", path).values()) == {None}


def test_build_deid(capsys, tmp_path):
    source = tmp_path / "site.dic"
    source.write_text('(0010,0010)\tPN\tPatientName\t1\tDICOM\n'
                      '(0019,"GEMS_ACQU_01",23)\tDS\tTableSpeed\t1\tprivate\n')  # fmt: skip
    for flags, facts in [([], False), (["--deid"], True)]:
        out_path = tmp_path / f"site{len(flags)}.tatl"
        status, out, err = run(capsys, "build", "-o", out_path, "--dcmtk", source, *flags)
        assert status == 0, err
        assert ("deid facts" in out) == facts
        _, out, _ = run(capsys, "lookup", "0010,0010", "--dict", out_path)
        assert ("deid:         Z\n" in out) == facts
