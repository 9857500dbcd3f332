"""Lookup speed against pydicom's dictionaries, on the same content.

Builds a `.tatl` file from pydicom's DicomDictionary and private dictionaries with the package's
writer, then prints per-call times and ratios (tagatlas / other; below 1 means tagatlas is faster):

- a public hit, `d.lookup(group, element)` against `pydicom.datadict.get_entry(tag)`;
- a private hit with its creator against `pydicom.datadict.get_private_entry(tag, creator)`;
- `d.lookup` against a plain Python function that returns the same ten-key dict from a Python dict,
  with new objects as a lookup does (see `python_lookup_function`);
- `tagatlas.open` against importing pydicom's dictionary modules, each in a fresh interpreter.

Run: python bench/bench_lookup.py [--rounds N] [--opens N]  (needs the package and pydicom installed)
"""

from __future__ import annotations

import argparse
import os
import random
import statistics
import subprocess
import sys
import tempfile
import timeit

import tagatlas
from tagatlas._format.creator import canonicalize_creator
from tagatlas._format.vr import normalize_vr
from tagatlas.writer import Entry, write


def pydicom_entries():
    """Entries for every concrete public tag and every private tag with a fixed group."""
    from pydicom._dicom_dict import DicomDictionary
    from pydicom._private_dict import private_dictionaries

    entries = []
    for tag, (vr, _vm, name, retired, keyword) in DicomDictionary.items():
        entries.append(Entry(tag >> 16, tag & 0xFFFF, keyword, name, normalize_vr(vr),
                             retired=retired == "Retired", sources=("pydicom",)))  # fmt: skip
    for creator, table in private_dictionaries.items():
        for key, (vr, _vm, name, retired) in table.items():
            group, element = key[:4], key[4:]
            block = element.startswith("xx")
            if "x" in group or "x" in (element[2:] if block else element):
                continue  # a range of groups or elements; the format keys on one tag
            entries.append(Entry(
                int(group, 16), int(element[2:] if block else element, 16), "", name,
                normalize_vr(vr), creator=creator, retired=retired == "Retired",
                block_offset=block, sources=("pydicom",),
            ))  # fmt: skip
    return entries


def per_call(sides, rounds):
    """Best time of one call in nanoseconds for each (function, arguments) side.

    The sides are measured in interleaved rounds, each round timing every side once over all its
    argument tuples and starting with the next side in turn, so that a stretch of machine noise
    falls on all of them alike; each side's best round is kept. Every timed pass follows an
    untimed one, so each side is measured warm, as in the C++ benchmark, however much the other
    sides evicted. Results are dropped as they come, as a caller that reads one result at a time
    would.
    """

    def runner(function, arguments):
        def run():
            for args in arguments:
                function(*args)

        return run

    runs = [runner(function, arguments) for function, arguments in sides]
    best = [float("inf")] * len(sides)
    for r in range(rounds):
        for k in range(len(sides)):
            i = (r + k) % len(sides)
            runs[i]()
            best[i] = min(best[i], timeit.timeit(runs[i], number=1))
    return [b / len(arguments) * 1e9 for b, (_, arguments) in zip(best, sides, strict=True)]


def python_lookup_function(entries):
    """The plain-Python equivalent: a dict keyed like the index, the ten-key dict built per call.

    To be a fair comparison it does the work a lookup must do: every call returns a new dict, a
    new list and a new str for every text, nothing shared with another result (as with a lookup,
    only the interpreter's own shared objects may recur: "", one-character texts, small ints,
    True and False). So the table keeps each text as UTF-8 bytes, as the file does, and every
    call decodes new strs from them. Returning the stored strs, or `str(x)` of them (which is the
    same object), would skip the work that dominates a lookup.
    """

    def utf8(text):
        return text.encode()

    table = {}
    for e in entries:
        key = (e.group, e.element, None if e.creator is None else canonicalize_creator(e.creator))
        # The first of entries with one key, as the dictionary is written (duplicates="first").
        table.setdefault(key, (e.group, e.element, utf8(e.creator or ""), utf8(e.keyword), utf8(e.name),
                      utf8(e.vr), utf8(e.description), e.retired, e.block_offset,
                      tuple(utf8(s) for s in e.sources)))  # fmt: skip

    def lookup(group, element, creator=None):
        key = (group, element, None if creator is None else canonicalize_creator(creator))
        r = table.get(key)
        if r is None:
            return None
        return {"group": r[0], "element": r[1], "creator": r[2].decode(), "keyword": r[3].decode(),
                "name": r[4].decode(), "vr": r[5].decode(), "description": r[6].decode(),
                "retired": r[7], "block_offset": r[8],
                "sources": [s.decode() for s in r[9]]}  # fmt: skip

    return lookup


