"""A dictionary file rewritten in place while a Dict has it open (another process writing into it,
never truncating it) changes answers but never crashes the process: len() stays the count found
at opening, and every lookup returns a dict, None or raises PanicException. Each case runs in a
child process, so that a crash fails the test instead of ending the suite."""

import json
import os
import pathlib
import subprocess
import sys

from tagatlas.writer import Entry, write

TESTS = pathlib.Path(__file__).parent

ENTRIES = (
    [Entry(0x0008, e, f"Public{e}", f"Public {e}", "LO", description="d" * (e % 7),
           sources=("dicom",) * (e % 3)) for e in range(200)]
    + [Entry(0x0019, e % 0x100, f"Private{e}", f"Private {e}", "US", creator=f"ACME {e // 0x100}",
             block_offset=True) for e in range(150)]
)  # fmt: skip

CHILD = """
import collections, json, os, random, sys
path, tests, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
sys.path.insert(0, tests)
import tagatlas
import tatl_layout as layout

rng = random.Random(20240607)
original = open(path, "rb").read()
root, index_at, index_count, records_at, record_count, pool_at, pool_len = layout.root(original)
regions = {"root": (root, 24), "index": (index_at, 12 * index_count),
           "records": (records_at, 44 * record_count), "pool": (pool_at, pool_len),
           "beyond the end": (len(original), 64)}
queries = [(0x0008, e, None) for e in range(0, 220, 3)] + [
    (0x0019, e, f"acme {c}") for c in range(2) for e in range(0, 0x100, 7)] + [
    (0x0019, 5, None), (0x0008, 5, "ACME 0"), (0xFFFF, 0xFFFF, None)]

d = tagatlas.open(path)
n = len(d)
seen = collections.Counter()
fd = os.open(path, os.O_WRONLY)
for _ in range(rounds):
    if rng.random() < 0.1:
        # Back to the original content and size, never shorter than the mapping.
        os.pwrite(fd, original, 0)
        os.ftruncate(fd, len(original))
    for _ in range(rng.randint(1, 3)):
        region = rng.choice(list(regions))
        start, length = regions[region]
        # A write at the end of a region may run past the end of the file and make it longer.
        os.pwrite(fd, rng.randbytes(rng.randint(1, 32)), start + rng.randrange(length))
        seen["writes to " + region] += 1
    assert len(d) == n, (len(d), n)
    for query in rng.sample(queries, 40):
        try:
            result = d.lookup(*query)
        except tagatlas.PanicException:
            seen["PanicException"] += 1
            continue
        assert result is None or type(result) is dict, repr(result)
        seen[type(result).__name__] += 1
os.close(fd)
print(json.dumps(seen))
"""


def test_rewrites_between_lookups_never_crash(tmp_path):
    path = tmp_path / "changing.tatl"
    write(path, ENTRIES)
    done = subprocess.run([sys.executable, "-c", CHILD, str(path), str(TESTS), "1000"],
                          capture_output=True, text=True, timeout=600)  # fmt: skip
    assert done.returncode == 0, f"exit status {done.returncode}: {done.stderr[-2000:]}"
    seen = json.loads(done.stdout)
    # Every kind of damage was made, and every kind of answer was met.
    assert {k for k in seen if k.startswith("writes to ")} == {
        "writes to root", "writes to index", "writes to records", "writes to pool",
        "writes to beyond the end"}  # fmt: skip
    assert seen["dict"] and seen["NoneType"] and seen["PanicException"]


# Flips the pool of the file given between the variants given (hex), until its parent ends.
WRITER = """
import os, sys
path, at, variants = sys.argv[1], int(sys.argv[2]), [bytes.fromhex(v) for v in sys.argv[3:]]
fd = os.open(path, os.O_WRONLY)
parent = os.getppid()
print("writing", flush=True)
while os.getppid() == parent:
    for variant in variants:
        os.pwrite(fd, variant, at)
"""

CHILD_DURING = r"""
import collections, json, subprocess, sys
path, tests, writer_code, least = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
sys.path.insert(0, tests)
import tagatlas
import tatl_layout as layout

data = open(path, "rb").read()
pool_at, pool_len = layout.root(data)[5:7]
pool = data[pool_at : pool_at + pool_len]
# The sources text read as 4 pieces, as 1, and as 3 with a non-ASCII first piece.
variants = [pool, pool.replace(b"a|b|c|d", b"abcdefg"), pool.replace(b"a|b|c|d", "\u00e9b|c|d".encode())]
assert len({len(v) for v in variants}) == 1 and len(set(variants)) == 3

d = tagatlas.open(path)
writer = subprocess.Popen([sys.executable, "-c", writer_code, path, str(pool_at),
                           *(v.hex() for v in variants)], stdout=subprocess.PIPE, text=True)
seen = collections.Counter()
try:
    assert writer.stdout.readline() == "writing\n"
    lookups = 0
    # Until every variant, and some mixtures of two, have been met, within a bound.
    while lookups < 5_000_000 and (lookups < least or len(seen) < 4):
        lookups += 1
        try:
            result = d.lookup(0x0008, lookups % 50)
        except tagatlas.PanicException:
            seen["PanicException"] += 1
            continue
        pieces = result["sources"]
        # A read across a change may give any pieces, or none (bad UTF-8), but never an empty
        # slot or a broken str: one of the ASCII kind holding other bytes fails the round trip.
        assert all(type(p) is str and p.encode().decode() == p for p in pieces), repr(pieces)
        seen[len(pieces)] += 1
finally:
    writer.kill()
    writer.wait()
print(json.dumps(seen))
"""


def test_rewrites_during_lookups_never_crash(tmp_path):
    path = tmp_path / "changing.tatl"
    write(path, [Entry(0x0008, e, f"Tag{e}", f"Tag {e}", "LO", sources=("a", "b", "c", "d"))
                 for e in range(50)])  # fmt: skip
    done = subprocess.run([sys.executable, "-c", CHILD_DURING, str(path), str(TESTS), WRITER,
                           "200000"], capture_output=True, text=True, timeout=600)  # fmt: skip
    assert done.returncode == 0, f"exit status {done.returncode}: {done.stderr[-2000:]}"
    seen = json.loads(done.stdout)
    # Lists of 4, 1 and 3 pieces, and at least one read across a change.
    assert {"4", "1", "3"} <= set(seen) and len(seen) >= 4, seen
