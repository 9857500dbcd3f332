"""Compares two runs of pydicom's suite: as it is, and with tagatlas answering.

Usage: compare.py AS_IS.json WITH_TAGATLAS.json DIFFERENCES.txt

Prints each run's counts and time. Fails (exit 1) when a test that passed as it is does not pass
with tagatlas, unless DIFFERENCES.txt lists it with its reason. Listed tests that pass in both
runs are named, so the list can be kept short.
"""

from __future__ import annotations

import collections
import json
import sys

KINDS = ("passed", "failed", "skipped", "error")


def read_run(path: str, tagatlas: bool) -> tuple[dict[str, str], float]:
    with open(path, encoding="utf-8") as f:
        run = json.load(f)
    if run["tagatlas"] is not tagatlas:
        source = "tagatlas" if run["tagatlas"] else "its own tables"
        raise SystemExit(f"{path}: pydicom answered from {source}")
    return run["outcomes"], run["seconds"]


def read_differences(path: str) -> dict[str, str]:
    """test id -> reason, from lines "tests/test_x.py::TestY::test_z: reason"; "#" comments."""
    listed = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            test, sep, reason = line.partition(": ")
            if not sep or not reason.strip():
                raise SystemExit(f"{path}:{number}: expected 'test id: reason', got {line!r}")
            listed[test.strip()] = reason.strip()
    return listed


def summary(label: str, outcomes: dict[str, str], seconds: float) -> str:
    counts = collections.Counter(outcomes.values())
    parts = ", ".join(f"{counts[k]} {k}" for k in KINDS)
    return f"pydicom suite, {label}: {parts} ({len(outcomes)} tests) in {seconds:.1f} s"


def main(argv: list[str]) -> int:
    before, before_s = read_run(argv[1], False)
    after, after_s = read_run(argv[2], True)
    listed = read_differences(argv[3])
    print(summary("pydicom's own dictionary", before, before_s))
    print(summary("tagatlas answering (install_in_pydicom)", after, after_s))
    lost = sorted(t for t, o in before.items() if o == "passed" and after.get(t) != "passed")
    unlisted = [t for t in lost if t not in listed]
    for test in lost:
        if test in listed:
            print(f"  allowed: {test} ({after.get(test, 'not run')}): {listed[test]}")
    gained = sorted(t for t, o in after.items() if o == "passed" and before.get(t) != "passed")
    for test in gained:
        print(f"  passes only with tagatlas: {test}")
    for test in sorted(set(listed) - set(lost)):
        print(f"  listed but not different (remove it from the list?): {test}")
    if not before or not after:
        print("a run recorded no tests")
        return 1
    for test in unlisted:
        print(f"  FAILS ONLY WITH TAGATLAS ({after.get(test, 'not run')}): {test}")
    if unlisted:
        print(f"{len(unlisted)} test(s) pass with pydicom's dictionary and not with tagatlas's")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
