"""pydicom with tagatlas answering (`datadict.install_in_pydicom()`) against pydicom alone.

Each sample is a fresh interpreter that times, in order: `import pydicom`; then, in the tagatlas
runs only, `from tagatlas import datadict; datadict.install_in_pydicom()`; the first `dcmread`
of a small file from pydicom's own test data; `str(ds)` of it; and later `dcmread`s of the same
file (the best of several rounds). The two kinds of interpreter alternate. Start-up compares the
medians; a later `dcmread`, a steady state that other programs on the machine can only slow down,
compares the best interpreter of each kind. Printed ratios are tagatlas / pydicom alone (below 1
means faster), with their targets:

- start-up, from `import pydicom` to the first `str(ds)`, install included: at most 1.2x;
- a later `dcmread` of the same file: at most 1.05x.

One implicit-VR file (pydicom looks every VR up) and one explicit-VR file are read.

Run: python bench/bench_pydicom.py [--runs N]  (needs the package and pydicom)
"""

from __future__ import annotations

import argparse
import statistics
import subprocess
import sys

FILES = ("MR_small_implicit.dcm", "CT_small.dcm")
PHASES = ("import pydicom", "install_in_pydicom()", "first dcmread", "first str(ds)",
          "later dcmread")  # fmt: skip

SAMPLE = """
import time
clock = time.perf_counter
t0 = clock()
import pydicom
t1 = clock()
if {tagatlas}:
    from tagatlas import datadict
    datadict.install_in_pydicom()
t2 = clock()
from pydicom.data import get_testdata_file
path = get_testdata_file({file!r})
t3 = clock()
ds = pydicom.dcmread(path)
t4 = clock()
text = str(ds)
t5 = clock()
later = []
for _ in range(15):
    start = clock()
    for _ in range(10):
        pydicom.dcmread(path)
    later.append((clock() - start) / 10)
print(t1 - t0, t2 - t1, t4 - t3, t5 - t4, min(later))
"""


def sample(file: str, tagatlas: bool) -> list[float]:
    code = SAMPLE.format(file=file, tagatlas=tagatlas)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         check=True, timeout=600).stdout  # fmt: skip
    return [float(x) for x in out.split()]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=15, help="fresh interpreters of each kind")
    args = parser.parse_args()
    for file in FILES:
        runs = {False: [], True: []}
        for _ in range(args.runs):
            for tagatlas in (False, True):
                runs[tagatlas].append(sample(file, tagatlas))
        alone, ours = ([statistics.median(c) for c in zip(*runs[k])] for k in (False, True))
        print(f"{file}, medians of {args.runs} fresh interpreters each (ms):")
        print(f"  {'':<24} {'pydicom':>9} {'+tagatlas':>10}")
        for phase, a, o in zip(PHASES, alone, ours):
            print(f"  {phase:<24} {a * 1e3:9.2f} {o * 1e3:10.2f}")
        # Start-up: the medians of each run's sum, not the sum of the medians.
        start_alone = statistics.median(sum(r[:4]) for r in runs[False])
        start_ours = statistics.median(sum(r[:4]) for r in runs[True])
        print(f"  start-up to first str(ds): {start_ours * 1e3:.1f} ms vs {start_alone * 1e3:.1f}"
              f" ms, ratio {start_ours / start_alone:.3f}x (target: at most 1.2x)")
        later_alone = min(r[4] for r in runs[False])
        later_ours = min(r[4] for r in runs[True])
        print(f"  later dcmread, best: {later_ours * 1e6:.0f} us vs {later_alone * 1e6:.0f} us,"
              f" ratio {later_ours / later_alone:.3f}x (target: at most 1.05x)")


if __name__ == "__main__":
    main()
