"""Several threads using one Dict, and opening files, at the same time."""

import threading

import tagatlas
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
