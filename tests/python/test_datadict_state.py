"""tagatlas.datadict's process-wide state: changes are whole, damaged files are refused before they
are used, and lookups in other threads see either the dictionary before a change or the one after."""

import subprocess
import sys
import textwrap
import threading

import pytest

import tatl_layout as layout
from tagatlas import datadict as dd
from tagatlas.writer import Entry, write


@pytest.fixture(autouse=True)
def bundled_again():
    yield
    dd.use(keep_additions=False)


# Both files hold PatientName at (0010,0010), under different names.
OTHER = [
    Entry(0x0008, 0x0020, "StudyDate", "Day", "DA", description="VM 1"),
    Entry(0x0010, 0x0010, "PatientName", "Other Name", "PN", description="VM 1"),
]


def test_lookups_during_changes_answer_from_one_dictionary(tmp_path):
    other = tmp_path / "other.tatl"
    write(other, OTHER)
    names = {"Patient's Name", "Other Name"}
    previous = sys.getswitchinterval()
    stop = threading.Event()
    wrong = []

    def ask():
        while not stop.is_set():
            tag = dd.tag_for_keyword("PatientName")
            entry = dd.get_entry("PatientName")
            has = dd.dictionary_has_tag("PatientName")
            added = dd.get_entry(0x10021001)
            if tag != 0x00100010 or entry[2] not in names or not has or added[4] != "TestOne":
                wrong.append((tag, entry, has, added))

    dd.add_dict_entry(0x10021001, "UL", "TestOne", "Test One")
    dd.keyword_dict  # handed out: each change brings it in step
    threads = [threading.Thread(target=ask) for _ in range(3)]
    sys.setswitchinterval(1e-5)
    try:
        for t in threads:
            t.start()
        for n in range(20):
            dd.use(other)
            dd.add_dict_entry(0x10021001, "UL", "TestOne", "Test One")
            dd.add_private_dict_entry("ACME", 0x00411001, "US", f"Thing {n}")
            dd.use()
    finally:
        stop.set()
        for t in threads:
            t.join()
        sys.setswitchinterval(previous)
    assert wrong[:3] == []
    assert dd.keyword_dict["PatientName"] == 0x00100010 and "TestOne" in dd.keyword_dict


ENTRIES = [
    Entry(0x0008, 0x0020, "StudyDate", "Study Date", "DA", description="VM 1"),
    Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN", description="VM 1"),
    Entry(0x0010, 0x0020, "PatientID", "Patient ID", "LO", description="VM 1"),
]


def bad_keyword(data):
    layout.patch_record(data, 1, keyword_offset=layout.pool_len(data) + 1)


def bad_name(data):
    layout.patch_record(data, 1, name_offset=layout.pool_len(data) - 1, name_len=9)


def bad_sources(data):
    layout.patch_record(data, 1, sources_offset=0, sources_len=0xFFFF_FFFF)


USE_DAMAGED = textwrap.dedent("""
    import sys
    from tagatlas import datadict as dd
    if sys.argv[2] == "keywords read":
        dd.keyword_dict
    try:
        dd.use(sys.argv[1])
    except Exception as e:
        print(type(e).__name__)
    print(dd.get_entry(0x00100010)[2], dd.dictionary_has_tag(0x00100010),
          dd.tag_for_keyword("PatientName") == 0x00100010)
""")


@pytest.mark.parametrize("damage", [bad_keyword, bad_name, bad_sources])
@pytest.mark.parametrize("before", ["keywords read", "nothing read"])
def test_use_refuses_a_damaged_dictionary_whatever_was_read(write_dict, damage, before):
    # A fresh interpreter, so that what was read before is the case's, not the suite's.
    path = write_dict(ENTRIES, edit=damage)
    run = subprocess.run(
        [sys.executable, "-c", USE_DAMAGED, str(path), before],
        capture_output=True, text=True, timeout=120,
    )  # fmt: skip
    assert run.stderr == ""
    assert run.stdout.splitlines() == ["DamagedDictionaryError", "Patient's Name True True"]


GOOD = (0x10021001, ("UL", "1", "Good One", "", "GoodOne"))


@pytest.mark.parametrize(
    "call, args, error",
    [
        ("add_dict_entries", ({GOOD[0]: GOOD[1], 0x10021002: ("UL", "1")},), IndexError),
        ("add_dict_entries", ({GOOD[0]: GOOD[1], 0x10021002: None},), TypeError),
        ("add_dict_entries", ({GOOD[0]: GOOD[1], 0x10021002: ("UL",) * 4 + ([],)},), TypeError),
        ("add_private_dict_entries", ("ACME", {0x00411001: ("US", "1", "A", ""),
                                               0x00411002 + 0.5: ("US", "1", "B", "")}), TypeError),
    ],
    ids=["short entry", "no entry", "unhashable keyword", "float tag"],
)  # fmt: skip
def test_a_refused_addition_adds_nothing(call, args, error):
    keywords = dict(dd.keyword_dict)
    with pytest.raises(error):
        getattr(dd, call)(*args)
    with pytest.raises(KeyError):
        dd.get_entry(GOOD[0])
    with pytest.raises(KeyError):
        dd.get_private_entry(0x00411001, "ACME")
    assert dd.tag_for_keyword("GoodOne") is None and dd.keyword_dict == keywords
    dd.add_dict_entries(dict([GOOD]))
    assert dd.get_entry("GoodOne") == GOOD[1]


@pytest.mark.parametrize(
    "call, args",
    [("get_entry", (0x00100010,)), ("get_private_entry", (0x00191012, "GEMS_ACQU_01"))],
)
def test_a_complex_tag_is_refused_also_once_its_int_is_cached(call, args):
    pydicom = pytest.importorskip("pydicom.datadict")
    ask = getattr(dd, call)
    tag, rest = args[0], args[1:]
    for module in (pydicom, dd):
        with pytest.raises(TypeError):
            getattr(module, call)(complex(tag, 0), *rest)
    assert ask(tag, *rest) == ask(float(tag), *rest)  # cached now, under the int
    with pytest.raises(TypeError):
        ask(complex(tag, 0), *rest)


def test_dictionary_has_tag_never_raises_also_when_the_file_changes_under_it(write_dict):
    path = write_dict(ENTRIES)
    dd.use(path)
    assert dd.dictionary_has_tag(0x00100010)
    data = bytearray(path.read_bytes())
    bad_keyword(data)
    with open(path, "r+b") as f:  # in place: the mapping of the file in use sees it
        f.write(data)
    assert dd.dictionary_has_tag(0x00100010) is False
    assert dd.dictionary_has_tag(0x00100020) is True
