"""tagatlas.datadict against pydicom.datadict: the same answers for every entry pydicom has.

Each parity test asks both modules the same questions and compares outcomes: the value returned, or
the type of the exception raised. The differences that are accepted are sorted by cause and counted,
and the counts are asserted exactly, so that a new difference shows. Where the bundled data is
newer than pydicom 3.0.2's tables, the causes are: the PS3.6 2026c registry; a firm name where
pydicom has a placeholder ("Unknown", "?", ""); GDCM's 2026-06 table where it changed the entry
that pydicom's older copy holds; an exact element of DCMTK or dicom3tools found before pydicom's
block form.
"""

import collections
import functools
import itertools
import json
import math
import pathlib
import re
import zlib

import pytest

import tagatlas
import tatl_layout
from tagatlas import datadict as dd
from tagatlas.description import mask_bits, read_facts
from tagatlas._dicom.tag import tag_value
from tagatlas.description import parse_description
from tagatlas.elements import find_element
from tagatlas.merge import is_firm
from tagatlas.table import read_table
from tagatlas._format.creator import canonicalize_creator
from tagatlas.writer import Entry, write

MANIFEST = pathlib.Path(__file__).resolve().parents[2] / "tools" / "default_dict_inputs.json"

PUBLIC = (
    "get_entry", "dictionary_has_tag", "dictionary_description", "dictionary_VR",
    "dictionary_VM", "dictionary_is_retired", "dictionary_keyword", "keyword_for_tag",
)  # fmt: skip
RAW_INT = ("mask_match", "repeater_has_tag")  # pydicom does bit arithmetic on these, no Tag()
PRIVATE = (
    "get_private_entry", "private_dictionary_VR", "private_dictionary_VM",
    "private_dictionary_description",
)  # fmt: skip


@pytest.fixture(scope="module")
def pd():
    pydicom = pytest.importorskip("pydicom", reason="pip install -r tools/requirements-data.txt")
    pinned = json.loads(MANIFEST.read_text())["pydicom"]
    if pydicom.__version__ != pinned:
        pytest.skip(f"pydicom {pydicom.__version__} installed, the bundled file used {pinned}")
    from pydicom import datadict

    return datadict


@pytest.fixture(scope="module")
def private_tables(pd):
    from pydicom._private_dict import private_dictionaries

    return private_dictionaries


@pytest.fixture(scope="module")
def base_tag(pd):
    from pydicom.tag import BaseTag

    return BaseTag


@pytest.fixture(scope="module")
def bundled():
    return tagatlas.open_default()


@pytest.fixture(autouse=True)
def bundled_without_additions():
    dd.use(keep_additions=False)
    yield
    dd.use(keep_additions=False)


def outcome(function, *args):
    try:
        return ("ok", function(*args))
    except Exception as e:
        return ("raises", type(e))


class Comparison:
    """Asks pydicom and tagatlas the same questions; keeps what differs."""

    def __init__(self, pd):
        self.pd = pd
        self.asked = 0
        self.differences = []

    def check(self, name, *args, pydicom_args=None):
        self.asked += 1
        expected = outcome(getattr(self.pd, name), *(pydicom_args or args))
        got = outcome(getattr(dd, name), *args)
        if expected != got:
            self.differences.append((name, args, expected, got))
        return expected, got


def values(mask):
    """Every 16-bit value matching a 4-digit mask ("60xx"), in ascending order."""
    digits = ("0123456789ABCDEF" if ch == "x" else ch for ch in mask)
    return [int("".join(p), 16) for p in itertools.product(*digits)]


def is_dcmtk_only_public(bundled, tag):
    row = bundled.lookup(tag >> 16, tag & 0xFFFF)
    return row is not None and row["creator"] == "" and row["sources"] == ["dcmtk"]


REGISTRY = "the 2026c registry"


def public_difference(bundled, tag):
    """Why tagatlas answers a public tag otherwise than pydicom, or None if unexplained."""
    row = bundled.lookup(tag >> 16, tag & 0xFFFF)
    if row is None:
        row = bundled.lookup(tag >> 16, 0x0000)  # a repeater found by its mask; the file's row
    if row is not None and row["creator"] == "":
        if "ps3.6" in row["sources"]:
            return REGISTRY
        if row["sources"] == ["dcmtk"]:
            return "DCMTK's tag"
    if dd.mask_match(tag) is not None:
        return REGISTRY  # answered by a 2026c mask entry
    return None


# -- public tags --------------------------------------------------------------------------------


