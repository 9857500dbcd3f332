"""Several threads using one Dict, and opening files, at the same time."""

import gc
import os
import pathlib
import queue
import random
import sys
import threading

import pytest

import tagatlas
import tatl_layout as layout
from tagatlas.writer import Entry

ENTRIES = [Entry(g, e, f"K{g:04X}{e:04X}", vr="US", sources=(f"s{e}",))
           for g in range(0x0010, 0x0030, 2) for e in range(0x0001, 0x0101)]  # fmt: skip
PRIVATE = [Entry(0x0029, e, f"P{e:02X}", creator=f"Vendor {e % 7}", block_offset=True)
           for e in range(0x10, 0x100)]  # fmt: skip


def run_threads(count, target):
    barrier = threading.Barrier(count)
    errors = []

    def run(n):
        barrier.wait()
        try:
            target(n)
        except BaseException as e:  # reported below, in the test's own thread
            errors.append(e)

    threads = [threading.Thread(target=run, args=(n,)) for n in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


def test_concurrent_lookups_on_one_dict(write_dict):
    d = tagatlas.open(write_dict(ENTRIES + PRIVATE))

    def work(n):
        for i, entry in enumerate(ENTRIES[n::8]):
            result = d.lookup(entry.group, entry.element)
            assert result["keyword"] == entry.keyword
            assert result["sources"] == list(entry.sources)
            assert d.lookup(entry.group, entry.element + 0x1000) is None
            private = PRIVATE[(i + n) % len(PRIVATE)]
            found = d.lookup(0x0029, private.element, private.creator.lower())
            assert found["keyword"] == private.keyword and found["creator"] == private.creator

    run_threads(8, work)


def test_concurrent_opens_and_deallocation(write_dict, held):
    path = write_dict(ENTRIES)

    def work(n):
        for _ in range(20):
            d = tagatlas.open(path)
            assert len(d) == len(ENTRIES)
            assert d.lookup(0x0010, n + 1)["keyword"] == f"K0010{n + 1:04X}"
            del d

    run_threads(6, work)
    assert held(path) == (0, 0)


# Mixed lookups and open/deallocation races. The interpreter is made to switch threads far more
# often than its default 5 ms, so that calls of different threads interleave as much as they can.

SWITCH_INTERVAL = 1e-5


@pytest.fixture
def fast_switching():
    previous = sys.getswitchinterval()
    sys.setswitchinterval(SWITCH_INTERVAL)
    yield
    sys.setswitchinterval(previous)


INDEX_FAULT = (0x0010, 0x0001)  # its index entry names no record
RANGE_FAULT = (0x0012, 0x0005)  # its description runs past the string pool


def damage(data):
    layout.patch_index(data, layout.record_position(data, *INDEX_FAULT), record_index=len(ENTRIES + PRIVATE))
    layout.patch_record(data, layout.record_position(data, *RANGE_FAULT), description_offset=0,
                        description_len=layout.pool_len(data) + 1)  # fmt: skip


def creator_variants(creator):
    spaced = creator.replace(" ", "\n ")
    return [creator, creator.lower(), creator.upper(), f"  {creator}\t", spaced]


def mixed_queries():
    """(group, element, creator) triples in a fixed shuffled order: public and private hits (the
    creator spelled in several ways), misses, both kinds of fault and argument errors."""
    rng = random.Random(5)
    queries = [(e.group, e.element, None) for e in ENTRIES[::9] if (e.group, e.element) not in
               (INDEX_FAULT, RANGE_FAULT)]  # fmt: skip
    queries += [(0x0029, p.element, rng.choice(creator_variants(p.creator))) for p in PRIVATE]
    queries += [(e.group, e.element + 0x1000, None) for e in ENTRIES[::97]]
    queries += [(0x0029, p.element, None) for p in PRIVATE[::11]]  # private without its creator
    queries += [(0x0029, p.element, "Vendor 9") for p in PRIVATE[::11]]
    queries += [(*INDEX_FAULT, None), (*RANGE_FAULT, None)] * 20
    queries += [(-1, 0, None), (0x0010, 0x0002, b"Vendor 1"), (0x0010, "2", None)] * 10
    rng.shuffle(queries)
    return queries


def outcome(d, query):
    try:
        return d.lookup(*query)
    except BaseException as e:  # PanicException included
        return type(e), e.args, getattr(e, "__notes__", None)


@pytest.mark.parametrize("shared", [True, False], ids=["one Dict", "a Dict per thread"])
def test_mixed_lookups_match_a_single_threaded_run(write_dict, fast_switching, shared):
    path = write_dict(ENTRIES + PRIVATE, edit=damage)
    queries = mixed_queries()
    single = tagatlas.open(path)
    expected = [outcome(single, q) for q in queries]
    kinds = {r[0].__name__ if isinstance(r, tuple) else type(r).__name__ for r in expected}
    assert kinds == {"dict", "NoneType", "PanicException", "OverflowError", "TypeError"}

    threads = 8
    if shared:
        dicts = [tagatlas.open(path)] * threads
    else:
        dicts = [tagatlas.open(path) for _ in range(threads)]
    results = [None] * threads

    def work(n):
        # Each thread starts at a different place, so different kinds of call run side by side.
        start = n * len(queries) // threads
        order = queries[start:] + queries[:start]
        results[n] = [outcome(dicts[n], q) for q in order * 3]

    run_threads(threads, work)
    for n in range(threads):
        start = n * len(queries) // threads
        assert results[n] == (expected[start:] + expected[:start]) * 3


def descriptors():
    gc.collect()  # a Dict kept only by a reference cycle still holds its descriptor
    return len(os.listdir("/proc/self/fd"))


def file_mappings():
    """Lines of /proc/self/maps that map a file (thread stacks, anonymous, come and go)."""
    lines = pathlib.Path("/proc/self/maps").read_bytes().splitlines()
    return [line for line in lines if line.split(maxsplit=5)[4] != b"0"]


@pytest.mark.skipif(not os.path.exists("/proc/self/maps"), reason="counts are read from /proc")
def test_open_lookup_and_drop_race(write_dict, held, fast_switching):
    path = write_dict(ENTRIES + PRIVATE, edit=damage)
    unusable = write_dict(ENTRIES, edit=lambda data: data.extend(b"\0\0"))
    before = descriptors(), file_mappings()
    handoff = queue.Queue()

    def work(n):
        kept = []  # each thread keeps a few Dicts for a while, so they die at different ages
        for i in range(150):
            d = tagatlas.open(path)
            assert len(d) == len(ENTRIES + PRIVATE)
            assert d.lookup(0x0010, 0x0002)["keyword"] == "K00100002"
            kept.append(d)
            if len(kept) > n % 4:
                kept.pop(0)
            # The Dict goes to whichever thread takes it next, which uses it and drops it.
            handoff.put(d)
            del d
            other = handoff.get()
            private = PRIVATE[i]
            found = other.lookup(0x0029, private.element, private.creator.upper())
            assert found["keyword"] == private.keyword
            if i % 10 == n % 10:
                with pytest.raises(tagatlas.PanicException):
                    other.lookup(*INDEX_FAULT)
            del other
            with pytest.raises(OSError):
                tagatlas.open(unusable)

    run_threads(8, work)
    assert handoff.empty()
    assert held(path) == (0, 0)
    assert held(unusable) == (0, 0)
    assert (descriptors(), file_mappings()) == before
