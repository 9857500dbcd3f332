"""pytest plugin: writes each test's outcome and the run's duration to the JSON file named by
PYDICOM_SUITE_OUTCOMES, for `compare.py`, and whether pydicom answered from tagatlas at the end.

A test's outcome is "error" when its setup or teardown failed, else that of its call ("passed",
"failed", "skipped"; an expected failure counts as skipped, as pytest counts it).
"""

import json
import os
import time

_outcomes: dict[str, str] = {}
_start = time.perf_counter()


def pytest_runtest_logreport(report) -> None:
    if report.failed:
        outcome = "failed" if report.when == "call" else "error"
    elif report.skipped:
        outcome = "skipped"
    elif report.when == "call":
        outcome = "passed"
    else:
        return
    if _outcomes.get(report.nodeid) not in ("failed", "error"):
        _outcomes[report.nodeid] = outcome


def pytest_sessionfinish(session) -> None:
    import pydicom.datadict

    tagatlas = pydicom.datadict.get_entry.__module__ == "tagatlas.datadict"
    run = {"seconds": time.perf_counter() - _start, "tagatlas": tagatlas, "outcomes": _outcomes}
    with open(os.environ["PYDICOM_SUITE_OUTCOMES"], "w", encoding="utf-8") as f:
        json.dump(run, f)