def test_every_public_tag_in_every_form(pd, base_tag, bundled):
    c = Comparison(pd)
    for tag in pd.DicomDictionary:
        for form in (tag, (tag >> 16, tag & 0xFFFF), [tag >> 16, tag & 0xFFFF], f"{tag:08X}",
                     base_tag(tag)):  # fmt: skip
            for name in PUBLIC:
                c.check(name, form)
        for name in RAW_INT:
            c.check(name, tag)
        keyword = pd.DicomDictionary[tag][4]
        c.check("tag_for_keyword", keyword)
        c.check("repeater_has_keyword", keyword)
        c.check("get_entry", keyword)
    tags = collections.Counter()
    for name, (arg,), expected, got in c.differences:
        if isinstance(arg, (tuple, list)):
            tag = arg[0] << 16 | arg[1]
        elif isinstance(arg, str):
            tag = int(arg, 16) if re.fullmatch(r"[0-9A-F]{8}", arg) else pd.tag_for_keyword(arg)
        else:
            tag = int(arg)
        cause = public_difference(bundled, tag)
        assert cause == REGISTRY, (name, arg, expected, got)
        tags[cause, tag] += 1
    kinds = collections.Counter(cause for cause, _ in tags)
    # 2 keywords renamed, 2 retired flags, 4 names, 2 VMs, and blank rows now without a VR
    assert kinds == {REGISTRY: 12}, sorted(tags)
    assert c.asked > 5000 * 45


def test_every_public_entry_of_the_file_and_its_neighbours(pd, bundled):
    """Walks the file's public entries (repeaters expanded) and the tags next to them: the only
    differences are DCMTK's tags, which pydicom does not know."""
    table = read_table()
    c = Comparison(pd)
    tags = [g << 16 | e for h, g, e in zip(table.creator_hashes, table.key_groups,
                                           table.key_elements) if h == 0]  # fmt: skip
    for tag in tags:
        for name in PUBLIC + RAW_INT:
            c.check(name, tag)
    # The tag after each entry and the same tag in an odd group: mostly misses.
    for tag in {t for tag in tags for t in (tag + 1, tag | 0x10000) if t < 2**32} - set(tags):
        for name in ("get_entry", "dictionary_has_tag", "keyword_for_tag"):
            c.check(name, tag)
    extra = collections.Counter()
    changed = set()
    for name, (tag,), expected, got in c.differences:
        pydicom_miss = expected in (("raises", KeyError), ("ok", False), ("ok", ""))
        cause = public_difference(bundled, tag)
        if pydicom_miss and got[0] == "ok" and cause == "DCMTK's tag":
            extra[tag] += 1
        else:
            assert cause == REGISTRY, (name, hex(tag), expected, got)
            changed.add(tag)
    # (0001-0007 odd,0000) IllegalGroupLength; the rest is newer in 2026c than in pydicom.
    assert sorted(extra) == [0x00010000, 0x00030000, 0x00050000, 0x00070000]
    assert set(extra.values()) == {len(PUBLIC)}  # each answered by every function
    assert len(changed) == 188
    assert len(tags) > 14_000


def test_keyword_map_is_pydicoms_plus_dcmtks_keywords(pd):
    ours, theirs = dd.keyword_dict, pd.keyword_dict
    renamed = {k for k in theirs if k not in ours}  # keywords 2026c renamed
    assert sorted(renamed) == ["AnalogFilterType", "SummarizedFilterLookupTable"]
    assert {k: v for k, v in ours.items() if k in theirs} == {
        k: v for k, v in theirs.items() if k not in renamed
    }  # fmt: skip
    new = set(ours) - set(theirs)
    assert "IllegalGroupLength" in new and len(new) == 178
    assert ours[""] == theirs[""] == 0x300A0782  # pydicom maps its nameless entries' ""
    c = Comparison(pd)
    repeater_keywords = [row[4] for row in pd.RepeatersDictionary.values()]
    for keyword in [*(set(theirs) - renamed), *repeater_keywords, "NoSuchKeyword", "patientname"]:
        c.check("tag_for_keyword", keyword)
        c.check("repeater_has_keyword", keyword)
    assert c.differences == []


# -- repeaters ----------------------------------------------------------------------------------


