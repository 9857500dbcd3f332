"""tagatlas.deid: the profile's action per element, with options, masks, the private rule."""

import pytest

import tagatlas
from tagatlas import deid
from tagatlas.deid_facts import add_deid_facts
from tagatlas.description import read_deid
from tagatlas.writer import Entry, write

PET = "Philips PET Private Group"  # (7053,xx00) and (7053,xx09) are safe
GE = "GEMS_ACQU_01"  # (0019,xx23) Table Speed is safe, (0019,xx02) is not
SAFE = ("retain-safe-private",)

# (group, element, creator, options, action) in the bundled dictionary.
CASES = [
    (0x0010, 0x0010, None, (), "Z"),
    (0x0010, 0x0040, None, ("retain-patient-characteristics",), "K"),
    (0x0010, 0x0040, None, ("retain-uids",), "Z"),
    (0x0008, 0x0020, None, ("retain-longitudinal-modified-dates",), "C"),
    (0x0008, 0x0020, None, ("retain-longitudinal-full-dates", "clean-descriptors"), "K"),
    (0x0018, 0x1000, None, ("retain-device-identity",), "K"),
    (0x0040, 0x0555, None, (), "X/Z"),
    (0x0008, 0x0016, None, SAFE, None),  # SOP Class UID: not listed, kept
    (0x0010, 0x0010, "ANY CREATOR", (), "Z"),  # a creator means nothing to a public tag
    # masks, with and without an entry at the tag
    (0x6002, 0x3000, None, (), "X"),
    (0x6002, 0x3000, None, ("clean-graphics",), "C"),
    (0x601E, 0x4000, None, (), "X"),
    (0x5010, 0x0005, None, (), "X"),
    (0x5004, 0x7777, None, ("clean-graphics",), "C"),
    (0x6001, 0x3000, None, (), "X"),  # an odd group is private, not the mask's
    # private elements, in any creator spelling
    (0x7053, 0x1000, PET, (), "X"),
    (0x7053, 0x1000, PET, SAFE, "K"),
    (0x7053, 0x1109, "philips pet private group", SAFE, "K"),
    (0x7053, 0x1009, "  PHILIPS PET PRIVATE GROUP  ", SAFE, "K"),
    (0x0019, 0x1023, GE.lower(), SAFE, "K"),
    (0x0019, 0x1002, GE, SAFE, "X"),
    (0x0019, 0x1023, "NOT A CREATOR", SAFE, "X"),
    (0x0019, 0x1023, None, SAFE, "X"),  # no creator element for the block
    (0x0019, 0x0001, GE, SAFE, "X"),  # outside every block
    (0x0019, 0x0000, None, SAFE, "X"),  # a private group length
    # creator elements
    (0x7053, 0x0010, PET, (), "X"),
    (0x7053, 0x0010, PET.upper(), SAFE, "K"),
    (0x0019, 0x0011, GE, SAFE, "K"),
    (0x0019, 0x0012, "NOBODY", SAFE, "X"),
    (0x0019, 0x0013, None, SAFE, "X"),
]  # fmt: skip


@pytest.mark.parametrize("group, element, creator, options, expected", CASES)
def test_action_in_the_bundled_dictionary(group, element, creator, options, expected):
    assert deid.action(group, element, creator, options=options) == expected


@pytest.mark.parametrize(
    "options, words",
    [
        (["retain-everything"], "unknown de-identification option 'retain-everything'"),
        (["retain-longitudinal-full-dates", "retain-longitudinal-modified-dates"], "169"),
        (["retain-device-identity", "retain-longitudinal-modified-dates"], "11"),
    ],
)
def test_options_that_cannot_be_applied(options, words):
    with pytest.raises(ValueError, match=words):
        deid.action(0x0010, 0x0010, options=options)


def test_options_is_not_one_string():
    with pytest.raises(TypeError):
        deid.action(0x0010, 0x0010, options="retain-uids")


