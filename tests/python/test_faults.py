"""Internal faults: damaged references met during a lookup raise PanicException, which ordinary
`except Exception` handlers do not catch, and the Dict stays usable."""

import os
import subprocess
import sys
import textwrap

import pytest

import tagatlas
import tatl_layout as layout
from tagatlas.writer import Entry
from stand_ins import FsPathError, RaisingIndex

ENTRIES = [
    Entry(0x0008, 0x0020, "StudyDate", "Study Date", "DA", description="Date."),
    Entry(0x0010, 0x0010, "PatientName", "Patient's Name", "PN", description="Name."),
    Entry(0x0010, 0x0020, "PatientID", "Patient ID", "LO"),
]


def bad_record_index(data):
    layout.patch_index(data, 1, record_index=3)


def bad_keyword_start(data):
    layout.patch_record(data, 1, keyword_offset=layout.pool_len(data) + 1)


def keyword_at_pool_end(data):
    layout.patch_record(data, 1, keyword_offset=layout.pool_len(data), keyword_len=0)


def bad_description_end(data):
    offset = layout.read_record(data, 1, "description_offset")
    layout.patch_record(data, 1, description_len=layout.pool_len(data) - offset + 1)


def bad_keyword_and_description(data):
    bad_description_end(data)
    bad_keyword_start(data)


def bad_sources_end(data):
    layout.patch_record(data, 1, sources_offset=0, sources_len=0xFFFF_FFFF)


def bad_creator_start(data):
    layout.patch_record(data, 1, creator_offset=0xFFFF_FFFF, creator_len=1)


def fault_text(data, damage):
    pool = layout.pool_len(data)
    return {
        bad_record_index: "index out of bounds: the len is 3 but the index is 3",
        bad_keyword_start: f"range start index {pool + 1} out of range for slice of length {pool}",
        bad_description_end: f"range end index {pool + 1} out of range for slice of length {pool}",
        bad_keyword_and_description:
            f"range start index {pool + 1} out of range for slice of length {pool}",
        bad_sources_end: f"range end index {0xFFFF_FFFF} out of range for slice of length {pool}",
        bad_creator_start:
            f"range start index {0xFFFF_FFFF} out of range for slice of length {pool}",
    }[damage]  # fmt: skip


@pytest.mark.parametrize(
    "damage",
    [bad_record_index, bad_keyword_start, bad_description_end, bad_keyword_and_description,
     bad_sources_end, bad_creator_start],
)  # fmt: skip
def test_damaged_reference_raises_panic(write_dict, damage):
    path = write_dict(ENTRIES, edit=damage)
    d = tagatlas.open(path)  # such damage passes validation
    with pytest.raises(tagatlas.PanicException) as info:
        d.lookup(0x0010, 0x0010)
    assert info.value.args == (fault_text(bytearray(path.read_bytes()), damage),)
    # Other entries, and the damaged one again, behave as before.
    assert d.lookup(0x0010, 0x0020)["keyword"] == "PatientID"
    assert d.lookup(0x0008, 0x0020)["keyword"] == "StudyDate"
    with pytest.raises(tagatlas.PanicException):
        d.lookup(0x0010, 0x0010)
    assert len(d) == 3


def test_empty_text_at_the_pool_end_is_no_fault(write_dict):
    d = tagatlas.open(write_dict(ENTRIES, edit=keyword_at_pool_end))
    assert d.lookup(0x0010, 0x0010)["keyword"] == ""


def test_except_exception_does_not_catch_panic(write_dict):
    d = tagatlas.open(write_dict(ENTRIES, edit=bad_record_index))
    caught_by = None
    try:
        try:
            d.lookup(0x0010, 0x0010)
        except Exception:
            caught_by = "Exception"
    except BaseException as e:
        caught_by = type(e)
    assert caught_by is tagatlas.PanicException


def test_panic_class():
    cls = tagatlas.PanicException
    assert cls.__name__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert not issubclass(cls, Exception)
    assert "BaseException" in cls.__doc__ and "SystemExit" in cls.__doc__
    assert not hasattr(tagatlas._tagatlas, "PanicException")


def test_panic_from_python_code_is_reported_and_raised_anew(capsys, sample):
    original = tagatlas.PanicException("raised by Python code")
    with pytest.raises(tagatlas.PanicException) as info:
        tagatlas.open(FsPathError(original))
    assert info.value is not original
    assert info.value.args == ("raised by Python code",)
    # It is not treated like a conversion error: no note is added to either exception.
    assert not hasattr(info.value, "__notes__") and not hasattr(original, "__notes__")
    err = capsys.readouterr().err
    assert "Traceback (most recent call last)" in err
    assert "__fspath__" in err
    assert "PanicException: raised by Python code" in err

    with pytest.raises(tagatlas.PanicException) as info:
        sample.lookup(RaisingIndex(tagatlas.PanicException("again")), 0)
    assert info.value.args == ("again",)
    assert "PanicException: again" in capsys.readouterr().err


@pytest.mark.parametrize("text", ["", "with\0nul", "lone \udcff surrogate", "caf\u00e9"])
def test_resumed_panic_keeps_its_text(capsys, text):
    with pytest.raises(tagatlas.PanicException) as info:
        tagatlas.open(FsPathError(tagatlas.PanicException(text)))
    assert info.value.args == (text,)
    capsys.readouterr()


def test_resumed_panic_subclass_is_raised_as_panic(capsys):
    class Custom(tagatlas.PanicException):
        def __str__(self):
            return "custom text"

    with pytest.raises(tagatlas.PanicException) as info:
        tagatlas.open(FsPathError(Custom()))
    assert type(info.value) is tagatlas.PanicException
    assert info.value.args == ("custom text",)
    capsys.readouterr()


def run_python(code):
    env = dict(os.environ)
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True, text=True, env=env, timeout=60,
    )  # fmt: skip


def test_uncaught_panic_ends_the_interpreter(write_dict):
    path = write_dict(ENTRIES, edit=bad_record_index)
    done = run_python(f"""
        import tagatlas
        d = tagatlas.open({str(path)!r})
        try:
            d.lookup(0x0010, 0x0010)
        except Exception:
            print("caught")
    """)
    assert done.returncode == 1
    assert "caught" not in done.stdout
    assert done.stderr.rstrip().endswith(
        "tagatlas.PanicException: index out of bounds: the len is 3 but the index is 3")


def test_panic_class_is_created_once_under_contention(write_dict):
    # Eight threads meet the first fault of the process at the same moment.
    path = write_dict(ENTRIES, edit=bad_record_index)
    done = run_python(f"""
        import threading
        from tagatlas import _tagatlas
        d = _tagatlas.open({str(path)!r})
        barrier = threading.Barrier(8)
        seen = []
        def fault():
            barrier.wait()
            try:
                d.lookup(0x0010, 0x0010)
            except BaseException as e:
                seen.append(type(e))
        threads = [threading.Thread(target=fault) for _ in range(8)]
        for t in threads: t.start()
        for t in threads: t.join()
        import tagatlas
        print(len(seen), len(set(map(id, seen))), seen[0] is tagatlas.PanicException)
    """)
    assert done.stdout.split() == ["8", "1", "True"], done.stderr