def test_every_repeater_mask(pd):
    """Each mask's tags, odd groups too; a wide mask by its first, last and a spread of tags."""
    c = Comparison(pd)
    for mask, row in pd.RepeatersDictionary.items():
        elements = values(mask[4:])
        tags = [g << 16 | e for g in values(mask[:4]) for e in elements]
        # Both ends of the mask and a spread between them, which alternates group parities.
        tags = sorted(set(tags[:16] + tags[-16:] + tags[:: max(1, len(tags) // 61)]))
        for tag in tags:
            for name in PUBLIC + RAW_INT:
                c.check(name, tag)
        c.check("repeater_has_keyword", row[4])
        c.check("tag_for_keyword", row[4])
    assert c.differences == []
    assert len(pd.RepeatersDictionary) == 88 and c.asked > 88 * 64 * len(PUBLIC + RAW_INT)


@pytest.mark.parametrize(
    "tag, mask, keyword",
    [
        (0x10000010, "1000xxx0", "EscapeTriplet"),  # the file's merged exact entry
        (0x10000020, "1000xxx0", "EscapeTriplet"),  # found through the mask's one entry
        (0x1000FFF5, "1000xxx5", "ShiftTableTriplet"),
        (0x1010ABCD, "1010xxxx", "ZonalMap"),
        (0x60FE3000, "60xx3000", "OverlayData"),
        (0x002031FF, "002031xx", "SourceImageIDs"),
    ],
)
def test_wide_and_expanded_repeaters(tag, mask, keyword):
    assert dd.mask_match(tag) == mask and dd.get_entry(tag)[4] == keyword
    assert not dd.dictionary_has_tag(tag) and dd.tag_for_keyword(keyword) is None
    assert dd.repeater_has_tag(tag) and dd.repeater_has_keyword(keyword)


def test_odd_groups_match_masks_but_are_no_repeaters():
    assert dd.mask_match(0x60FF3000) == "60xx3000" and dd.repeater_has_tag(0x60FF3000)
    with pytest.raises(KeyError):
        dd.get_entry(0x60FF3000)
    assert dd.keyword_for_tag(0x60FF3000) == ""


# -- private tags -------------------------------------------------------------------------------


def respell(creator):
    return "  " + "  ".join(creator.lower().split()) + "\t"


def private_tags(key):
    """The tags a key stands for: full elements in a block, and the block form itself."""
    group, element = key[:4], key[4:]
    groups = values(group) if "x" in group else [int(group, 16)]
    if element.startswith("xx"):
        low = int(element[2:], 16)
        block = 0x10 + zlib.crc32(key.encode()) % 0xF0
        elements = [0x1000 | low, block << 8 | low, low]
    elif "x" in element:
        elements = [int(element[:2], 16) << 8 | 0x10]  # pydicom never reaches these keys
    else:
        elements = [int(element, 16)]
    return [g << 16 | e for g in groups for e in elements]


def row_tuple(row):
    facts = parse_description(row["description"])
    vr = facts.vr if row["vr"] == "??" and facts.vr else row["vr"]
    return (vr, facts.vm, row["name"], "Retired" if row["retired"] else "")


@functools.cache
def gdcm_rows():
    from tagatlas.importers.gdcm import import_gdcm

    path = MANIFEST.parent / "sources" / "gdcm-2026-06" / "gdcmPrivateDefaultDicts.cxx"
    return {(canonicalize_creator(e.creator), e.group, e.element): e
            for e in import_gdcm([path]).entries}  # fmt: skip


def gdcm_answers(creator, group, low, answer, pydicoms):
    """Whether GDCM's own row gives each field of `answer` that differs from pydicom's copy."""
    e = gdcm_rows().get((canonicalize_creator(creator), group, low))
    if e is None:
        return False
    facts = parse_description(e.description)
    vr = facts.vr if e.vr == "??" and facts.vr else e.vr
    return all(a == g for a, p, g in zip(answer, pydicoms, (vr, facts.vm, e.name)) if a != p)


def private_difference(pd, tables, bundled, creator, tag, expected, got):
    """Why tagatlas answers a private question otherwise than pydicom, or None if unexplained."""
    canonical = canonicalize_creator(creator)
    for other in tables:
        if other != creator and canonicalize_creator(other) == canonical:
            if got == outcome(pd.get_private_entry, tag, other):
                return "creator spelled twice: the file holds the other spelling's entry"
    group, element = tag >> 16, tag & 0xFFFF
    # An even group is answered by the mask of the odd group's entry, as pydicom matches masks.
    found = find_element(bundled, group, element, creator) or find_element(
        bundled, group | 1, element, creator
    )  # fmt: skip
    row = found.entry if found else None
    if row and not row["block_offset"] and "pydicom" not in row["sources"]:
        if got == ("ok", row_tuple(row)):
            return "an exact element before pydicom's block form"
    if row and got == ("ok", row_tuple(row)) and expected[0] == "ok":
        if is_firm(row["name"]) and not is_firm(expected[1][2]):
            return "a firm name where pydicom has a placeholder"
        if "gdcm" in row["sources"] and gdcm_answers(creator, row["group"], element & 0xFF, got[1], expected[1]):
            return "GDCM 2026-06 where it corrects pydicom's older copy"
    rows = tables[creator]
    low = f"{group:04X}00{element & 0xFF:02X}", f"{group:04X}xx{element & 0xFF:02X}"
    if all(k in rows for k in low) and got == ("raises", KeyError):
        return "pydicom has the exact element and the block form at one key; the file the exact"
    return None


def test_every_private_entry(pd, private_tables, bundled):
    """Every (creator, key) of pydicom: each tag as a file carries it and in its block form, with
    the creator as pydicom spells it and respelled in another case and spacing."""
    c = Comparison(pd)
    for creator, rows in private_tables.items():
        for key in rows:
            for tag in private_tags(key):
                names = PRIVATE if tag & 0xFF00 == 0x1000 else PRIVATE[:1]
                for name in names:
                    c.check(name, tag, creator)
                    c.check(name, tag, respell(creator), pydicom_args=(tag, creator))
    respelled = {respell(creator): creator for creator in private_tables}
    entry_differences = {args for name, args, _, _ in c.differences if name == PRIVATE[0]}
    causes = collections.Counter()
    unexplained = []
    for name, (tag, creator), expected, got in c.differences:
        if name != PRIVATE[0]:
            # The other functions give a field of get_private_entry's answer.
            assert (tag, creator) in entry_differences
            continue
        original = respelled.get(creator, creator)
        cause = private_difference(pd, private_tables, bundled, original, tag, expected, got)
        if cause is None:
            unexplained.append((hex(tag), creator, expected, got))
        causes[cause, "as spelled" if creator == original else "respelled"] += 1
    assert unexplained == []
    twice = "creator spelled twice: the file holds the other spelling's entry"
    exact = "an exact element before pydicom's block form"
    firm = "a firm name where pydicom has a placeholder"
    gdcm = "GDCM 2026-06 where it corrects pydicom's older copy"
    assert dict(causes) == {
        (twice, "as spelled"): 9, (twice, "respelled"): 3,
        (exact, "as spelled"): 66, (exact, "respelled"): 66,
        (firm, "as spelled"): 1641, (firm, "respelled"): 1644,
        (gdcm, "as spelled"): 854, (gdcm, "respelled"): 857,
    }  # fmt: skip
    assert c.asked > 100_000


def test_private_entries_pydicom_lacks(pd, private_tables, bundled):
    """The file's private entries, asked as a file carries them: pydicom misses the other sources'
    entries, and its own "gggg00ee" keys, which its lookup never reaches."""
    table = read_table()
    causes = collections.Counter()
    for group, element, creator, block, sources in zip(
        table.groups, table.elements, table.creators, table.block_offset, table.sources
    ):
        if not creator:
            continue
        tag = group << 16 | (0x1000 | element if block else element)
        expected = outcome(pd.get_private_entry, tag, creator)
        got = outcome(dd.get_private_entry, tag, creator)
        if expected == got:
            continue
        if expected == ("raises", KeyError) and got[0] == "ok":
            if "pydicom" in sources:  # a "gggg00ee" key of pydicom's, unreachable there
                causes["pydicom's own entry, reachable as a block offset"] += 1
            else:
                causes["pydicom misses, tagatlas answers with another source's entry"] += 1
        else:
            cause = private_difference(pd, private_tables, bundled, creator, tag, expected, got)
            assert cause is not None, (hex(tag), creator, expected, got)
            causes[cause] += 1
    assert dict(causes) == {
        "pydicom misses, tagatlas answers with another source's entry": 2735,
        "pydicom's own entry, reachable as a block offset": 1886,
        "an exact element before pydicom's block form": 158,
        "a firm name where pydicom has a placeholder": 378,
        "GDCM 2026-06 where it corrects pydicom's older copy": 249,
    }


def test_colliding_creators_are_told_apart(tmp_path):
    # Two creators whose canonical forms share one 32-bit hash (see test_elements.py).
    path = tmp_path / "acme.tatl"
    write(path, [Entry(0x0031, 0x10, "Thing", "Acme Thing", "UL", creator="ACME 462789",
                       block_offset=True)])  # fmt: skip
    dd.use(path)
    assert dd.get_private_entry(0x00311010, "acme  462789") == ("UL", "", "Acme Thing", "")
    with pytest.raises(KeyError):
        dd.get_private_entry(0x00311010, "ACME 679192")
    assert tagatlas.open(path).lookup(0x0031, 0x10, "ACME 679192") is not None  # same hash


# -- arguments ----------------------------------------------------------------------------------

BAD_TAGS = [
    -1, 2**32, 2**32 - 1, (1, 2, 3), (), [0x10], (0x10, "10"), ("10", 0x10), ("zz", "10"),
    ("10000", "0"), (0x10000, 0), (0, 0x10000), (-1, 0), (0, -1), (1.0, 16), (True, 16),
    "ACE", "0x00100010", "", " 10 ", "1_0", "-10", "+10", "1" * 9, "NoSuchKeyword", "OverlayData",
    "patientname", None, 1.5, 16.0, math.nan, math.inf, -math.inf, b"10", object(), True, {},
]  # fmt: skip


def tag_id(tag):
    # Not the object's repr: its address differs between processes, as pytest-xdist's workers.
    return "object()" if type(tag) is object else repr(tag)


@pytest.mark.parametrize("tag", BAD_TAGS, ids=tag_id)
def test_odd_and_bad_tags_answer_as_in_pydicom(pd, tag):
    c = Comparison(pd)
    for name in PUBLIC + RAW_INT:
        c.check(name, tag)
    for name in PRIVATE:
        c.check(name, tag, "GEMS_ACQU_01")
    assert c.differences == []


def test_exception_messages_differ_only_for_refused_tags(pd):
    """Types match (above); the texts differ where Tag() refuses an argument, and only there."""

    def message(function, *args):
        try:
            function(*args)
        except Exception as e:
            return type(e), str(e)
        return None

    differ, same = collections.Counter(), collections.Counter()
    for tag in BAD_TAGS:
        questions = [(name, (tag,)) for name in PUBLIC + RAW_INT]
        questions += [(name, (tag, "GEMS_ACQU_01")) for name in PRIVATE]
        for name, args in questions:
            expected = message(getattr(pd, name), *args)
            if expected is not None:
                counter = same if message(getattr(dd, name), *args) == expected else differ
                counter[expected[0].__name__] += 1
    assert dict(differ) == {"ValueError": 121, "OverflowError": 66, "TypeError": 33}
    # KeyError texts are pydicom's; the others are Python's own (comparing, bit operations, int()).
    assert dict(same) == {"KeyError": 62, "TypeError": 110, "ValueError": 22}


@pytest.mark.parametrize("tag", [0x00100010, "PatientName", "ACE", "", (1, 2), 2.5, 0xFFFFFFFF])
def test_tag_value_matches_pydicoms_tag(pd, tag):
    from pydicom.tag import Tag

    assert tag_value(tag, pd.keyword_dict.get) == Tag(tag)


@pytest.mark.parametrize("creator", [None, 5, "", "   ", "\ud800", "GEMS_ACQU_01\x00", ("GEMS",)])
def test_odd_creators_miss_as_in_pydicom(pd, creator):
    c = Comparison(pd)
    for name in PRIVATE:
        c.check(name, 0x00191012, creator)
    assert c.differences == []


def test_unhashable_creator_warns_and_misses(pd):
    for module in (pd, dd):
        with pytest.warns(UserWarning, match="not a valid private creator"):
            with pytest.raises(KeyError):
                module.get_private_entry(0x00191012, ["GEMS_ACQU_01"])


def test_exception_messages_name_the_tag(pd):
    for module in (pd, dd):
        with pytest.raises(KeyError, match=re.escape("Tag (0010,9999) not found")):
            module.get_entry(0x00109999)
        with pytest.raises(KeyError, match=re.escape("Tag '(0019,10FE)' not in private")):
            module.get_private_entry(0x001910FE, "GEMS_ACQU_01")


# -- additions ----------------------------------------------------------------------------------


@pytest.fixture
def pydicom_restored(pd, private_tables):
    saved = dict(pd.DicomDictionary), dict(pd.keyword_dict)
    saved_private = {creator: dict(rows) for creator, rows in private_tables.items()}
    yield
    pd.DicomDictionary.clear()
    pd.DicomDictionary.update(saved[0])
    pd.keyword_dict.clear()
    pd.keyword_dict.update(saved[1])
    private_tables.clear()
    private_tables.update(saved_private)


def exact_private_key(private_tables):
    """A creator with an exact element above 0xFF, and the key of that element."""
    for creator, rows in private_tables.items():
        for key in rows:
            if "x" not in key and int(key[4:], 16) > 0xFF and int(key[:4], 16) % 2:
                return creator, key
    raise AssertionError("no exact private element")


def test_additions_answer_as_in_pydicom(pd, private_tables, pydicom_restored):
    exact_creator, exact_key = exact_private_key(private_tables)
    exact_tag = int(exact_key, 16)
    steps = [
        ("add_dict_entry", (0x10021001, "UL", "TestOne", "Test One")),
        ("add_dict_entry", (0x10021002, "DS", "TestTwo", "Test Two", "3", "Retired")),
        ("add_dict_entry", (0x00100010, "LO", "PatientNameNew", "New Name")),  # replaces
        ("add_dict_entry", (0x60003000, "OW", "MyOverlay", "My Overlay")),  # over a repeater
        ("add_dict_entries", ({0x00091001: ("UL", "1", "Private", "", "Private")},)),
        ("add_dict_entries", ({"16": ("UL", "1", "Sixteen", "", "Sixteen")},)),
        ("add_private_dict_entry", ("ACME 1.0", 0x00411001, "US", "Test Three")),
        ("add_private_dict_entries", ("ACME 1.0", {0x00410002: ("DS", "3", "Four", "")})),
        ("add_private_dict_entry", ("GEMS_ACQU_01", 0x00191012, "UL", "Replaced")),
        ("add_private_dict_entry", (exact_creator, exact_tag, "UT", "Below the exact")),
        ("add_private_dict_entry", ("ACME 1.0", 0x00100010, "US", "Public")),
        ("add_private_dict_entry", ("ACME 1.0", "00411003", "US", "Str")),
        ("add_private_dict_entries", (["not hashable"], {0x00411004: ("US", "1", "X", "")})),
    ]
    c = Comparison(pd)
    for name, args in steps:
        c.check(name, *args)
    for tag in (0x10021001, 0x10021002, 0x00100010, 0x60003000, 0x60023000, 16, "TestOne",
                "PatientNameNew", "PatientName", "MyOverlay", "Sixteen"):  # fmt: skip
        for name in PUBLIC:
            c.check(name, tag)
    for keyword in ("TestOne", "TestTwo", "PatientName", "PatientNameNew", "MyOverlay"):
        c.check("tag_for_keyword", keyword)
    for tag, creator in [
        (0x00411001, "ACME 1.0"), (0x00412001, "ACME 1.0"), (0x00410001, "ACME 1.0"),
        (0x00411002, "ACME 1.0"), (0x00411003, "ACME 1.0"), (0x00191012, "GEMS_ACQU_01"),
        (0x00192012, "GEMS_ACQU_01"), (exact_tag, exact_creator),
        (exact_tag & 0xFFFF00FF | 0x2000, exact_creator),
    ]:  # fmt: skip
        for name in PRIVATE:
            c.check(name, tag, creator)
    assert c.differences == []
    assert dd.keyword_dict["TestOne"] == 0x10021001 and dd.keyword_dict["PatientName"] == 0x00100010
    # tagatlas matches the added creator in any spelling, as it matches the file's.
    assert dd.private_dictionary_description(0x00411001, " acme  1.0") == "Test Three"


def test_additions_survive_use_unless_dropped(tmp_path):
    keywords = dd.keyword_dict
    dd.add_dict_entry(0x10021001, "UL", "TestOne", "Test One")
    dd.add_private_dict_entry("ACME 1.0", 0x00411001, "US", "Test Three")
    path = tmp_path / "small.tatl"
    write(path, [Entry(0x0010, 0x0010, "Name", "A Name", "PN", description="VM 1")])
    dd.use(path)
    assert dd.keyword_dict is keywords and keywords == {"Name": 0x00100010, "TestOne": 0x10021001}
    assert dd.get_entry("TestOne")[2] == "Test One" and dd.get_entry(0x00100010)[4] == "Name"
    assert dd.get_private_entry(0x00411001, "ACME 1.0")[2] == "Test Three"
    dd.use(path, keep_additions=False)
    assert keywords == {"Name": 0x00100010}
    with pytest.raises(KeyError):
        dd.get_private_entry(0x00411001, "ACME 1.0")


def test_refused_additions_add_nothing(pd, pydicom_restored):
    c = Comparison(pd)
    public = {0x10021001: ("UL", "1", "A", "", "A"), 0x00091001: ("UL", "1", "B", "", "B")}
    private = {0x00091001: ("UL", "1", "C", ""), 0x00100010: ("UL", "1", "D", "")}
    assert c.check("add_dict_entries", public)[1] == ("raises", ValueError)
    assert c.check("add_private_dict_entries", "ACME", private)[1] == ("raises", ValueError)
    assert c.check("get_entry", 0x10021001)[1] == ("raises", KeyError)
    assert c.check("tag_for_keyword", "A")[1] == ("ok", None)
    assert c.check("get_private_entry", 0x00091001, "ACME")[1] == ("raises", KeyError)
    assert c.differences == []


# -- choosing the dictionary --------------------------------------------------------------------

SMALL = [
    Entry(0x0010, 0x0010, "Name", "A Name", "PN", description="VM 1"),
    Entry(0x0018, 0x0010, "Choice", "A Choice", "??", description="VM 1-n; VR US or SS"),
    Entry(0x5000, 0x0005, "Curve", "A Curve", "US", description="VM 1; mask 50xx0005",
          retired=True),
    Entry(0x5002, 0x0005, "Curve", "A Curve", "US", description="VM 1; mask 50xx0005",
          retired=True),
    Entry(0x1000, 0x0000, "Wide", "A Wide One", "US", description="VM 3; mask 1000xxx0"),
    Entry(0x0019, 0x12, "", "Vendor Thing", "SS", creator="VENDOR", block_offset=True,
          description="VM 2"),
    Entry(0x0021, 0x01, "", "Masked", "??", creator="VENDOR", block_offset=True,
          description="VM 1; VR OB or OW; mask 20xxxx01"),
]  # fmt: skip


@pytest.fixture
def small(tmp_path):
    path = tmp_path / "small.tatl"
    write(path, SMALL)
    return path


def test_use_answers_from_the_chosen_file_then_the_bundled_one(small):
    dd.use(small)
    assert dd.get_entry(0x00100010) == ("PN", "1", "A Name", "", "Name")
    assert dd.get_entry("00180010") == ("US or SS", "1-n", "A Choice", "", "Choice")
    assert dd.dictionary_is_retired(0x50020005) and not dd.dictionary_has_tag(0x50020005)
    assert dd.mask_match(0x50FF0005) == "50xx0005" and dd.mask_match(0x10000230) == "1000xxx0"
    assert dd.get_entry(0x10000230) == ("US", "3", "A Wide One", "", "Wide")
    assert dd.keyword_dict == {"Name": 0x00100010, "Choice": 0x00180010}
    assert dd.repeater_has_keyword("Curve") and not dd.repeater_has_keyword("Name")
    assert dd.get_private_entry(0x00193412, "vendor") == ("SS", "2", "Vendor Thing", "")
    # "ggxxxxee" stands for even groups too, as pydicom matches it.
    assert dd.get_private_entry(0x00201001, "VENDOR") == ("OB or OW", "1", "Masked", "")
    assert dd.get_private_entry(0x00211001, "VENDOR")[2] == "Masked"
    for miss in (0x00080016, 0x00101010):
        with pytest.raises(KeyError):
            dd.get_entry(miss)
    with pytest.raises(ValueError):
        dd.get_entry("PatientName")
    dd.use()
    assert dd.get_entry("PatientName")[4] == "PatientName"
    assert dd.get_entry(0x10000230)[4] == "EscapeTriplet"


def test_use_keeps_the_current_dictionary_on_failure(tmp_path):
    dd.use()
    keywords = dict(dd.keyword_dict)
    bad = tmp_path / "bad.tatl"
    bad.write_bytes(b"not a dictionary" * 4)
    for path, error in ((bad, OSError), (tmp_path / "missing.tatl", OSError)):
        with pytest.raises(error):
            dd.use(path)
    assert dd.keyword_dict == keywords and dd.get_entry(0x00100010)[4] == "PatientName"


def test_threads_never_see_a_stale_or_torn_answer(small):
    """Lookups in threads while the dictionary is switched back and forth: each answer is one
    file's, and once the switching ends no answer cached from the other file remains."""
    import threading

    answers = {("PN", "1", "A Name", "", "Name"), ("PN", "1", "Patient's Name", "", "PatientName")}
    stop = threading.Event()
    wrong = []

    def ask():
        while not stop.is_set():
            entry = dd.get_entry(0x00100010)
            tag = dd.tag_for_keyword(entry[4])
            if entry not in answers or tag not in (0x00100010, None):
                wrong.append((entry, tag))

    dd.tag_for_keyword("Name")  # the keyword map is read, and refilled by each use()
    threads = [threading.Thread(target=ask) for _ in range(3)]
    for t in threads:
        t.start()
    for _ in range(15):
        dd.use(small)
        dd.use()
    stop.set()
    for t in threads:
        t.join()
    assert wrong == []
    assert dd.get_entry(0x00100010)[4] == dd.keyword_for_tag("PatientName") == "PatientName"


# -- the facts line -----------------------------------------------------------------------------

# (description, (vm, vr, mask, text)): what the facts line means, edge cases included.
FACTS = [
    ("", ("", None, None, "")),
    ("VM", ("", None, None, "")),
    ("VM ", ("", None, None, "")),
    ("VM 1-n", ("1-n", None, None, "")),
    ("VM 1; VR US or SS", ("1", "US or SS", None, "")),
    ("VM; VR X", ("", "X", None, "")),
    ("VM 1; VR ", ("", None, None, "VM 1; VR ")),
    ("VM 1; VR OB or OW; mask 60xx3000\ntext", ("1", "OB or OW", "60xx3000", "text")),
    ("VM 1; mask 60XX3000", ("", None, None, "VM 1; mask 60XX3000")),
    ("VM 1; mask 60xx300", ("", None, None, "VM 1; mask 60xx300")),
    ("VM 1; mask 60xx30000", ("", None, None, "VM 1; mask 60xx30000")),
    ("VM 1; VR a; VR b", ("", None, None, "VM 1; VR a; VR b")),
    ("VM 1;VR x", ("", None, None, "VM 1;VR x")),
    ("VMx", ("", None, None, "VMx")),
    ("vm 1", ("", None, None, "vm 1")),
    ("VM 1 ; VR x", ("1 ", "x", None, "")),
    ("Text; mask 60xx3000", ("", None, None, "Text; mask 60xx3000")),
    ("VM 1; VR x; mask 60xx3000; more", ("", None, None, "VM 1; VR x; mask 60xx3000; more")),
    ("VM 1\r", ("1\r", None, None, "")),
    ("VM\t1", ("", None, None, "VM\t1")),
    ("\nVM 1", ("", None, None, "\nVM 1")),
    ("VM 1; mask 0000000x\n\n", ("1", None, "0000000x", "\n")),
]  # fmt: skip


@pytest.mark.parametrize("text, parts", FACTS, ids=[repr(t) for t, _ in FACTS])
def test_facts_line(text, parts):
    assert tuple(parse_description(text)) == parts
    assert read_facts(text) == parts[:3]


@pytest.mark.parametrize("mask", ["60xx3000", "1000xxx0", "002031xx", "7Fxx0010"])
def test_mask_bits_match_pydicoms(pd, mask):
    assert mask_bits(mask) == pd.masks[mask]


# -- files a writer would not produce, which open ------------------------------------------------


def swap_records(data, i, j):
    # Records i and j trade places and the index follows them: lookups answer as before.
    start = tatl_layout.root(data)[3]
    a, b = start + 44 * i, start + 44 * j
    data[a : a + 44], data[b : b + 44] = data[b : b + 44], data[a : a + 44]
    tatl_layout.patch_index(data, i, record_index=j)
    tatl_layout.patch_index(data, j, record_index=i)


def prefix_description(data, masked, plain):
    # The plain entry reads its "VM 1" from the start of the masked entry's "VM 1; mask ...".
    offset = tatl_layout.read_record(data, masked, "description_offset")
    tatl_layout.patch_record(data, plain, description_offset=offset, description_len=4)


@pytest.mark.parametrize(
    "edit", [lambda d: swap_records(d, 0, 3), lambda d: prefix_description(d, 5, 0)],
    ids=["records out of index order", "two descriptions at one offset"],
)
def test_keywords_and_masks_read_as_lookups_read(write_dict, edit):
    dd.use(write_dict(SMALL))
    expected = dict(dd.keyword_dict), dd.mask_match(0x50FE0005), dd.get_entry(0x10000230)
    dd.use(write_dict(SMALL, edit=edit))
    assert (dict(dd.keyword_dict), dd.mask_match(0x50FE0005), dd.get_entry(0x10000230)) == expected