def fresh_texts(lookup, query):
    """Whether two calls of `lookup` return distinct objects for every text longer than one."""
    first, second = lookup(*query), lookup(*query)
    texts = [k for k, v in first.items() if isinstance(v, str) and len(v) > 1]
    pieces = zip(first["sources"], second["sources"], strict=True)
    return (first["sources"] is not second["sources"]
            and all(first[k] is not second[k] for k in texts)
            and all(a is not b for a, b in pieces if len(a) > 1))  # fmt: skip


def fresh_interpreter_seconds(code, runs):
    """Median of the time `code` reports (it prints one float) over fresh interpreters."""
    times = []
    for _ in range(runs):
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                             check=True).stdout  # fmt: skip
        times.append(float(out))
    return statistics.median(times)


def report(label, ours, theirs, target=None):
    ratio = ours / theirs
    goal = f"  (target <= {target}x)" if target is not None else ""
    print(f"{label:<48} {ours:9.0f} ns vs {theirs:9.0f} ns   ratio {ratio:6.3f}x{goal}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=50,
                        help="interleaved timing rounds (each side's best is kept)")
    parser.add_argument("--opens", type=int, default=7,
                        help="fresh interpreters per open timing (the median is kept)")
    parser.add_argument("--sample", type=int, default=2000, help="tags per timing round")
    args = parser.parse_args()

    from pydicom import datadict
    from pydicom._dicom_dict import DicomDictionary
    from pydicom._private_dict import private_dictionaries

    entries = pydicom_entries()
    rng = random.Random(8)
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "pydicom.tatl")
        write(path, entries, duplicates="first")
        d = tagatlas.open(path)
        size = os.path.getsize(path)
        print(f"dictionary: {len(d)} entries ({len(DicomDictionary)} public), {size} bytes\n")

        public = rng.choices(list(DicomDictionary), k=args.sample)
        public_pairs = [(t >> 16, t & 0xFFFF) for t in public]
        private = []
        for creator, table in private_dictionaries.items():
            for key in table:
                if "x" not in key[:4] and key[4:6] == "xx" and "x" not in key[6:]:
                    group, low = int(key[:4], 16), int(key[6:], 16)
                    private.append((group, low, creator, (group << 16) | 0x1000 | low))
        private = rng.choices(private, k=args.sample)
        assert all(d.lookup(g, e) for g, e in public_pairs)
        assert all(d.lookup(g, e, c) for g, e, c, _ in private)

        private_queries = [(g, e, c) for g, e, c, _ in private]
        plain = python_lookup_function(entries)
        checked = public_pairs[:100] + private_queries[:100]
        assert all(plain(*q) == d.lookup(*q) for q in checked)
        assert all(fresh_texts(f, q) for f in (plain, d.lookup) for q in checked)

        ours, theirs, plain_ns, ours_p, theirs_p, plain_p = per_call([
            (d.lookup, public_pairs),
            (datadict.get_entry, [(t,) for t in public]),
            (plain, public_pairs),
            (d.lookup, private_queries),
            (datadict.get_private_entry, [(t, c) for _, _, c, t in private]),
            (plain, private_queries),
        ], args.rounds)  # fmt: skip
        report("public hit: lookup vs get_entry", ours, theirs, 0.8)
        report("private hit: lookup vs get_private_entry", ours_p, theirs_p, 0.3)
        report("public hit: lookup vs plain Python function", ours, plain_ns, 1.0)
        report("private hit: lookup vs plain Python function", ours_p, plain_p, 1.0)

        runs = args.opens
        timer = "import time; t = time.perf_counter(); {}; print(time.perf_counter() - t)"
        open_s = fresh_interpreter_seconds(
            "import tagatlas; " + timer.format(f"tagatlas.open({path!r})"), runs)
        import_open_s = fresh_interpreter_seconds(
            timer.format(f"import tagatlas; tagatlas.open({path!r})"), runs)
        pydicom_s = fresh_interpreter_seconds(
            timer.format("import pydicom._dicom_dict, pydicom._private_dict"), runs)
        print()
        report("open vs importing pydicom's dictionaries", open_s * 1e9, pydicom_s * 1e9)
        report("import tagatlas + open vs the same imports", import_open_s * 1e9, pydicom_s * 1e9)


if __name__ == "__main__":
    main()
