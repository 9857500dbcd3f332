"""Conversion of lookup's arguments: the interpreter's own exceptions, the range rule, the creator
type check, and exactly one note naming the parameter that failed."""

import pytest
from stand_ins import Index, RaisingIndex

OUT_OF_RANGE = "out of range integral type conversion attempted"


class Outer:
    class Inner:
        pass


# (group, element, creator, exception class, message, parameter named by the note)
FAILURES = [
    (-1, 0x10, None, OverflowError, OUT_OF_RANGE, "group"),
    (65536, 0x10, None, OverflowError, OUT_OF_RANGE, "group"),
    (0x10, 70000, None, OverflowError, OUT_OF_RANGE, "element"),
    (0x10, -1, None, OverflowError, OUT_OF_RANGE, "element"),
    (-1, 70000, None, OverflowError, OUT_OF_RANGE, "group"),
    (Index(-5), 0x10, None, OverflowError, OUT_OF_RANGE, "group"),
    (2**63, 0x10, None, OverflowError, "Python int too large to convert to C long", "group"),
    (0x10, -(2**70), None, OverflowError, "Python int too large to convert to C long", "element"),
    (1.0, 0x10, None, TypeError, "'float' object cannot be interpreted as an integer", "group"),
    ("16", 0x10, None, TypeError, "'str' object cannot be interpreted as an integer", "group"),
    (None, 0x10, None, TypeError, "'NoneType' object cannot be interpreted as an integer", "group"),
    (0x10, 0x10, b"ACME", TypeError, "'bytes' object is not an instance of 'str'", "creator"),
    (0x10, 0x10, 7, TypeError, "'int' object is not an instance of 'str'", "creator"),
    (0x10, 0x10, Outer.Inner(), TypeError,
     "'Outer.Inner' object is not an instance of 'str'", "creator"),
    # group is converted first, element second, creator last
    (-1, 0x10, b"ACME", OverflowError, OUT_OF_RANGE, "group"),
    (0x10, 1.5, b"ACME", TypeError, "'float' object cannot be interpreted as an integer",
     "element"),
]  # fmt: skip


@pytest.mark.parametrize("group, element, creator, cls, message, parameter", FAILURES)
def test_conversion_failure(sample, group, element, creator, cls, message, parameter):
    with pytest.raises(BaseException) as info:
        sample.lookup(group, element, creator)
    assert type(info.value) is cls
    assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{parameter}'"]


def test_unencodable_creator_keeps_the_interpreters_error(sample):
    with pytest.raises(UnicodeEncodeError) as info:
        sample.lookup(0x0029, 0x10, "Acme\udcffCT")
    assert info.value.reason == "surrogates not allowed"
    assert info.value.__notes__ == ["while processing 'creator'"]


def test_exception_from_index_is_the_same_object_with_one_more_note(sample):
    error = ValueError("from __index__")
    error.add_note("earlier note")
    with pytest.raises(ValueError) as info:
        sample.lookup(0x10, RaisingIndex(error))
    assert info.value is error
    assert error.args == ("from __index__",)
    assert error.__notes__ == ["earlier note", "while processing 'element'"]


def test_note_is_added_through_the_exceptions_own_add_note(sample):
    class Recording(Exception):
        def add_note(self, note):
            self.seen = getattr(self, "seen", []) + [note]

    error = Recording("x")
    with pytest.raises(Recording):
        sample.lookup(RaisingIndex(error), 0x10)
    assert error.seen == ["while processing 'group'"]


def test_failing_add_note_is_ignored(sample):
    class Stubborn(Exception):
        def add_note(self, note):
            raise RuntimeError("no notes here")

    error = Stubborn("original")
    with pytest.raises(Stubborn) as info:
        sample.lookup(RaisingIndex(error), 0x10)
    assert info.value is error
    assert info.value.__context__ is None
    assert not hasattr(error, "__notes__")


@pytest.mark.parametrize(
    "group, element, expected",
    [(Index(0x0010), Index(0x0010), "PatientName"),
     (0, 0, "CommandGroupLength"), (65535, 65535, "LastTag"), (0xFFFF, 0, None)],
)  # fmt: skip
def test_valid_numbers(sample, group, element, expected):
    result = sample.lookup(group, element)
    assert (result and result["keyword"]) == expected


def test_bool_counts_as_its_integer(write_dict):
    import tagatlas
    from tagatlas.writer import Entry

    d = tagatlas.open(write_dict([Entry(1, 0, "One")]))
    assert d.lookup(True, False)["keyword"] == "One"


def test_str_subclass_is_accepted_as_creator(sample):
    class Creator(str):
        pass

    assert sample.lookup(0x0029, 0x10, Creator("acme ct"))["keyword"] == "AcmeBlockThing"


def test_no_creator_forms_are_the_same_query(sample):
    expected = sample.lookup(0x0010, 0x0010)
    assert sample.lookup(0x0010, 0x0010, None) == expected
    assert sample.lookup(group=0x0010, element=0x0010, creator=None) == expected
