"""tagatlas.datadict against pydicom.datadict: start-up, memory and repeated lookups.

Prints times measured in this run and ratios (tagatlas / pydicom; below 1 means tagatlas is
faster), each with its target:

- start-up: `import X.datadict` plus the first `tag_for_keyword` call, in fresh interpreters
  (median), and the memory the interpreter holds after it, above a bare one: private, and
  resident with shared file pages (Linux: read from /proc/self/status);
- `tag_for_keyword` once the keyword map is read;
- `get_entry` on public tags asked again and again (as ints and as pydicom's BaseTag);
- `get_private_entry` on private tags as files carry them, with their creators, asked again;
- for information, `get_entry` on tags asked for the first time (no cached answers).

Run: python bench/bench_datadict.py [--rounds N] [--runs N]  (needs the package and pydicom)
"""

from __future__ import annotations

import argparse
import random
import statistics
import subprocess
import sys
import timeit

# Memory is read from /proc/self/status: RssAnon, the private memory, and VmRSS, which also counts
# shared pages of files (libraries, the mapped dictionary). getrusage's maxrss is not used: it
# would also count the parent process the interpreter was forked from.
MEMORY = """
def memory():
    fields = dict(line.split(":", 1) for line in open("/proc/self/status"))
    return [int(fields[k].split()[0]) for k in ("RssAnon", "VmRSS")]
"""
START_UP = MEMORY + """
import time
t = time.perf_counter()
from {package} import datadict
datadict.tag_for_keyword("PatientName")
elapsed = time.perf_counter() - t
print(elapsed, *memory())
"""
BARE = MEMORY + "print(0, *memory())"


def fresh_interpreter(code, runs):
    """Medians of (seconds, private KiB, resident KiB) that `code` prints, in fresh interpreters."""
    samples = []
    for _ in range(runs):
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                             check=True).stdout.split()  # fmt: skip
        samples.append((float(out[0]), int(out[1]), int(out[2])))
    return [statistics.median(column) for column in zip(*samples)]


def per_call(function, arguments, rounds):
    """Best time of one call in nanoseconds over calls with each tuple of `arguments`."""

    def run():
        for args in arguments:
            function(*args)

    return min(timeit.repeat(run, number=1, repeat=rounds)) / len(arguments) * 1e9


def first_calls(function, arguments, reset, rounds):
    """Best time of one call when every call is the argument's first since `reset()`."""
    best = float("inf")
    for _ in range(rounds):
        reset()
        best = min(best, timeit.timeit(lambda: [function(*a) for a in arguments], number=1))
    return best / len(arguments) * 1e9


def report(label, ours, theirs, unit, target=None):
    goal = f"  (target <= {target}x)" if target is not None else ""
    print(f"{label:<44} {ours:9.1f} {unit} vs {theirs:9.1f} {unit}   ratio {ours / theirs:6.3f}x"
          f"{goal}")  # fmt: skip


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=7, help="timing repetitions (best is kept)")
    parser.add_argument("--runs", type=int, default=9, help="fresh interpreters per start-up")
    parser.add_argument("--sample", type=int, default=2000, help="arguments per timing round")
    args = parser.parse_args()

    _, bare_private, bare_rss = fresh_interpreter(BARE, args.runs)
    ours_s, ours_private, ours_rss = fresh_interpreter(
        START_UP.format(package="tagatlas"), args.runs
    )
    theirs_s, theirs_private, theirs_rss = fresh_interpreter(
        START_UP.format(package="pydicom"), args.runs
    )
    print(f"start-up, median of {args.runs} fresh interpreters:")
    report("import datadict + first tag_for_keyword", ours_s * 1e3, theirs_s * 1e3, "ms")
    print(f"{'':<44} target: at most 30 ms for tagatlas")
    report("private memory added (RssAnon)", (ours_private - bare_private) / 1024,
           (theirs_private - bare_private) / 1024, "MiB")  # fmt: skip
    report("resident memory added (VmRSS)", (ours_rss - bare_rss) / 1024,
           (theirs_rss - bare_rss) / 1024, "MiB")  # fmt: skip

    from pydicom import datadict as theirs
    from pydicom._private_dict import private_dictionaries
    from pydicom.tag import BaseTag

    from tagatlas import datadict as ours

    rng = random.Random(8)
    # Keywords both know: the bundled file follows a newer Standard, which renamed a few.
    known = [k for k in theirs.keyword_dict if k and ours.tag_for_keyword(k) is not None]
    keywords = [(k,) for k in rng.choices(known, k=args.sample)]
    public = rng.choices(list(theirs.DicomDictionary), k=args.sample)
    private = []
    for creator, table in private_dictionaries.items():
        for key in table:
            if "x" not in key[:4] and key[4:6] == "xx":
                private.append((int(key[:4], 16) << 16 | 0x1000 | int(key[6:], 16), creator))
    private = rng.choices(private, k=args.sample)
    for module in (ours, theirs):  # every answer exists, and the keyword maps are read
        assert all(module.tag_for_keyword(*k) for k in keywords)
        assert all(module.get_entry(t) for t in public)
        assert all(module.get_private_entry(t, c) for t, c in private)

    rounds = args.rounds
    print(f"\nrepeated calls, best of {rounds} rounds over {args.sample} arguments:")
    for label, name, arguments, target in [
        ("tag_for_keyword", "tag_for_keyword", keywords, 1.5),
        ("get_entry(int)", "get_entry", [(t,) for t in public], 1.0),
        ("get_entry(BaseTag)", "get_entry", [(BaseTag(t),) for t in public], 1.0),
        ("get_private_entry(tag, creator)", "get_private_entry", private, 0.5),
    ]:
        report(label, per_call(getattr(ours, name), arguments, rounds),
               per_call(getattr(theirs, name), arguments, rounds), "ns", target)  # fmt: skip

    print("\nfirst calls (no cached answers), for information:")
    fresh = list(dict.fromkeys(public))
    report("get_entry(int), each tag's first call",
           first_calls(ours.get_entry, [(t,) for t in fresh], ours.use, rounds),
           per_call(theirs.get_entry, [(t,) for t in fresh], rounds), "ns")  # fmt: skip


if __name__ == "__main__":
    main()