ENTRIES = [
    Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN", description="VM 1\nName."),
    Entry(0x0010, 0x0040, "PatientSex", "Patient's Sex", "CS", description="VM 1"),
    Entry(0x6000, 0x3000, "OverlayData", "Overlay Data", "??",
          description="VM 1; VR OB or OW; mask 60xx3000"),
    Entry(0x7053, 0x00, "SUVFactor", "SUV Factor", "DS", creator=PET, block_offset=True),
    Entry(0x7053, 0x01, "Other", "Other", "DS", creator=PET, block_offset=True),
]  # fmt: skip


def test_a_built_dictionary_carries_the_facts(tmp_path):
    entries, report = add_deid_facts(ENTRIES)
    assert (report.listed, report.masked, report.safe) == (2, 1, 1)
    assert [read_deid(e.description) for e in entries] == [
        ("Z", ()),
        ("Z", (("retain-patient-characteristics", "K"),)),
        ("X", (("clean-graphics", "C"),)),
        ("X", (("retain-safe-private", "K"),)),
        None,
    ]
    assert entries[0].description.endswith("\nName.")  # the text stays
    path = tmp_path / "facts.tatl"
    write(path, entries)
    for dictionary in (path, tagatlas.open(path)):
        assert deid.has_facts(dictionary)
        assert deid.action(0x7053, 0x1000, PET, options=SAFE, dictionary=dictionary) == "K"
        assert deid.action(0x7053, 0x1001, PET, options=SAFE, dictionary=dictionary) == "X"
        assert deid.action(0x7053, 0x0010, PET, options=SAFE, dictionary=dictionary) == "K"


def test_a_dictionary_without_facts_answers_none(tmp_path):
    path = tmp_path / "plain.tatl"
    write(path, ENTRIES)
    assert not deid.has_facts(path)
    for group, element, creator in [(0x0010, 0x0010, None), (0x7053, 0x1000, PET),
                                    (0x6002, 0x3000, None), (0x0019, 0x1002, "X")]:  # fmt: skip
        assert deid.action(group, element, creator, options=SAFE, dictionary=path) is None


def test_the_bundled_dictionary_has_facts():
    assert deid.has_facts()
    assert set(deid.CODES) >= {"X", "Z", "D", "K", "C", "U", "X/Z/U*"}
    assert len(deid.OPTIONS) == 10


# (facts line, read_deid, read_facts): the de-identification facts after the other facts.
FACTS_LINES = [
    ("VM 1; deid Z", ("Z", ()), ("1", None, None)),
    ("VM 1; deid X/Z/U*; clean-descriptors C", ("X/Z/U*", (("clean-descriptors", "C"),)),
     ("1", None, None)),
    ("VM 1; VR OB or OW; mask 60xx3000; deid X; clean-graphics C\ntext",
     ("X", (("clean-graphics", "C"),)), ("1", "OB or OW", "60xx3000")),
    ("VM 1; deid X; retain-safe-private K; guess", ("X", (("retain-safe-private", "K"),)),
     ("1", None, None)),
    ("VM; deid K", ("K", ()), ("", None, None)),
    ("VM 1", None, ("1", None, None)),
    # not facts lines: descriptive text
    ("VM 1; deid ", None, ("", None, None)),
    ("VM 1; deid z", None, ("", None, None)),
    ("VM 1; deid X; clean-graphics", None, ("", None, None)),
    ("VM 1; deid X; Clean C", None, ("", None, None)),
    ("VM 1; deid X; clean-graphics C;", None, ("", None, None)),
    ("VM 1; deid X; mask 60xx3000", None, ("", None, None)),
]  # fmt: skip


@pytest.mark.parametrize("line, facts, others", FACTS_LINES, ids=[f[0] for f in FACTS_LINES])
def test_facts_line(line, facts, others):
    from tagatlas.description import format_description, parse_description, read_facts

    assert read_deid(line) == facts
    assert read_facts(line) == others
    if facts is not None:
        vm, vr, mask, text = parse_description(line)
        guess = line.partition("\n")[0].endswith("; guess")
        assert format_description(vm, vr, mask, text, guess, deid=facts) == line


@pytest.mark.parametrize("facts", [("", ()), ("x", ()), ("X", (("a b", "K"),)), ("X", (("ok", ""),))])
def test_facts_that_would_not_read_back_are_refused(facts):
    from tagatlas.description import format_description

    with pytest.raises(ValueError, match="deid"):
        format_description("1", deid=facts)
