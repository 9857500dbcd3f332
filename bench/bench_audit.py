"""Auditing a folder: `tagatlas explain --summary FOLDER` against pydicom, in files per second.

The folder holds pydicom's own test files (`pydicom.data.get_testdata_files()`, offline) and the
project's `examples/`, copied round after round until there are at least --files of them. Both
sides read every file and name every element, sequence items included, in the same process:

- tagatlas: the command line, `explain --summary FOLDER`, output discarded. It reads only what
  naming needs: values above a few kB stay in the file, only creator elements and sequences are
  decoded, and names come from the shared memory-mapped dictionary;
- pydicom: each file read with `dcmread` (DICOM JSON with `Dataset.from_json`), every element of
  `Dataset.iterall()` named with `pydicom.datadict.dictionary_description` or
  `private_dictionary_description` for a private element with its creator, as a script would.
  A file pydicom cannot read counts as done.

Each side runs --rounds times, in turns, after one untimed pass; the best round is kept. Prints
files per second for each and the ratio (tagatlas / pydicom; above 1 means tagatlas is faster).

Run: python bench/bench_audit.py [--files N] [--rounds N]  (needs the package and pydicom)
"""

from __future__ import annotations

import argparse
import contextlib
import io
import os
import pathlib
import shutil
import tempfile
import time
import warnings

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"


def sources() -> list[pathlib.Path]:
    from pydicom.data import get_testdata_files

    found = [pathlib.Path(p) for p in get_testdata_files()]
    if EXAMPLES.is_dir():
        found += sorted(p for p in EXAMPLES.iterdir() if p.is_file())
    return [p for p in found if p.is_file()]


def make_folder(root: pathlib.Path, count: int) -> int:
    files = sources()
    made, round_ = 0, 0
    while made < count:
        folder = root / f"copy{round_}"
        folder.mkdir()
        for i, path in enumerate(files):
            shutil.copyfile(path, folder / f"{i:04}_{path.name}")
            made += 1
        round_ += 1
    return made


def tagatlas_audit(folder: pathlib.Path) -> str:
    from tagatlas._cli import main

    out = io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(io.StringIO()):
        main(["explain", "--summary", str(folder)])
    return out.getvalue().splitlines()[-1]


def pydicom_audit(paths: list[pathlib.Path]) -> int:
    import pydicom
    from pydicom.datadict import dictionary_description, private_dictionary_description

    named = 0
    for path in paths:
        try:
            if path.suffix == ".json":
                data_sets = [pydicom.Dataset.from_json(path.read_text())]
            else:
                data_sets = [pydicom.dcmread(path, force=True)]
            for ds in data_sets:
                for elem in ds.iterall():
                    tag = elem.tag
                    try:
                        if tag.is_private and elem.private_creator:
                            private_dictionary_description(tag, elem.private_creator)
                        else:
                            dictionary_description(tag)
                    except KeyError:
                        pass
                    named += 1
        except Exception:  # noqa: BLE001  a file pydicom cannot read is done
            pass
    return named


def best(run, rounds: int) -> float:
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    warnings.simplefilter("ignore")  # pydicom warns about its own damaged test files
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        count = make_folder(root, args.files)
        paths = sorted(p for p in root.rglob("*") if p.is_file())
        counts = tagatlas_audit(root)  # untimed passes: imports, the dictionary mapped
        pydicom_audit(paths)
        ours = theirs = float("inf")
        for _ in range(args.rounds):  # in turns, so that drift in the machine hits both
            ours = min(ours, best(lambda: tagatlas_audit(root), 1))
            theirs = min(theirs, best(lambda: pydicom_audit(paths), 1))
    print(f"folder: {count} files ({len(sources())} distinct); tagatlas {counts}")
    print(f"tagatlas explain --summary: {count / ours:8.1f} files/s ({ours:.3f} s)")
    print(f"pydicom dcmread + names:    {count / theirs:8.1f} files/s ({theirs:.3f} s)")
    print(f"ratio tagatlas / pydicom:   {theirs / ours:8.2f}x files per second")


if __name__ == "__main__":
    main()
