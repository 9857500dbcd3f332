"""Reading every entry of a dictionary at once (`tagatlas.table.read_table`), in fresh processes.

Prints, for the bundled dictionary (or `--dict FILE`), the median time of:

- keys and keywords: `import tagatlas.table`, `read_table()`, then its groups, elements, creator
  hashes and keywords (goal: at most 30 ms);
- every field: the same, then every other column (goal: at most 100 ms);

each against its goal as a ratio (below 1 is within the goal), the time of `import tagatlas`
plus `open_default()` measured in the same processes, for scale, and the private (anonymous)
memory that `open_default()` (or `tagatlas.open(FILE)`) adds over a bare `import tagatlas`
(RssAnon on Linux; goal: at most 128 KiB; the mapped file's pages are shared, not counted).

Run: python bench/bench_table.py [--runs N] [--dict FILE]
"""

from __future__ import annotations

import argparse
import statistics
import subprocess
import sys

CODE = """
import time
t0 = time.perf_counter()
import tagatlas.table as table
t = table.read_table({path!r})
t.groups, t.elements, t.creator_hashes, t.keywords
t1 = time.perf_counter()
for column in ("key_groups", "key_elements", "names", "descriptions", "creators", "sources",
               "vrs", "retired", "block_offset"):
    getattr(t, column)
t2 = time.perf_counter()
print(t1 - t0, t2 - t0, len(t))
"""

OPEN = """
import time
t0 = time.perf_counter()
import tagatlas
d = tagatlas.open_default() if {path!r} is None else tagatlas.open({path!r})
print(time.perf_counter() - t0)
"""


# Private memory in KiB before and after opening, in one process: the file is mapped, not copied.
MEMORY = """
import tagatlas

def anon():
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("RssAnon:"))

before = anon()
d = tagatlas.open_default() if {path!r} is None else tagatlas.open({path!r})
print(anon() - before)
"""
MEMORY_GOAL_KIB = 128


def run(code: str) -> list[float]:
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return [float(x) for x in out.stdout.split()]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=21, help="fresh processes per measure")
    parser.add_argument("--dict", default=None, help="dictionary file (default: the bundled one)")
    args = parser.parse_args()

    keys, every, opens = [], [], []
    entries = 0
    for _ in range(args.runs):  # interleaved, so a burst of load hits both measures alike
        k, e, entries = run(CODE.format(path=args.dict))
        keys.append(k)
        every.append(e)
        opens.append(run(OPEN.format(path=args.dict))[0])
    print(f"dictionary: {args.dict or 'bundled'}, {int(entries)} entries, {args.runs} runs each\n")
    for label, times, goal in (("keys and keywords", keys, 0.030), ("every field", every, 0.100)):
        median = statistics.median(times)
        print(f"{label:<20} {median * 1e3:7.1f} ms  (goal {goal * 1e3:.0f} ms, "
              f"ratio {median / goal:.2f}x, fastest {min(times) * 1e3:.1f} ms)")  # fmt: skip
    print(f"{'import + open':<20} {statistics.median(opens) * 1e3:7.1f} ms  (for scale)")
    try:
        added = [run(MEMORY.format(path=args.dict))[0] for _ in range(min(args.runs, 7))]
    except (subprocess.CalledProcessError, StopIteration):
        print(f"{'open: private memory':<20} unknown (no RssAnon in /proc/self/status)")
        return
    median = statistics.median(added)
    print(f"{'open: private memory':<20} {median:7.0f} KiB (goal {MEMORY_GOAL_KIB} KiB, "
          f"ratio {median / MEMORY_GOAL_KIB:.2f}x, most {max(added):.0f} KiB)")


if __name__ == "__main__":
    main()
