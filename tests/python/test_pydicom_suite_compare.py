"""The verdict on pydicom's suite run twice (tests/pydicom_suite/compare.py)."""

import json
import pathlib
import subprocess
import sys

import pytest

COMPARE = pathlib.Path(__file__).resolve().parents[1] / "pydicom_suite" / "compare.py"
LISTED = "tests/test_a.py::test_listed: the newer registry names it\n"


@pytest.mark.parametrize(
    "as_is, with_tagatlas, status",
    [
        ({"t::same": "passed"}, {"t::same": "passed"}, 0),
        ({"t::lost": "passed"}, {"t::lost": "failed"}, 1),
        ({"t::lost": "passed"}, {}, 1),  # not run with tagatlas
        ({"t::lost": "passed"}, {"t::lost": "skipped"}, 1),
        ({"tests/test_a.py::test_listed": "passed"}, {"tests/test_a.py::test_listed": "error"}, 0),
        ({"t::fails": "failed"}, {"t::fails": "error"}, 0),  # failed as is already
        ({"t::gained": "failed"}, {"t::gained": "passed"}, 0),
        ({}, {}, 1),  # a run without tests
    ],
)  # fmt: skip
def test_verdict(tmp_path, as_is, with_tagatlas, status):
    paths = []
    for name, outcomes, tagatlas in (("a", as_is, False), ("b", with_tagatlas, True)):
        path = tmp_path / f"{name}.json"
        path.write_text(json.dumps({"seconds": 1.0, "tagatlas": tagatlas, "outcomes": outcomes}))
        paths.append(path)
    listed = tmp_path / "differences.txt"
    listed.write_text("# comment\n\n" + LISTED)
    run = subprocess.run([sys.executable, COMPARE, *paths, listed], capture_output=True,
                         text=True, timeout=60)  # fmt: skip
    assert run.returncode == status, run.stdout + run.stderr
    assert "pydicom suite, tagatlas answering" in run.stdout


def test_a_run_without_tagatlas_answering_is_refused(tmp_path):
    path = tmp_path / "run.json"
    path.write_text(json.dumps({"seconds": 1.0, "tagatlas": False, "outcomes": {"t": "passed"}}))
    listed = tmp_path / "differences.txt"
    listed.write_text("")
    run = subprocess.run([sys.executable, COMPARE, path, path, listed], capture_output=True,
                         text=True, timeout=60)  # fmt: skip
    assert run.returncode == 1 and "its own tables" in run.stderr
