"""Properties of the writer with the reader: whatever valid entries are written are found again,
nothing else is found, and every invalid entry is refused with an error naming it and its field."""

import os
import re
import string
import tempfile

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import tagatlas
from tagatlas._format.creator import hash_creator
from tagatlas._format.vr import VR_CODES, VR_TEXTS
from tagatlas.writer import Entry, encode, write
from tatl_layout import expected_result

# Exactly Unicode White_Space, written out apart from the writer's own set.
WHITE_SPACE = ("\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007"
               "\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000")  # fmt: skip
PIECES = re.compile(f"[^{re.escape(WHITE_SPACE)}]+")

# Few examples: each writes and opens a file, and the suite also runs under AddressSanitizer.
ROUND_TRIPS = settings(max_examples=40, deadline=None,
                       suppress_health_check=[HealthCheck.too_slow])  # fmt: skip
REFUSALS = settings(max_examples=150, deadline=None)

u16 = st.integers(0, 0xFFFF)
groups = st.sampled_from([0x0009, 0x0010, 0x0019]) | u16  # shared groups make near neighbours
texts = st.text(max_size=12)
# ASCII creators with spaces exercise case and spacing; any text exercises the uppercase table.
creators = (
    st.text(string.ascii_letters + string.digits + " _.\t", min_size=1, max_size=16)
    | st.text(min_size=1, max_size=8)
).filter(lambda c: hash_creator(c) != 0)
source_items = st.text(min_size=1, max_size=8).filter(lambda s: "|" not in s)


@st.composite
def entries(draw):
    creator = draw(st.none() | creators)
    block_offset = draw(st.booleans())
    return Entry(
        group=draw(groups),
        element=draw(st.integers(0, 0xFF) if block_offset else u16),
        keyword=draw(texts),
        name=draw(texts),
        vr=draw(st.sampled_from(VR_TEXTS)),
        creator=creator,
        description=draw(st.text(max_size=40)),
        retired=draw(st.booleans()),
        block_offset=block_offset,
        sources=tuple(draw(st.lists(source_items, max_size=3))),
    )


def key(entry):
    return (entry.group, entry.element, hash_creator(entry.creator))


dictionaries = st.lists(entries(), max_size=25, unique_by=key)


def respell(creator, rnd):
    """The same creator with other whitespace runs and ASCII letters in any case."""
    if creator is None:
        return None

    def run(at_least):
        return "".join(rnd.choice(WHITE_SPACE) for _ in range(rnd.randint(at_least, 3)))

    spaced = run(0) + "".join(p + run(1) for p in PIECES.findall(creator)[:-1])
    spaced += (PIECES.findall(creator) or [""])[-1] + run(0)
    return "".join(c.swapcase() if c in string.ascii_letters and rnd.random() < 0.5 else c
                   for c in spaced)  # fmt: skip


def written(entries_):
    """Writes the entries to a temporary file and opens it."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "p.tatl")
        write(path, entries_)
        # The mapping outlives the file's name.
        return tagatlas.open(path)


@ROUND_TRIPS
@given(dictionaries, st.randoms(use_true_random=False))
def test_every_written_entry_is_found(entries_, rnd):
    d = written(entries_)
    assert len(d) == len(entries_)
    for entry in entries_:
        asked = respell(entry.creator, rnd)
        assert d.lookup(entry.group, entry.element, asked) == expected_result(entry), asked


misses = st.tuples(groups, u16, st.none() | creators)


@ROUND_TRIPS
@given(dictionaries, st.lists(misses, max_size=20), st.data())
def test_keys_not_written_are_not_found(entries_, others, data):
    # Near misses too: a written tag with another creator or none, and the neighbouring element.
    for entry in entries_[:5]:
        others.append((entry.group, entry.element, data.draw(st.none() | creators)))
        others.append((entry.group, (entry.element + 1) & 0xFFFF, entry.creator))
    by_key = {key(e): e for e in entries_}
    d = written(entries_)
    for group, element, creator in others:
        found = d.lookup(group, element, creator)
        # Creators are compared by hash only: an equal hash is the same key.
        entry = by_key.get((group, element, hash_creator(creator)))
        assert found == (None if entry is None else expected_result(entry))




def _over_u16(ch, extra):
    """`ch` repeated to just over 65,535 UTF-8 bytes, the limit of a keyword, name or creator."""
    return ch * (65535 // len(ch.encode()) + 1 + extra)


LONG_TEXTS = st.builds(_over_u16, st.sampled_from(["k", "é", "✓", "😀"]), st.integers(0, 3))
not_str = st.integers() | st.binary(max_size=4) | st.just(None) | st.floats(allow_nan=False)
not_int = st.text(max_size=3) | st.floats(allow_nan=False) | st.booleans() | st.just(None)
zero_hash = st.sampled_from(["XAI_P774", "xai_p774", " Xai_P774\t", "\u3000XAI_p774"])


def invalid(field, strategy, **fixed):
    """(field, Entry with `field` drawn from strategy) on an otherwise valid entry."""
    fields = {"group": u16, "element": st.integers(0, 0xFF), **fixed, field: strategy}
    return st.tuples(st.just(field), st.builds(Entry, **fields))


bad_entries = st.one_of(
    invalid("group", st.integers().filter(lambda v: not 0 <= v <= 0xFFFF) | not_int),
    invalid("element", st.integers().filter(lambda v: not 0 <= v <= 0xFFFF) | not_int),
    invalid("element", st.integers(0x100, 0xFFFF), block_offset=st.just(True)),
    invalid("vr", st.text(max_size=3).filter(lambda v: v not in VR_CODES) | not_str),
    invalid("keyword", LONG_TEXTS | not_str),
    invalid("name", LONG_TEXTS | not_str),
    invalid("creator", LONG_TEXTS | st.just("") | zero_hash
            | not_str.filter(lambda v: v is not None)),
    invalid("description", not_str),
    invalid("retired", not_int.filter(lambda v: not isinstance(v, bool))),
    invalid("block_offset", not_int.filter(lambda v: not isinstance(v, bool))),
    invalid("sources", st.text(max_size=3) | st.integers()
            | st.lists(source_items, max_size=2).flatmap(
                lambda items: st.sampled_from([items + [""], items + ["a|b"], items + [7]]))),
)  # fmt: skip


@REFUSALS
@given(st.lists(entries(), max_size=3), bad_entries)
def test_every_invalid_entry_is_refused_by_name_and_field(before, bad):
    field, entry = bad
    try:
        encode([*before, entry], duplicates="first")
    except ValueError as e:
        message = str(e)
    else:
        raise AssertionError(f"{entry!r} was accepted")
    assert re.match(rf"entry {len(before)} \(.*\): {field}\b", message, re.DOTALL), message
